#ifndef GPSA_HEADLESSFRONTEND_H
#define GPSA_HEADLESSFRONTEND_H

#include "commandline.h"
#include "controls.h"
#include "globalmodule.h"
#include "lineoutput.h"
#include "panewatcher.h"

#include <QMap>
#include <QObject>
#include <QString>

#include <memory>

class CaptureEngine;
class SocketsLibrary;

// The operator's controls without a window: the texts and values are plain data preset from
// the command line, every line that the engine adds to either pane goes to standard output
// as it enters its pane, and messages go to standard error. It links no widget code.
//
// Standard output is written out once per event, not line by line, and keeps nothing:
// memory stays flat however long the run.
class HeadlessFrontEnd final : public QObject, public Controls
{
    Q_OBJECT

public:
    // sockets: the host's sockets library, through which the local address is found.
    HeadlessFrontEnd(const Options &options, SocketsLibrary &sockets, QObject *parent = nullptr);
    ~HeadlessFrontEnd() override;

    // The window's start, then the start button at once: the capture state at load, the
    // local address on standard error (its problems as status lines on standard output),
    // the start of capture.
    void start();

    void flush();

    // The live view's hook: every pane line goes to the watcher too, as it goes to standard
    // output. Null: none.
    void setPaneWatcher(PaneWatcher *watcher) { m_paneWatcher = watcher; }
    [[nodiscard]] CaptureEngine &engine() const { return *m_engine; }

    [[nodiscard]] QString text(Control control) const override { return m_texts.value(control); }
    [[nodiscard]] int value(Control checkBox) const override { return m_values.value(checkBox); }
    void setValue(Control checkBox, int value) override { m_values[checkBox] = value; }
    // Nothing can be changed without a window, so nothing needs disabling.
    void setEnabled(Control /*control*/, bool /*enabled*/) override {}
    void appendToLog(const QString &line) override { writePaneText(line, &PaneWatcher::appendToLog); }
    void prependToLog(const QString &line) override { writePaneText(line, &PaneWatcher::prependToLog); }
    void replaceLog(const QString &text) override { writePaneText(text, &PaneWatcher::replaceLog); }
    void prependToDataPane(const QString &line) override { writePaneText(line, &PaneWatcher::prependToDataPane); }
    // Rendered straight into the UTF-8 of standard output, with no line of text between.
    void prependChunkLines(QLatin1StringView asciiTag, QLatin1StringView hexTag, const QByteArray &chunk) override;
    void prependDecodedLines(const QByteArray &lines) override;
    void positionsDecoded(std::span<const PositionRow> rows) override;
    void messageBox(const QString &prompt, int style, const QString &title) override;
    void reportError(int number, const QString &description) override;
    // Ends the event loop with the status Failure: the window ends the program only after
    // a message or an error report.
    void endProgram() override;
    // Each event's lines go out together once its handler has run, so that a pipe sees them
    // at once without a write per line.
    void eventHandled() override;
    [[nodiscard]] CaptureFeatures features() const override { return m_features; }

private:
    // A pane's text on standard output, and the same call on the watcher.
    void writePaneText(const QString &text, void (PaneWatcher::*watch)(const QString &));
    void writeMessage(const QString &line);

    QMap<Control, QString> m_texts;
    QMap<Control, int> m_values;
    CaptureFeatures m_features;
    LineOutput m_output;
    LineOutput m_errors;
    PaneWatcher *m_paneWatcher = nullptr;
    GLOBALModule m_globalModule;
    // Last, so that it goes first: its endpoints may still report while they close.
    std::unique_ptr<CaptureEngine> m_engine;
};

#endif
