#ifndef GPSA_FEATUREMENUS_H
#define GPSA_FEATUREMENUS_H

#include "capturefeatures.h"

#include <QObject>

class QAction;
class QActionGroup;
class QMenuBar;
class QWidget;

// The menu bar above the window's controls: the switches of the features beyond them, which
// are fixed once capturing starts, and the window's commands (export, the capture folder, the
// positions, the live view, the frame builder, about). Every switch is off at first, Append CR
// LF on.
class FeatureMenus final : public QObject
{
    Q_OBJECT

public:
    explicit FeatureMenus(QWidget *window);

    [[nodiscard]] QMenuBar *menuBar() const { return m_menuBar; }
    [[nodiscard]] CaptureFeatures features() const;
    // Sets every switch as the features say (the command line's presets).
    void setFeatures(const CaptureFeatures &features);
    // Capturing has started: the switches that the start fixed can no longer change.
    void freeze();

    // The settings that the Capture menu's dialogs choose; each shows in its entry's text.
    void setMaxTrackers(int trackers);
    void setMirrors(const QStringList &mirrors);

    QAction *exportSession = nullptr;
    QAction *openCaptureFolder = nullptr;
    QAction *shareLiveView = nullptr;
    QAction *sessionIndex = nullptr;
    QAction *quit = nullptr;
    QAction *passAnswers = nullptr;
    QAction *alsoUdp = nullptr;
    QAction *trackersAtOnce = nullptr; // sets maxTrackers
    QAction *mirrorTo = nullptr;       // sets mirrors
    QAction *showTrackers = nullptr;
    QActionGroup *protocols = nullptr; // Off first, then Auto-detect, then each protocol
    QAction *acknowledge = nullptr;
    QAction *decode = nullptr;
    QAction *positions = nullptr;
    QAction *buildFrame = nullptr;
    QAction *appendCrLf = nullptr;
    QAction *about = nullptr;

private:
    QMenuBar *m_menuBar;
    int m_maxTrackers = 1;
    QStringList m_mirrors;
    int m_udpIdleSeconds = CaptureFeatures().udpIdleSeconds; // the command line's alone
};

#endif
