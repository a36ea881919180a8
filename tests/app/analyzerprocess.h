#ifndef GPSA_ANALYZERPROCESS_H
#define GPSA_ANALYZERPROCESS_H

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

// The real gps-analyzer program as a child process, in an environment with no display,
// keeping everything it writes to standard output and standard error.
class AnalyzerProcess final
{
public:
    AnalyzerProcess();
    ~AnalyzerProcess();

    // Lets the program show its window on the offscreen platform.
    void useOffscreenWindow();
    // Starts the program with exactly these arguments.
    void start(const QStringList &arguments);
    // Sets up the child just before it runs the program, such as another standard output.
    void setChildModifier(const std::function<void()> &modifier) { m_process.setChildProcessModifier(modifier); }

    [[nodiscard]] QByteArray output();
    [[nodiscard]] QByteArray errors();
    // Standard output decoded from UTF-8, with the timestamp at the start of each line removed.
    [[nodiscard]] QString paneText();
    // The number of lines of standard output that begin with a timestamp.
    [[nodiscard]] int timestampedLines();

    // Spins the event loop until standard output holds the text, or the time is up.
    [[nodiscard]] bool waitForOutput(const QByteArray &text, int timeoutMs = 30000);
    // Waits for the end of the program; false if it is still running when the time is up.
    [[nodiscard]] bool waitForExit(int timeoutMs = 30000);
    [[nodiscard]] bool crashed() const { return m_process.exitStatus() == QProcess::CrashExit; }
    [[nodiscard]] int exitCode() const { return m_process.exitCode(); }
    [[nodiscard]] qint64 processId() const { return m_process.processId(); }
    void sendSignal(int signalNumber);

    // Text with the timestamp at the start of each line removed: what follows the seconds.
    [[nodiscard]] static QString afterTimestamps(const QString &text);

private:
    QProcess m_process;
    QByteArray m_output;
    QByteArray m_errors;
};

#endif
