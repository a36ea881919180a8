#include "benchoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStandardPaths>

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void usageError(const QString &text)
{
    std::fprintf(stderr, "gpsa-bench: %s\n", qPrintable(text));
    std::exit(2);
}

int positive(const QString &text, const QString &option)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value <= 0)
        usageError(QStringLiteral("--%1 needs a positive number").arg(option));
    return value;
}

} // namespace

BenchOptions parseBenchOptions(const QStringList &arguments)
{
    BenchOptions options;
#ifdef GPSA_BENCH_PROGRAM
    options.program = QStringLiteral(GPSA_BENCH_PROGRAM);
#endif
#ifdef GPSA_BENCH_WINDOW_PROGRAM
    options.windowProgram = QStringLiteral(GPSA_BENCH_WINDOW_PROGRAM);
#endif
#ifdef GPSA_BENCH_FILEWORK
    options.fileWork = QStringLiteral(GPSA_BENCH_FILEWORK);
#endif
    options.socat = QStandardPaths::findExecutable(QStringLiteral("socat"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Benchmarks the capture path of gps-analyzer beside a direct connection, socat, socat -x -v and the "
        "bare file work of a chunk, and prints the figures and targets as Markdown tables."));
    parser.addHelpOption();
    const QCommandLineOption smoke(QStringLiteral("smoke"),
                                   QStringLiteral("Everything tiny, once: fails only when bytes are lost or changed."));
    const QCommandLineOption repeat(QStringLiteral("repeat"), QStringLiteral("Repetitions per figure (median)."),
                                    QStringLiteral("n"));
    const QCommandLineOption program(QStringLiteral("program"), QStringLiteral("The gps-analyzer executable."),
                                     QStringLiteral("path"));
    const QCommandLineOption window(QStringLiteral("window-program"),
                                    QStringLiteral("The executable for the windowed run; \"none\" skips it."),
                                    QStringLiteral("path"));
    const QCommandLineOption socat(QStringLiteral("socat"), QStringLiteral("The socat executable; \"none\" skips it."),
                                   QStringLiteral("path"));
    const QCommandLineOption fileWork(QStringLiteral("filework"), QStringLiteral("The file-work peer executable."),
                                      QStringLiteral("path"));
    const QCommandLineOption messages(QStringLiteral("messages"),
                                      QStringLiteral("Messages in the latency and return-path runs."),
                                      QStringLiteral("n"));
    const QCommandLineOption megabytes(QStringLiteral("mebibytes"), QStringLiteral("Size of the throughput stream."),
                                       QStringLiteral("n"));
    const QCommandLineOption only(QStringLiteral("only"),
                                  QStringLiteral("Comma-separated parts: latency, throughput, return, window, "
                                                 "filework, pane, features, replay, fleet, web, udp."),
                                  QStringLiteral("parts"));
    const QCommandLineOption keep(QStringLiteral("keep"), QStringLiteral("Keep the capture folders."));
    const QCommandLineOption trackers(QStringLiteral("fleet-trackers"),
                                      QStringLiteral("Trackers of the fleet run (default 1000)."), QStringLiteral("n"));
    const QCommandLineOption seconds(QStringLiteral("fleet-seconds"),
                                     QStringLiteral("Seconds the fleet sends (default 30)."), QStringLiteral("n"));
    parser.addOptions({smoke, repeat, program, window, socat, fileWork, messages, megabytes, only, keep, trackers,
                       seconds});
    parser.process(arguments);

    if (parser.isSet(smoke)) {
        options.smoke = true;
        options.repetitions = 1;
        options.warmUp = 2;
        options.messages = 50;
        options.streamBytes = 2 * 1024 * 1024;
        options.dumpStreamBytes = 256 * 1024;
        options.returnMessages = 50;
        options.paneLines = {100, 1000, 10000};
        options.paneSamples = 20;
        options.replayChunks = 3;
        options.replayTrackers = 20;
        options.fleetTrackers = 20;
        options.fleetSeconds = 2;
        options.baselineSeconds = 1;
        options.udpBurst = 100;
        options.patience = std::chrono::seconds(20);
    }
    if (parser.isSet(repeat))
        options.repetitions = positive(parser.value(repeat), QStringLiteral("repeat"));
    if (parser.isSet(program))
        options.program = parser.value(program);
    if (parser.isSet(window))
        options.windowProgram = parser.value(window);
    if (options.windowProgram == QLatin1StringView("none"))
        options.windowProgram.clear();
    if (parser.isSet(socat))
        options.socat = parser.value(socat) == QLatin1StringView("none") ? QString() : parser.value(socat);
    if (parser.isSet(fileWork))
        options.fileWork = parser.value(fileWork);
    if (parser.isSet(messages)) {
        options.messages = positive(parser.value(messages), QStringLiteral("messages"));
        options.returnMessages = options.messages;
    }
    if (parser.isSet(megabytes))
        options.streamBytes = qint64(positive(parser.value(megabytes), QStringLiteral("mebibytes"))) * 1024 * 1024;
    options.dumpStreamBytes = qMin(options.dumpStreamBytes, options.streamBytes);
    if (parser.isSet(only))
        options.parts = parser.value(only).split(QLatin1Char(','), Qt::SkipEmptyParts);
    options.keepFiles = parser.isSet(keep);
    if (parser.isSet(trackers))
        options.fleetTrackers = positive(parser.value(trackers), QStringLiteral("fleet-trackers"));
    if (parser.isSet(seconds))
        options.fleetSeconds = positive(parser.value(seconds), QStringLiteral("fleet-seconds"));
    return options;
}
