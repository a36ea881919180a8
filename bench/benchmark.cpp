#include "benchmark.h"

#include "benchfigures.h"
#include "capturecheck.h"
#include "loopbacksocket.h"
#include "panebench.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

// Every byte value, in an order that no relay could produce by accident.
QByteArray pattern(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(20261206);
    auto *words = reinterpret_cast<quint32 *>(bytes.data());
    generator.fillRange(words, size / 4);
    for (qint64 i = size / 4 * 4; i < size; ++i)
        bytes[i] = char(i);
    return bytes;
}

double percentile(QList<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    const auto at = qsizetype(fraction * double(values.size() - 1) + 0.5);
    return values.value(std::clamp<qsizetype>(at, 0, values.size() - 1));
}

void progress(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

// A problem of a peer, with what the peer said about it.
QString withOutput(const RelayPeer &peer, const QString &problem)
{
    const QString said = peer.errorOutput();
    return said.isEmpty() ? problem : problem + QStringLiteral("; the peer said: ") + said;
}

constexpr double MiB = 1024.0 * 1024.0;

} // namespace

Benchmark::Benchmark(BenchOptions options) : m_options(std::move(options)) {}

int Benchmark::run()
{
    QTemporaryDir root(QDir::temp().filePath(QStringLiteral("gpsa-bench-XXXXXX")));
    if (!root.isValid()) {
        progress(QStringLiteral("cannot create a temporary folder"));
        return 1;
    }
    root.setAutoRemove(!m_options.keepFiles);
    m_root = root.path();

    const qint64 latencyBytes = qint64(m_options.warmUp + m_options.messages) * m_options.messageSize;
    const qint64 returnBytes = qint64(m_options.returnMessages) * m_options.messageSize;
    m_stream = pattern(std::max({latencyBytes, returnBytes, m_options.streamBytes}));

#ifndef __OPTIMIZE__
    m_results.note(QStringLiteral("built without optimisation: build with -DCMAKE_BUILD_TYPE=Release for figures "
                                  "that mean anything."));
#endif
    if (m_options.wants(QStringLiteral("window")) && !m_options.windowProgram.isEmpty())
        m_results.note(QStringLiteral("window: the GUI program with --start on QT_QPA_PLATFORM=offscreen."));
    if (m_options.wants(QStringLiteral("pane")))
        m_results.note(QStringLiteral("pane: lines of 7 digits and a line end, so that %1 lines stay under the "
                                      "pane's character limit; the pane is filled at once, then %2 lines are "
                                      "added one by one through prependToDataPane and the median is taken.")
                           .arg(m_options.paneLines.value(m_options.paneLines.size() - 1))
                           .arg(m_options.paneSamples));

    QList<RelayPeer::Kind> relays{RelayPeer::Kind::Direct};
    if (m_options.socat.isEmpty()) {
        m_results.note(QStringLiteral("socat and socat -x -v skipped: socat is not installed "
                                      "(apt-get install -y socat)."));
    } else {
        relays << RelayPeer::Kind::Socat << RelayPeer::Kind::SocatDump;
        if (m_options.dumpStreamBytes < m_options.streamBytes && m_options.wants(QStringLiteral("throughput")))
            m_results.note(QStringLiteral("socat -x -v throughput measured on the first %1 KiB of the stream only: "
                                          "it writes its dump in small pieces and would take minutes.")
                               .arg(m_options.dumpStreamBytes / 1024));
    }
    if (m_options.program.isEmpty())
        m_results.note(QStringLiteral("gps-analyzer headless skipped: no program given."));
    else
        relays << RelayPeer::Kind::Program;
    for (const RelayPeer::Kind kind : relays)
        m_peers << RelayPeer::name(kind);
    const bool windowed = m_options.wants(QStringLiteral("window")) && !m_options.windowProgram.isEmpty();
    if (windowed)
        m_peers << RelayPeer::name(RelayPeer::Kind::Window);
    else if (m_options.wants(QStringLiteral("window")))
        m_results.note(QStringLiteral("gps-analyzer window skipped: no windowed program built."));

    const auto executableOf = [this](RelayPeer::Kind kind) {
        switch (kind) {
        case RelayPeer::Kind::Socat:
        case RelayPeer::Kind::SocatDump:
            return m_options.socat;
        case RelayPeer::Kind::Program:
            return m_options.program;
        case RelayPeer::Kind::Window:
            return m_options.windowProgram;
        case RelayPeer::Kind::Direct:
            break;
        }
        return QString();
    };

    for (int repetition = 1; repetition <= m_options.repetitions; ++repetition) {
        progress(QStringLiteral("repetition %1 of %2").arg(repetition).arg(m_options.repetitions));
        for (const RelayPeer::Kind kind : relays) {
            const QString executable = executableOf(kind);
            if (m_options.wants(QStringLiteral("latency")))
                measure(kind, executable, RelayPeer::Output::Discard, QStringLiteral("latency"),
                        [this](LoadGenerator &g, RelayPeer &p) { latency(g, p); });
            if (m_options.wants(QStringLiteral("throughput")))
                measure(kind, executable, RelayPeer::Output::Discard, QStringLiteral("throughput"),
                        [this](LoadGenerator &g, RelayPeer &p) { throughput(g, p); });
            if (m_options.wants(QStringLiteral("return")))
                measure(kind, executable, RelayPeer::Output::Watch, QStringLiteral("return path"),
                        [this](LoadGenerator &g, RelayPeer &p) { returnPath(g, p); });
        }
        if (windowed)
            measure(RelayPeer::Kind::Window, m_options.windowProgram, RelayPeer::Output::Discard,
                    QStringLiteral("throughput"), [this](LoadGenerator &g, RelayPeer &p) { throughput(g, p); });
        if (m_options.wants(QStringLiteral("filework")))
            fileWork();
    }
    if (m_options.wants(QStringLiteral("pane")))
        pane();

    addTargets();
    std::printf("%s", qPrintable(m_results.render(m_peers)));
    std::printf("\n%d failure(s), %d target(s) missed.\n", m_failures, m_results.misses());
    return m_failures;
}

