#ifndef GPSA_BENCHFIGURES_H
#define GPSA_BENCHFIGURES_H

#include <QString>
#include <QStringList>

// The names of the benchmark's figures, as they head the columns of its tables.
namespace BenchFigures {

inline const QString LatencyP50 = QStringLiteral("latency p50 µs");
inline const QString LatencyP90 = QStringLiteral("latency p90 µs");
inline const QString LatencyP99 = QStringLiteral("latency p99 µs");
inline const QString MessagesPerSecond = QStringLiteral("msg/s");
inline const QString Throughput = QStringLiteral("throughput MB/s");
inline const QString ChunkEvents = QStringLiteral("chunk events");
inline const QString ThroughputCpu = QStringLiteral("CPU % in throughput");
inline const QString PeakResident = QStringLiteral("peak RSS MiB");
inline const QString ReturnTotal = QStringLiteral("return path ms");
inline const QString ReturnLag = QStringLiteral("return lag ms");
inline const QString FramesThroughput = QStringLiteral("throughput on frames MB/s");

inline QStringList relayColumns()
{
    return {LatencyP50,    LatencyP90,   LatencyP99,  MessagesPerSecond, Throughput, ThroughputCpu,
            ChunkEvents,   PeakResident, ReturnTotal, ReturnLag,         FramesThroughput};
}

// Rows of the other figures.
inline const QString FileWork = QStringLiteral("file work");
inline const QString Pane = QStringLiteral("pane");
inline const QString Replay = QStringLiteral("replay");
inline const QString Fleet = QStringLiteral("fleet");
inline const QString Udp = QStringLiteral("udp");
inline const QString Decoding = QStringLiteral("decoding");

} // namespace BenchFigures

#endif
