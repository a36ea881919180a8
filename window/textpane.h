#ifndef GPSA_TEXTPANE_H
#define GPSA_TEXTPANE_H

#include <QPlainTextEdit>
#include <QStringList>

#include <optional>

class QTimer;

// The most characters a pane keeps. A flood of tracker data would otherwise grow the data
// pane until memory runs out and the run is lost; a normal day of tracker traffic shows
// 1 to 6 million characters, well below it. The capture files keep every byte whatever
// the pane drops.
inline constexpr qsizetype PaneCharacterLimit = 16 * 1024 * 1024;

// A dark, editable, wrapping text pane that grows by whole lines at one end or the other.
// Adding a line costs in proportion to the line, not to the pane's text.
//
// Line ends: the pane holds lines, not line-end characters. CR LF, a lone CR and a lone LF
// each end a line, and text() gives every line end as a single LF. So after
// prependLine(line) the text is plainText(line + old text), where old text is what the pane
// held, operator-typed text included. toPlainText() gives the same text except that it
// shows a no-break space (byte 160 of a chunk) as a blank; text() keeps it.
//
// When an addition would take the text past the character limit, the oldest lines go
// first, at the end named by dropEnd, in blocks of a sixteenth of the limit, so that the
// dropping too costs in proportion to what was added. A single addition longer than the
// limit keeps its first limit characters.
//
// Below the newest TopBlocks lines, lines are held up to GroupLines to a block, joined by line
// separators, so that a pane of a million lines has some eight thousand blocks and adding a
// line at the top costs about what it costs in a pane of a thousand. The newest lines stay one
// to a block, so that a line added at the top lays out only itself.
//
// Lines join the text FlushIntervalMs after the first of them came (longer after taking in
// many took long), all those that came meanwhile at once, so that a handler that adds them does
// not wait for their layout and a flood is laid out and painted a few times a second; text()
// and characterCount() take them in first. A line longer than LineBlock characters is held in blocks of that
// length, so that only the part of it in view is laid out; text() gives it whole.
class TextPane final : public QPlainTextEdit
{
    Q_OBJECT

public:
    enum class DropEnd { Top, Bottom };
    enum class End { Top, Bottom };

    explicit TextPane(DropEnd dropEnd, qsizetype characterLimit = PaneCharacterLimit, QWidget *parent = nullptr);

    void prependLine(const QString &line);
    void appendLine(const QString &line);
    // A chunk's pane line, put on top: the timestamp, the tag and the chunk's ASCII rendering
    // (every NUL a blank) or its hexadecimal one, and CR LF. It is rendered only when it joins
    // the text, and not at all when newer lines push it out before that.
    enum class Rendering { Ascii, Hex };
    void prependChunkLine(const QString &timestamp, QLatin1StringView tag, const QByteArray &chunk, Rendering rendering);
    void replaceText(const QString &text);

    // The pane's text, every line end a single LF; non-breaking spaces stay as they are.
    [[nodiscard]] QString text() const;
    [[nodiscard]] qsizetype characterCount() const;
    [[nodiscard]] DropEnd dropEnd() const { return m_dropEnd; }

    // text as the pane would show it: every CR LF, lone CR and lone LF as one LF.
    [[nodiscard]] static QString plainText(const QString &text);

    // Takes in the lines that wait for the next turn of the event loop.
    void flushPending();

    static constexpr qsizetype LineBlock = 4096;
    static constexpr int FlushIntervalMs = 50;
    static constexpr int TopBlocks = 256;
    static constexpr int GroupLines = 128;

private:
    // A line that waits: a text, or a chunk's line still to be rendered.
    struct Pending
    {
        End end;
        QString text; // the text, or the timestamp and tag of a chunk's line
        QByteArray chunk;
        std::optional<Rendering> rendering;
        [[nodiscard]] qsizetype length() const;
    };
    void add(Pending line);
    // Lines as they will stand, top first, in at one end.
    void insert(End end, const QList<const Pending *> &lines);
    // The characters of the document, what waits to join it left out.
    [[nodiscard]] qsizetype storedCharacters() const;
    // Makes room for an addition of length characters; returns how much of it may stay.
    qsizetype makeRoom(qsizetype length);
    void dropCharacters(qsizetype count);
    // Joins the single lines pushed down past the newest by newBlocks new blocks on top.
    void groupPushedLines(int newBlocks);
    // Joins the count blocks from the one numbered first into as few as LineBlock allows;
    // returns how many are left of them.
    int joinBlocks(int first, int count);

    DropEnd m_dropEnd;
    qsizetype m_characterLimit;
    // Lines that wait to join the text, in the order they came, and their length when all of
    // them go on top.
    QList<Pending> m_pending;
    qsizetype m_pendingOnTop = 0;
    // Blocks of single lines below the newest TopBlocks, not yet joined.
    int m_singleLines = 0;
    QTimer *m_flushTimer;
};

#endif