void Benchmark::measure(RelayPeer::Kind kind, const QString &executable, RelayPeer::Output output,
                        const QString &what, const Measurement &measurement)
{
    const QString name = RelayPeer::name(kind);
    static int runNumber = 0;
    const QString folder = QDir(m_root).filePath(QStringLiteral("run%1").arg(++runNumber));
    QDir().mkpath(folder);

    LoopbackSocket outServer = LoopbackSocket::listen();
    RelayPeer peer(kind, executable);
    const QString problem = peer.start(outServer.localPort(), folder, output);
    if (!problem.isEmpty()) {
        fail(name, what, problem);
        return;
    }
    const auto connectTimeout = std::chrono::seconds(m_options.smoke ? 10 : 20);
    LoopbackSocket tracker = LoopbackSocket::connectTo(peer.inPort(), connectTimeout);
    LoopbackSocket out = tracker.isValid() ? outServer.accept(connectTimeout) : LoopbackSocket();
    if (!tracker.isValid() || !out.isValid()) {
        fail(name, what,
             QStringLiteral("no %1 connection; %2").arg(tracker.isValid() ? QStringLiteral("OUT") : QStringLiteral("IN"),
                                                       peer.errorOutput()));
        return;
    }
    LoadGenerator generator(tracker, out, m_options.patience);
    measurement(generator, peer);
    peer.stop();
    // The folders go with the temporary root at the end: a file system that has just
    // deleted thousands of files creates new ones slower for minutes (ext4 passes over
    // recently freed inodes), which would slow the runs after this one.
}

void Benchmark::fail(const QString &peer, const QString &what, const QString &problem)
{
    ++m_failures;
    const QString text = QStringLiteral("FAILED %1, %2: %3").arg(peer, what, problem);
    progress(text);
    m_results.note(text);
}

void Benchmark::checkCapture(RelayPeer &peer, quint16 port, qint64 bytes, const QString &what)
{
    if (!peer.isRunning())
        fail(RelayPeer::name(peer.kind()), what,
             QStringLiteral("the program ended during the run; %1").arg(peer.errorOutput()));
    // Every capture file is closed before the program ends.
    peer.stop();
    const CaptureCheck check = CaptureCheck::of(peer.captureFolder(), port, m_stream.first(bytes));
    if (!check.equal)
        fail(RelayPeer::name(peer.kind()), what + QStringLiteral(" capture"), check.problem);
    if (what == QLatin1StringView("throughput"))
        m_results.add(RelayPeer::name(peer.kind()), BenchFigures::ChunkEvents, double(check.dataFiles));
}

