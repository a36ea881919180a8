#include "enginerig.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>

EngineRig::EngineRig(Relay relay, quint16 port) : inPort(LoopbackSocket::freePort())
{
    controls.texts[Control::InPort] = QString::number(inPort);
    if (relay == Relay::Off)
        return;
    if (relay == Relay::ToOwnServer) {
        out = std::make_unique<FakeOutServer>();
        port = out->port();
    }
    outPort = port;
    controls.texts[Control::OutPort] = QString::number(outPort);
    controls.values[Control::RelaySwitch] = CheckValue::Ticked;
}

namespace {

struct KeptEvents final : SessionRecorder
{
    KeptEvents(QList<SessionEvent> &kept, std::function<void(const SessionEvent &)> then)
        : events(kept), onEvent(std::move(then))
    {
    }
    void record(const SessionEvent &event) override
    {
        events.append(event);
        if (onEvent)
            onEvent(event);
    }
    QList<SessionEvent> &events;
    std::function<void(const SessionEvent &)> onEvent;
};

} // namespace

void EngineRig::keepEvents(std::function<void(const SessionEvent &)> onEvent)
{
    controls.switches.sessionIndex = true;
    engine.setRecorderFactory(
        [this, onEvent](const QString &) { return std::make_unique<KeptEvents>(events, onEvent); });
}

QString kinds(const QList<SessionEvent> &events)
{
    static const char *const names[] = {"listen", "connect", "declined",   "in",       "out",
                                        "cmd",    "ack",     "pass",       "error",    "disconnect",
                                        "mirror", "udp-peer", "udp-quiet"};
    QStringList list;
    for (const SessionEvent &event : events)
        list.append(QLatin1StringView(names[int(event.kind)]));
    return list.join(QLatin1Char(' '));
}

void EngineRig::start()
{
    engine.Form_Load();
    engine.Command1_Click();
}

std::unique_ptr<QTcpSocket> EngineRig::connectTracker()
{
    const qsizetype before = controls.log.count(QStringLiteral(" connected.\r\n"));
    auto tracker = std::make_unique<QTcpSocket>();
    tracker->connectToHost(QHostAddress::LocalHost, inPort);
    if (!tracker->waitForConnected(5000))
        return nullptr;
    const QDeadlineTimer deadline(10000);
    while (controls.log.count(QStringLiteral(" connected.\r\n")) == before && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return tracker;
}

bool EngineRig::sendChunk(QTcpSocket &tracker, const QByteArray &chunk)
{
    const qint32 next = engine.state().CaptureCounter + 1;
    tracker.write(chunk);
    tracker.flush();
    const QDeadlineTimer deadline(10000);
    while (engine.state().CaptureCounter < next && !engine.hasEnded() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return engine.state().CaptureCounter == next;
}

QString EngineRig::name(qint32 number, int port, const char *extension)
{
    return QStringLiteral("x%1_%2.%3").arg(number, 4, 10, QLatin1Char('0')).arg(port).arg(QLatin1StringView(extension));
}

QByteArray EngineRig::file(const QString &name) const
{
    QFile f(folder.filePath(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
