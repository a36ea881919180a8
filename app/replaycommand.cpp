#include "replaycommand.h"

#include "commandline.h"
#include "outputfile.h"
#include "platformerror.h"
#include "processlimits.h"
#include "replayrun.h"
#include "sessionerror.h"
#include "sessionindex.h"
#include "tcppacket.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QHostInfo>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace {

const QString Name = QStringLiteral("replay");
// Replays shorter than this say nothing until their summary.
constexpr qint64 QuietProgressMs = 3000;

QString milliseconds(qint64 us)
{
    return us < 0 ? QStringLiteral("-") : QStringLiteral("%1 ms").arg(double(us) / 1000.0, 0, 'f', 3);
}

QString plural(qint64 count, const char *one)
{
    return QStringLiteral("%1 %2%3").arg(count).arg(QLatin1StringView(one), count == 1 ? QString() : QStringLiteral("s"));
}

// The server's address; a name is looked up once, for every connection.
QHostAddress serverAddress(const QString &host)
{
    QHostAddress address(host);
    if (!address.isNull())
        return address;
    const QList<QHostAddress> found = QHostInfo::fromName(host).addresses();
    return found.isEmpty() ? QHostAddress() : found.constFirst();
}

QString defaultOutput(const QString &captureFolder)
{
    QString base = QDir::cleanPath(QDir(captureFolder).absolutePath());
    return base + QStringLiteral("-replay-") +
           QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}

} // namespace

namespace {

// The replay's options, in the order of its help.
struct ReplayParser
{
    QCommandLineParser parser;
    const QCommandLineOption captureDir{
        QStringLiteral("capture-dir"),
        QStringLiteral("Capture folder to replay from (default %1).").arg(defaultCaptureFolder()),
        QStringLiteral("DIR")};
    const QCommandLineOption session{
        QStringLiteral("session"),
        QStringLiteral("Replays the Nth tracker connection, from 1 (default: the last); all: every connection "
                       "of the last run, each as its own tracker, at its recorded start."),
        QStringLiteral("N")};
    const QCommandLineOption to{QStringLiteral("to"), QStringLiteral("The server to replay against."),
                                QStringLiteral("HOST:PORT")};
    const QCommandLineOption speed{QStringLiteral("speed"), QStringLiteral("Divides the recorded gaps by F (default 1)."),
                                   QStringLiteral("F")};
    const QCommandLineOption noWait{QStringLiteral("no-wait"),
                                    QStringLiteral("Sends each chunk as soon as the one before has gone.")};
    const QCommandLineOption udp{QStringLiteral("udp"),
                                 QStringLiteral("Sends each chunk as a UDP datagram, from a socket per tracker.")};
    const QCommandLineOption trackers{QStringLiteral("trackers"),
                                      QStringLiteral("Replays the session on N connections at once (default 1)."),
                                      QStringLiteral("N")};
    const QCommandLineOption output{
        QStringLiteral("output"),
        QStringLiteral("Capture folder for the server's answers (default: a new folder beside the capture "
                       "folder, named after it, -replay- and the UTC time)."),
        QStringLiteral("DIR")};
    const QCommandLineOption inPort{
        QStringLiteral("in-port"),
        QStringLiteral("IN port of a folder without index.tsv (default: that of the error logs, else that of "
                       "the first capture)."),
        QStringLiteral("PORT")};

    ReplayParser()
    {
        parser.setApplicationDescription(QStringLiteral(
            "Plays a recorded session against a server: connects as the tracker did and sends its\n"
            "chunks in order with the recorded gaps, on one connection or on many at once, and\n"
            "captures what the server sends back in a capture folder of its own.\n"
            "Exit status: 0 when every chunk went out on every connection, 1 when a connection\n"
            "failed or was reset, 2 for a wrong option."));
        parser.addOptions({captureDir, session, to, speed, noWait, udp, trackers, output, inPort});
    }
    [[nodiscard]] QString last(const QCommandLineOption &option) const { return parser.values(option).constLast(); }
};

// HOST:PORT, the host perhaps in brackets; false when the text is no such address.
bool readTarget(const QString &target, QString &host, quint16 &port)
{
    const qsizetype colon = target.lastIndexOf(QLatin1Char(':'));
    host = target.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    qint64 value = 0;
    if (colon <= 0 || host.isEmpty() || !readCount(target.mid(colon + 1), 1, 65535, value))
        return false;
    port = quint16(value);
    return true;
}

} // namespace