void Benchmark::latency(LoadGenerator &generator, RelayPeer &peer)
{
    const QString name = RelayPeer::name(peer.kind());
    const LoadGenerator::Latency result =
        generator.latency(m_stream, m_options.warmUp, m_options.messages, m_options.messageSize);
    if (!result.problem.isEmpty()) {
        fail(name, QStringLiteral("latency"), withOutput(peer, result.problem));
        return;
    }
    m_results.add(name, BenchFigures::LatencyP50, percentile(result.micros, 0.50));
    m_results.add(name, BenchFigures::LatencyP90, percentile(result.micros, 0.90));
    m_results.add(name, BenchFigures::LatencyP99, percentile(result.micros, 0.99));
    m_results.add(name, BenchFigures::MessagesPerSecond, result.messagesPerSecond);
    if (peer.isProgram()) {
        checkCapture(peer, peer.inPort(), qint64(m_options.warmUp + m_options.messages) * m_options.messageSize,
                     QStringLiteral("latency"));
    }
}

void Benchmark::throughput(LoadGenerator &generator, RelayPeer &peer)
{
    const QString name = RelayPeer::name(peer.kind());
    const qint64 streamBytes =
        peer.kind() == RelayPeer::Kind::SocatDump ? m_options.dumpStreamBytes : m_options.streamBytes;
    const double cpuBefore = peer.cpuSeconds();
    const LoadGenerator::Throughput result = generator.throughput(m_stream.first(streamBytes), m_options.writeSize);
    // Read while the process still runs: the peak of the whole stream.
    const qint64 peak = peer.peakResidentBytes();
    const double cpuAfter = peer.cpuSeconds();
    if (!result.problem.isEmpty()) {
        fail(name, QStringLiteral("throughput"), withOutput(peer, result.problem));
        return;
    }
    m_results.add(name, BenchFigures::Throughput, double(result.bytes) / result.seconds / 1e6);
    if (peak > 0)
        m_results.add(name, BenchFigures::PeakResident, double(peak) / MiB);
    if (cpuBefore >= 0 && cpuAfter >= 0)
        m_results.add(name, BenchFigures::ThroughputCpu, (cpuAfter - cpuBefore) / result.seconds * 100);
    if (peer.isProgram()) {
        checkCapture(peer, peer.inPort(), m_options.streamBytes, QStringLiteral("throughput"));
    }
}

void Benchmark::returnPath(LoadGenerator &generator, RelayPeer &peer)
{
    const QString name = RelayPeer::name(peer.kind());
    PaneLineCounter counter(QByteArrayLiteral(":  -> (HEXAD):"));
    const LoadGenerator::ReturnPath result =
        generator.returnPath(m_stream, m_options.returnMessages, m_options.messageSize, m_options.returnInterval,
                             peer.outputDescriptor(), peer.isProgram() ? &counter : nullptr);
    if (!result.problem.isEmpty()) {
        fail(name, QStringLiteral("return path"), withOutput(peer, result.problem));
        return;
    }
    m_results.add(name, BenchFigures::ReturnTotal, result.seconds * 1000);
    m_results.add(name, BenchFigures::ReturnLag, result.secondsAfterLast * 1000);
    if (peer.isProgram()) {
        // The OUT port names the return files: the harness's OUT server port.
        checkCapture(peer, peer.outPort(), qint64(m_options.returnMessages) * m_options.messageSize,
                     QStringLiteral("return path"));
    }
}

