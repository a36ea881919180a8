#include "analyzerprocess.h"

#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

namespace {

// A timestamp ends with the seconds (and AM or PM where the clock is of 12 hours); the tag
// that follows begins with a colon.
const QRegularExpression &timestampPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^[^\\r\\n]*?\\d\\d?:\\d\\d:\\d\\d(?: ?[AaPp]\\.?[Mm]\\.?)?(?=:)"),
        QRegularExpression::MultilineOption);
    return pattern;
}

} // namespace

AnalyzerProcess::AnalyzerProcess()
{
    // No X or Wayland display, and no platform plugin asked for: the headless program and
    // --help and --version must need none.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    m_process.setProcessEnvironment(environment);
    m_process.setProgram(QStringLiteral(GPSA_ANALYZER_BINARY));
}

AnalyzerProcess::~AnalyzerProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
}

void AnalyzerProcess::useOffscreenWindow()
{
    QProcessEnvironment environment = m_process.processEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_process.setProcessEnvironment(environment);
}

void AnalyzerProcess::start(const QStringList &arguments)
{
    m_process.setArguments(arguments);
    m_process.start();
}

QByteArray AnalyzerProcess::output()
{
    m_output += m_process.readAllStandardOutput();
    return m_output;
}

QByteArray AnalyzerProcess::errors()
{
    m_errors += m_process.readAllStandardError();
    return m_errors;
}

QString AnalyzerProcess::paneText()
{
    return afterTimestamps(QString::fromUtf8(output()));
}

int AnalyzerProcess::timestampedLines()
{
    int count = 0;
    auto matches = timestampPattern().globalMatch(QString::fromUtf8(output()));
    while (matches.hasNext()) {
        matches.next();
        ++count;
    }
    return count;
}

QString AnalyzerProcess::afterTimestamps(const QString &text)
{
    QString rest = text;
    return rest.remove(timestampPattern());
}

bool AnalyzerProcess::waitForOutput(const QByteArray &text, int timeoutMs)
{
    return QTest::qWaitFor([&] { return output().contains(text) || m_process.state() == QProcess::NotRunning; },
                           timeoutMs) &&
           output().contains(text);
}

bool AnalyzerProcess::waitForExit(int timeoutMs)
{
    const bool ended = QTest::qWaitFor([&] { return m_process.state() == QProcess::NotRunning; }, timeoutMs);
    m_output += m_process.readAllStandardOutput();
    m_errors += m_process.readAllStandardError();
    return ended;
}

void AnalyzerProcess::sendSignal(int signalNumber)
{
    ::kill(pid_t(m_process.processId()), signalNumber);
}
