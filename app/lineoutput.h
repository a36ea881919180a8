#ifndef GPSA_LINEOUTPUT_H
#define GPSA_LINEOUTPUT_H

#include <QByteArray>
#include <QString>

// Text written to a file descriptor (standard output or standard error) as UTF-8, gathered
// and written out by flush(). When the descriptor is a terminal, control characters are
// masked (terminalSafe()), so that bytes from a tracker cannot drive the operator's
// terminal; into a pipe or a file every character goes out exactly.
class LineOutput final
{
public:
    explicit LineOutput(int descriptor);
    LineOutput(const LineOutput &) = delete;
    LineOutput &operator=(const LineOutput &) = delete;
    ~LineOutput();

    // Adds the text as it is: line ends are the caller's.
    void write(const QString &text);
    // Adds a chunk's pane line rendered straight from its bytes into UTF-8: the timestamp, the
    // tag, the chunk's ASCII rendering (byte value = character code, NUL a blank) or its
    // hexadecimal one (two characters per byte), and CR LF.
    enum class Rendering { Ascii, Hex };
    void writeChunkLine(const QString &timestamp, QLatin1StringView tag, const QByteArray &chunk, Rendering rendering);
    // Adds UTF-8 lines, each ending with its line end, with the timestamp before each; on a
    // terminal their control characters other than CR and LF are masked.
    void writeLines(const QString &timestamp, const QByteArray &lines);
    // Writes out everything gathered, waiting for a slow reader. On a failed descriptor the
    // text is dropped, so that memory stays bounded.
    void flush();

    [[nodiscard]] bool isTerminal() const { return m_terminal; }

    // Gathered text past this size is written out at once, whatever the caller's rhythm.
    static constexpr qsizetype FlushThreshold = 1 << 20;

private:
    int m_descriptor;
    bool m_terminal;
    QByteArray m_buffer;
};

// The text with every control character other than TAB, CR and LF (C0, DEL and C1, ESC
// above all) replaced by '.'; every other character stays.
[[nodiscard]] QString terminalSafe(QString text);

#endif
