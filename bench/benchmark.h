#ifndef GPSA_BENCHMARK_H
#define GPSA_BENCHMARK_H

#include "benchoptions.h"
#include "liveviewers.h"
#include "loadgenerator.h"
#include "relaypeer.h"
#include "resulttable.h"

#include <QByteArray>
#include <QString>

#include <QHash>

#include <functional>

// One run of the benchmark: every peer through every measurement, repeated, then the
// tables and the targets. Each measurement starts its peer afresh in a folder of its own.
class Benchmark final
{
public:
    explicit Benchmark(BenchOptions options);

    // Returns the number of failures: bytes lost or changed, a peer that broke down.
    int run();

private:
    using Measurement = std::function<void(LoadGenerator &, RelayPeer &)>;
    void measure(RelayPeer::Kind kind, const QString &executable, RelayPeer::Output output,
                 const QString &what, const Measurement &measurement);
    static void dropFromPageCache(const QString &folder);

    void latency(LoadGenerator &generator, RelayPeer &peer);
    void throughput(LoadGenerator &generator, RelayPeer &peer);
    // The stream of real device frames, through the plain capture and through recognition.
    void framesThroughput(LoadGenerator &generator, RelayPeer &peer);
    void returnPath(LoadGenerator &generator, RelayPeer &peer);
    // The decoding of the frames stream in this process, without sockets or files: ns per record.
    void decodingCost();
    // A measurement of the program with the live view on, while LiveViewerCount viewers watch.
    void watched(LoadGenerator &generator, RelayPeer &peer, void (Benchmark::*measurement)(LoadGenerator &, RelayPeer &));
    static constexpr int LiveViewerCount = 5;
    void fileWork();
    void pane();
    void replay();
    // One tracker, then the fleet, through one program relaying to a timing echo server.
    void fleet();
    // Datagrams through each relay: one at a time, then a paced burst.
    void udp(RelayPeer::Kind kind, const QString &executable);
    void addTargets();

    void fail(const QString &peer, const QString &what, const QString &problem);
    void checkCapture(RelayPeer &peer, quint16 port, qint64 bytes, const QString &what);

    BenchOptions m_options;
    QByteArray m_stream;
    QByteArray m_frames;
    QString m_root;
    ResultTable m_results;
    QStringList m_peers;
    int m_failures = 0;
    // The viewers of the measurement under way, checked before its program stops.
    const LiveViewers *m_viewers = nullptr;
};

#endif