ReplayCommandLine parseReplayCommandLine(const QStringList &arguments)
{
    ReplayParser p;
    ReplayCommandLine result;
    result.exit = parseSubcommand(p.parser, Name, arguments);
    if (result.exit.exit)
        return result;
    const auto wrong = [&](const QString &message) {
        result.exit = subcommandUsageError(p.parser, Name, message);
        return result;
    };
    ReplayOptions &options = result.options;
    options.captureFolder = p.parser.isSet(p.captureDir) ? p.last(p.captureDir) : defaultCaptureFolder();
    options.output = p.parser.isSet(p.output) ? p.last(p.output) : QString();
    const struct
    {
        const QCommandLineOption &option;
        qint64 minimum;
        qint64 maximum;
        int ReplayOptions::*member;
        const char *wrong;
    } counts[] = {
        {p.session, 1, std::numeric_limits<int>::max(), &ReplayOptions::session,
         "--session takes a number from 1, or all."},
        {p.trackers, 1, 1'000'000, &ReplayOptions::trackers, "--trackers takes a number from 1 to 1000000."},
        {p.inPort, 1, 65535, &ReplayOptions::inPort, "--in-port takes a port from 1 to 65535."},
    };
    options.allSessions = p.parser.isSet(p.session) && p.last(p.session) == QLatin1StringView("all");
    for (const auto &count : counts) {
        qint64 value = 0;
        if (!p.parser.isSet(count.option) || (&count.option == &p.session && options.allSessions))
            continue;
        if (!readCount(p.last(count.option), count.minimum, count.maximum, value))
            return wrong(QString::fromLatin1(count.wrong));
        options.*count.member = int(value);
    }
    if (p.parser.isSet(p.speed)) {
        bool ok = false;
        options.speed = p.last(p.speed).toDouble(&ok);
        if (!ok || !(options.speed > 0) || qIsInf(options.speed))
            return wrong(QStringLiteral("--speed takes a number above 0, such as 2 or 0.5."));
    }
    options.noWait = p.parser.isSet(p.noWait);
    options.udp = p.parser.isSet(p.udp);
    if (options.noWait && p.parser.isSet(p.speed))
        return wrong(QStringLiteral("--speed and --no-wait exclude each other."));
    if (!p.parser.isSet(p.to))
        return wrong(QStringLiteral("--to HOST:PORT is needed."));
    if (!readTarget(p.last(p.to), options.host, options.port))
        return wrong(QStringLiteral("--to takes HOST:PORT, such as 127.0.0.1:5001."));
    return result;
}

namespace {

// The replay's progress, once it has run a few seconds.
void showProgress(const ReplayRun &run, int trackers, qint64 allChunks, QTextStream &errors)
{
    if (run.elapsedMs() < QuietProgressMs)
        return;
    const ReplayTally &t = run.tally();
    errors << QStringLiteral("replay: %1 s, %2 of %3 connected, %4 of %5 chunks sent, %6 received\n")
                  .arg(run.elapsedMs() / 1000)
                  .arg(t.connected)
                  .arg(trackers)
                  .arg(t.chunksSent)
                  .arg(allChunks)
                  .arg(plural(t.answers, "answer"));
    errors.flush();
}

void showSummary(const ReplayTally &t, const QString &folder, QTextStream &output)
{
    output << QStringLiteral("Connections: %1 made, %2 failed, %3 reset or closed early\n")
                  .arg(t.connected)
                  .arg(t.failed)
                  .arg(t.broken)
           << QStringLiteral("Sent: %1, %2\n").arg(plural(t.chunksSent, "chunk"), plural(t.bytesSent, "byte"))
           << QStringLiteral("Answers: %1, %2\n").arg(plural(t.answers, "chunk"), plural(t.answerBytes, "byte"))
           << QStringLiteral("Chunk to answer: p50 %1, p99 %2 (%3 of %4 answered)\n")
                  .arg(milliseconds(t.answerTimePercentileUs(0.5)), milliseconds(t.answerTimePercentileUs(0.99)))
                  .arg(qint64(t.answerTimesUs.size()))
                  .arg(plural(t.chunksSent, "chunk"))
           << QStringLiteral("Answers captured in %1\n").arg(QDir::toNativeSeparators(folder));
    output.flush();
}

} // namespace

