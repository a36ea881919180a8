#ifndef GPSA_CONTROLS_H
#define GPSA_CONTROLS_H

#include "capturefeatures.h"
#include "positionrecorder.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <span>

// The operator's controls that the capture engine reads and writes, named for what each holds.
// The window implements them with widgets (and alone knows which widget is which), the headless
// front end with plain values and standard output, tests with a fake.
enum class Control {
    StartButton,
    ConnectionLog,
    InPort,
    DataPane,
    Command,
    OutPort,
    OutHost,
    SendOnConnect, // "Enable Send Immediate": the armed command goes out as a tracker connects
    AutoSend,      // arms the command for one send
    RelaySwitch,
    CommandType, // "ASCII", or any other text for comma-separated hex bytes
};

// Check box values: the engine's tests are always for exactly Ticked.
namespace CheckValue {
inline constexpr int Clear = 0;
inline constexpr int Ticked = 1;
inline constexpr int Grayed = 2;
} // namespace CheckValue

// Message box style: the critical icon with a single OK button.
inline constexpr int vbCritical = 16;

class Controls
{
public:
    virtual ~Controls() = default;

    // The text of a text box, a pane or the command type.
    [[nodiscard]] virtual QString text(Control control) const = 0;
    // The value of a check box: SendOnConnect, AutoSend or RelaySwitch.
    [[nodiscard]] virtual int value(Control checkBox) const = 0;
    virtual void setValue(Control checkBox, int value) = 0;
    virtual void setEnabled(Control control, bool enabled) = 0;

    // The connection log: lines appended at its end by the engine, status lines put at
    // its top, and the whole text replaced by the status writer.
    virtual void appendToLog(const QString &line) = 0;
    virtual void prependToLog(const QString &line) = 0;
    virtual void replaceLog(const QString &text) = 0;

    // The data pane: every line goes before the old text, operator-typed text included.
    virtual void prependToDataPane(const QString &line) = 0;
    // The two lines of a chunk, the ASCII line first, each with the current timestamp and its
    // tag; rendered as prependToDataPane() lines unless a front end renders them straight
    // from the bytes. A tag that names a tracker goes with its connection: it is valid during
    // the call only.
    virtual void prependChunkLines(QLatin1StringView asciiTag, QLatin1StringView hexTag, const QByteArray &chunk);

    // The lines of a chunk's decoded frames: UTF-8, each a tag (": POS: ", ": DEC: "), its text
    // and CR LF; each goes before the old text with the current timestamp before its tag,
    // rendered as prependToDataPane() lines unless a front end writes them straight.
    virtual void prependDecodedLines(const QByteArray &lines);
    // Those lines as the data pane takes them, each with the timestamp before its tag.
    [[nodiscard]] static QStringList decodedPaneLines(const QString &timestamp, const QByteArray &lines);
    // The positions of a chunk's decoded frames, for a front end that shows them.
    virtual void positionsDecoded(std::span<const PositionRow> /*rows*/) {}

    // A modal message; returns when the operator has dismissed it.
    virtual void messageBox(const QString &prompt, int style, const QString &title) = 0;
    // Reports an error that no error region covered, with its number and description.
    virtual void reportError(int number, const QString &description) = 0;
    // Ends the program once the current handler has returned; the engine handles no further
    // event after asking for it.
    virtual void endProgram() = 0;

    // Called once each handler of the engine has run to its end, its lines all written: the
    // place to flush what a front end has buffered.
    virtual void eventHandled() {}

    // The switches of the features beyond the window's controls, read when capturing starts.
    [[nodiscard]] virtual CaptureFeatures features() const { return {}; }
};

#endif
