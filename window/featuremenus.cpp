#include "featuremenus.h"

#include <QActionGroup>
#include <QMenuBar>

namespace {

QAction *switchOf(QMenu *menu, const QString &text, bool on = false)
{
    QAction *action = menu->addAction(text);
    action->setCheckable(true);
    action->setChecked(on);
    return action;
}

} // namespace

FeatureMenus::FeatureMenus(QWidget *window) : QObject(window), m_menuBar(new QMenuBar(window))
{
    QMenu *file = m_menuBar->addMenu(tr("&File"));
    exportSession = file->addAction(tr("&Export session to Wireshark…"));
    openCaptureFolder = file->addAction(tr("&Open capture folder"));
    shareLiveView = file->addAction(tr("Share &live view…"));
    sessionIndex = switchOf(file, tr("Keep session &index"));
    file->addSeparator();
    quit = file->addAction(tr("&Quit"));

    QMenu *capture = m_menuBar->addMenu(tr("&Capture"));
    passAnswers = switchOf(capture, tr("&Pass server answers to the tracker"));
    alsoUdp = switchOf(capture, tr("Also listen on &UDP"));
    capture->addSeparator();
    trackersAtOnce = capture->addAction(QString());
    mirrorTo = capture->addAction(QString());
    setMaxTrackers(1);
    setMirrors({});

    QMenu *protocol = m_menuBar->addMenu(tr("&Protocol"));
    protocols = new QActionGroup(this);
    protocols->addAction(switchOf(protocol, tr("&Off"), true));
    protocols->addAction(switchOf(protocol, tr("&Auto-detect")))->setData(QStringLiteral("auto"));
    for (const TrackerProtocol each : AllTrackerProtocols)
        protocols->addAction(switchOf(protocol, protocolName(each)))->setData(protocolName(each));
    protocol->addSeparator();
    acknowledge = switchOf(protocol, tr("Acknowledge like a &server"));
    decode = switchOf(protocol, tr("&Decode frames"));

    QMenu *view = m_menuBar->addMenu(tr("&View"));
    positions = view->addAction(tr("&Positions"));
    showTrackers = view->addAction(tr("&Trackers"));

    QMenu *command = m_menuBar->addMenu(tr("C&ommand"));
    buildFrame = command->addAction(tr("&Build frame…"));
    appendCrLf = switchOf(command, tr("Append &CR LF"), true);

    QMenu *help = m_menuBar->addMenu(tr("&Help"));
    about = help->addAction(tr("&About"));
}

CaptureFeatures FeatureMenus::features() const
{
    CaptureFeatures features;
    features.sessionIndex = sessionIndex->isChecked();
    features.passAnswers = passAnswers->isChecked();
    const QAction *chosen = protocols->checkedAction();
    if (chosen != nullptr && chosen->data().isValid())
        features.protocol = protocolChoiceFromName(chosen->data().toString());
    features.acknowledge = acknowledge->isChecked();
    features.decode = decode->isChecked();
    features.appendCrLf = appendCrLf->isChecked();
    features.maxTrackers = m_maxTrackers;
    features.mirrors = m_mirrors;
    features.udp = alsoUdp->isChecked();
    features.udpIdleSeconds = m_udpIdleSeconds;
    return features;
}

void FeatureMenus::setFeatures(const CaptureFeatures &features)
{
    sessionIndex->setChecked(features.sessionIndex);
    passAnswers->setChecked(features.passAnswers);
    for (QAction *action : protocols->actions()) {
        const QString name = action->data().toString();
        action->setChecked(features.protocol ? protocolChoiceFromName(name) == features.protocol : name.isEmpty());
    }
    acknowledge->setChecked(features.acknowledge);
    decode->setChecked(features.decode);
    appendCrLf->setChecked(features.appendCrLf);
    setMaxTrackers(features.maxTrackers);
    setMirrors(features.mirrors);
    alsoUdp->setChecked(features.udp);
    m_udpIdleSeconds = features.udpIdleSeconds;
}

void FeatureMenus::setMaxTrackers(int trackers)
{
    m_maxTrackers = trackers;
    trackersAtOnce->setText(trackers == 1 ? tr("&Trackers at once…") : tr("&Trackers at once (%1)…").arg(trackers));
}

void FeatureMenus::setMirrors(const QStringList &mirrors)
{
    m_mirrors = mirrors;
    mirrorTo->setText(mirrors.isEmpty() ? tr("&Mirror to…")
                                        : tr("&Mirror to %1…").arg(mirrors.join(QStringLiteral(", "))));
}

void FeatureMenus::freeze()
{
    // The command stays the operator's to change while capturing, CR LF with it.
    for (QAction *fixed : {sessionIndex, passAnswers, alsoUdp, acknowledge, decode, trackersAtOnce, mirrorTo})
        fixed->setEnabled(false);
    protocols->setEnabled(false);
}
