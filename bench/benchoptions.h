#ifndef GPSA_BENCHOPTIONS_H
#define GPSA_BENCHOPTIONS_H

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>

// What one benchmark run measures, and with which programs.
struct BenchOptions
{
    bool smoke = false;
    int repetitions = 5;

    QString program;       // the headless program; empty skips it
    QString windowProgram; // the windowed program; empty skips it
    QString socat;         // empty when socat is not installed
    QString fileWork;      // the file-work peer

    int warmUp = 10;
    int messages = 2000;
    int messageSize = 100;
    qint64 streamBytes = 64LL * 1024 * 1024;
    int writeSize = 4096;
    // socat -x -v writes its dump a few bytes at a time and crawls: it gets a shorter stream.
    qint64 dumpStreamBytes = 4LL * 1024 * 1024;
    int returnMessages = 2000;
    std::chrono::microseconds returnInterval{1000};
    QList<int> paneLines{1000, 100000, 1000000};
    int paneSamples = 200;
    std::chrono::seconds patience{30};

    // Replay: a recorded session of this many chunks, played on one connection and on this many.
    int replayChunks = 10;
    int replayTrackers = 1000;
    // The fleet: this many trackers, each sending a message a second for fleetSeconds, after one
    // tracker sending one every 50 ms for baselineSeconds, through the same program.
    int fleetTrackers = 1000;
    int fleetSeconds = 30;
    int baselineSeconds = 10;
    // UDP: datagrams of messageSize relayed one at a time (messages of them), then a burst of
    // udpBurst at udpRate a second.
    int udpBurst = 2000;
    int udpRate = 1000;

    // latency, throughput, return, window, filework, pane, features, replay, fleet, web, udp
    QStringList parts{QStringLiteral("latency"),  QStringLiteral("throughput"), QStringLiteral("return"),
                      QStringLiteral("window"),   QStringLiteral("filework"),   QStringLiteral("pane"),
                      QStringLiteral("features"), QStringLiteral("replay"),     QStringLiteral("fleet"),
                      QStringLiteral("web"),      QStringLiteral("udp")};
    bool keepFiles = false;

    [[nodiscard]] bool wants(const QString &part) const { return parts.contains(part); }
};

// Reads the command line; prints help or an error and exits where the parser does.
[[nodiscard]] BenchOptions parseBenchOptions(const QStringList &arguments);

#endif