int runReplay(const ReplayOptions &options, QTextStream &output, QTextStream &errors)
{
    const auto failWith = [&errors](const QString &message) {
        errors << QStringLiteral("gps-analyzer replay: ") << message << QLatin1Char('\n');
        errors.flush();
        return ExitStatus::Failure;
    };
    QList<ReplayPlan> plans;
    try {
        const SessionIndex index = SessionIndex::read(options.captureFolder, options.inPort);
        plans = options.allSessions ? ReplayPlan::fromLastRun(index)
                                    : QList<ReplayPlan>{ReplayPlan::fromSession(index, options.session)};
    } catch (const SessionError &error) {
        return failWith(error.message());
    }
    const QHostAddress address = serverAddress(options.host);
    if (address.isNull())
        return failWith(QStringLiteral("The server %1 is not known.").arg(options.host));
    const QString folder = options.output.isEmpty() ? defaultOutput(options.captureFolder) : options.output;
    const QString problem = prepareFolder(folder);
    if (!problem.isEmpty())
        return failWith(QStringLiteral("The capture folder %1 cannot be used: %2.")
                            .arg(QDir::toNativeSeparators(folder), problem));
    const qint64 connections = qint64(options.trackers) * plans.size();
    const qint64 descriptors = raiseDescriptorLimit();
    if (descriptors >= 0 && descriptors < connections + 64)
        errors << QStringLiteral("gps-analyzer replay: this process may open only %1 files; some of the %2 "
                                 "connections will fail.\n")
                      .arg(descriptors)
                      .arg(connections);

    std::unique_ptr<ReplayRun> run;
    try {
        run = std::make_unique<ReplayRun>(plans, TcpEndpoint{address, options.port}, options.speed, options.noWait,
                                          options.trackers, folder, options.udp);
    } catch (const PlatformError &error) {
        return failWith(error.description());
    }
    qint64 allChunks = 0;
    for (const ReplayPlan &plan : std::as_const(plans))
        allChunks += qint64(options.trackers) * plan.chunks.size();
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, &progress,
                     [&] { showProgress(*run, run->trackers(), allChunks, errors); });
    QEventLoop loop;
    QObject::connect(run.get(), &ReplayRun::finished, &loop, &QEventLoop::quit);
    progress.start(1000);
    run->start();
    if (!run->isFinished())
        loop.exec();
    progress.stop();

    const ReplayTally &t = run->tally();
    showSummary(t, folder, output);
    if (!run->failure().isEmpty())
        return failWith(run->failure());
    const bool complete = t.failed == 0 && t.broken == 0 && t.chunksSent == allChunks;
    return complete ? ExitStatus::Success : ExitStatus::Failure;
}

int replayCommand(const QStringList &arguments, QTextStream &output, QTextStream &errors)
{
    const ReplayCommandLine commandLine = parseReplayCommandLine(arguments);
    return printedExit(commandLine.exit, output, errors) ? commandLine.exit.status
                                                          : runReplay(commandLine.options, output, errors);
}

int replayMain(int argc, char **argv)
{
    QTextStream output(stdout);
    QTextStream errors(stderr);
    const ReplayCommandLine commandLine = parseReplayCommandLine(argumentList(argc, argv));
    if (printedExit(commandLine.exit, output, errors))
        return commandLine.exit.status;
    QCoreApplication app(argc, argv);
    return runReplay(commandLine.options, output, errors);
}
