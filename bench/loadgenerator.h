#ifndef GPSA_LOADGENERATOR_H
#define GPSA_LOADGENERATOR_H

#include "loopbacksocket.h"
#include "panelinecounter.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>

// The tracker and the OUT server of the benchmark, in one process and one thread: each
// measurement drives both ends of a relay with its own poll loop, so that the harness's
// own cost is the same for every peer and shows on its own in the direct connection.
class LoadGenerator final
{
public:
    struct Latency
    {
        QList<double> micros; // one per measured message, in the order sent
        double messagesPerSecond = 0;
        QString problem;
    };
    struct Throughput
    {
        double seconds = 0;
        qint64 bytes = 0;
        QString problem;
    };
    struct ReturnPath
    {
        double seconds = 0;        // first send to the last byte captured
        double secondsAfterLast = 0; // last send to the last byte captured
        QString problem;
    };

    // tracker: connected to the relay's IN port; out: the relay's connection to the OUT server.
    LoadGenerator(LoopbackSocket &tracker, LoopbackSocket &out, std::chrono::seconds patience);

    // Sends warmUp + count messages of size bytes, taken in order from stream, one at a time:
    // each after the last byte of the one before has reached the OUT server. The first
    // warmUp messages are not timed.
    [[nodiscard]] Latency latency(const QByteArray &stream, int warmUp, int count, int size);

    // Sends the whole stream in writes of writeSize bytes as fast as the relay takes them.
    [[nodiscard]] Throughput throughput(const QByteArray &stream, int writeSize);

    // The OUT server sends count messages of size bytes, interval apart. They count as
    // captured when they reach the tracker (a plain relay) or, given a counter, when the
    // program has printed their hex lines on outputFd.
    [[nodiscard]] ReturnPath returnPath(const QByteArray &stream, int count, int size,
                                        std::chrono::microseconds interval, int outputFd,
                                        PaneLineCounter *counter);

private:
    // Checks the bytes that reached the OUT server against the stream sent.
    bool matches(const QByteArray &stream, qint64 offset, const char *data, qsizetype size, QString &problem) const;

    LoopbackSocket &m_tracker;
    LoopbackSocket &m_out;
    std::chrono::seconds m_patience;
};

#endif