void Benchmark::fileWork()
{
    struct Variant
    {
        QString figure;
        int size;
        bool outputFile;
    };
    const QList<Variant> variants{
        {QStringLiteral("µs per chunk, %1 B").arg(m_options.messageSize), m_options.messageSize, false},
        {QStringLiteral("µs per chunk, %1 B").arg(m_options.writeSize), m_options.writeSize, false},
        {QStringLiteral("µs per chunk, %1 B through OutputFile").arg(m_options.messageSize), m_options.messageSize,
         true},
    };
    for (const Variant &variant : variants) {
        static int runNumber = 0;
        const QString folder = QDir(m_root).filePath(QStringLiteral("filework%1").arg(++runNumber));
        QDir().mkpath(folder);
        QProcess process;
        QStringList arguments{QStringLiteral("--folder"), folder, QStringLiteral("--chunks"),
                              QString::number(m_options.messages), QStringLiteral("--size"),
                              QString::number(variant.size)};
        if (variant.outputFile)
            arguments << QStringLiteral("--output-file");
        process.start(m_options.fileWork, arguments);
        const bool finished = process.waitForFinished(int(m_options.patience.count()) * 1000);
        const QList<QByteArray> words = process.readAllStandardOutput().simplified().split(' ');
        bool ok = false;
        const double micros = words.value(0).toDouble(&ok);
        if (!finished || process.exitCode() != 0 || !ok) {
            fail(BenchFigures::FileWork, variant.figure, QString::fromLocal8Bit(process.readAllStandardError()));
            continue;
        }
        m_results.add(BenchFigures::FileWork, variant.figure, micros);
    }
}

void Benchmark::pane()
{
    for (int repetition = 0; repetition < m_options.repetitions; ++repetition) {
        for (const int lines : m_options.paneLines) {
            const PaneBench::Result result = PaneBench::measure(lines, m_options.paneSamples);
            if (!result.problem.isEmpty()) {
                fail(BenchFigures::Pane, QStringLiteral("%1 lines").arg(lines), result.problem);
                continue;
            }
            m_results.add(BenchFigures::Pane, QStringLiteral("µs per line at %1 lines").arg(lines), result.micros);
        }
    }
}

void Benchmark::addTargets()
{
    const QString program = RelayPeer::name(RelayPeer::Kind::Program);
    const QString window = RelayPeer::name(RelayPeer::Kind::Window);
    const QString socat = RelayPeer::name(RelayPeer::Kind::Socat);
    const QString socatDump = RelayPeer::name(RelayPeer::Kind::SocatDump);
    using BenchFigures::LatencyP50;
    using BenchFigures::LatencyP99;

    m_results.addTarget({QStringLiteral("latency p50"), m_results.median(program, LatencyP50),
                         m_results.median(socatDump, LatencyP50), 0.6, false,
                         QStringLiteral("program / socat -x -v")});
    m_results.addTarget({QStringLiteral("latency p99"), m_results.median(program, LatencyP99),
                         m_results.median(socatDump, LatencyP99), 0.6, false,
                         QStringLiteral("program / socat -x -v")});
    const auto fileWork =
        m_results.median(BenchFigures::FileWork, QStringLiteral("µs per chunk, %1 B").arg(m_options.messageSize));
    const auto socatP50 = m_results.median(socat, LatencyP50);
    std::optional<double> floor;
    if (fileWork && socatP50)
        floor = *socatP50 + 2 * *fileWork;
    m_results.addTarget({QStringLiteral("latency p50"), m_results.median(program, LatencyP50), floor, 1.0, false,
                         QStringLiteral("program / (socat + 2 x file work)")});
    m_results.addTarget({QStringLiteral("throughput headless"), m_results.median(program, BenchFigures::Throughput),
                         m_results.median(socat, BenchFigures::Throughput), 0.5, true,
                         QStringLiteral("program / socat")});
    m_results.addTarget({QStringLiteral("throughput window"), m_results.median(window, BenchFigures::Throughput),
                         m_results.median(socat, BenchFigures::Throughput), 0.1, true,
                         QStringLiteral("window / socat")});
    if (m_options.paneLines.size() == 3) {
        const auto figure = [](int lines) { return QStringLiteral("µs per line at %1 lines").arg(lines); };
        m_results.addTarget({QStringLiteral("pane"), m_results.median(BenchFigures::Pane, figure(m_options.paneLines[2])),
                             m_results.median(BenchFigures::Pane, figure(m_options.paneLines[0])), 1.2, false,
                             QStringLiteral("%1 lines / %2 lines").arg(m_options.paneLines[2]).arg(m_options.paneLines[0])});
    }
    m_results.addTarget({QStringLiteral("peak memory headless"), m_results.median(program, BenchFigures::PeakResident),
                         50.0, 1.0, false, QStringLiteral("MiB / 50 MiB")});
    m_results.addTarget({QStringLiteral("peak memory window"), m_results.median(window, BenchFigures::PeakResident),
                         150.0, 1.0, false, QStringLiteral("MiB / 150 MiB")});
}
