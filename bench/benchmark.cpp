#include "benchmark.h"

#include "benchfigures.h"
#include "capturecheck.h"
#include "echoserver.h"
#include "fleetload.h"
#include "framesplitter.h"
#include "livedecoder.h"
#include "loopbacksocket.h"
#include "panebench.h"
#include "positionscsv.h"
#include "udpload.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

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

// A tracker's stream of real frames, as long as the plain stream: Teltonika AVL packets of 4
// records (Traccar's TeltonikaProtocolDecoderTest), each of which the recognising program
// splits, checks and acknowledges.
QByteArray deviceFrames(qint64 size)
{
    const QByteArray packet = QByteArray::fromHex(
        "000000000000009f080400000159738f76b8012e13b796110ab27600d700000b00004e01000000014e000000000000000000000159738f"
        "6ee8012e13b796110ab27600d700000a00004e01000000014e01000b00791c179300000159738f6b00012e13b796110ab27600d700000a"
        "00004e01000000014e000000000000000000000159738f5f48012e13b796110ab27600d700000b00004e01000000014e01000b00791c17"
        "930400009671");
    QByteArray frames = QByteArray::fromHex("000F333536333037303432343431303133"); // the IMEI first
    frames.reserve(size + packet.size());
    while (frames.size() < size)
        frames += packet;
    return frames.first(size);
}

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
    if (m_options.wants(QStringLiteral("features")))
        m_frames = deviceFrames(m_options.streamBytes);

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
    const bool features = m_options.wants(QStringLiteral("features")) && !m_options.program.isEmpty();
    if (features) {
        m_peers << RelayPeer::name(RelayPeer::Kind::Recognising) << RelayPeer::name(RelayPeer::Kind::AllFeatures)
                << RelayPeer::name(RelayPeer::Kind::Indexing) << RelayPeer::name(RelayPeer::Kind::Decoding);
        m_results.note(QStringLiteral("throughput on frames: the stream made of Teltonika AVL packets of 4 records "
                                      "(after the IMEI), which the recognising program splits, checks and acknowledges; "
                                      "the target compares --protocol auto --auto-ack with the plain capture, the "
                                      "peak memory with features on is that of the run with the session index too; "
                                      "the decoding run adds --decode: a POS line and a line of positions.csv for "
                                      "each of the stream's records."));
    }
    const bool web = GPSA_BENCH_WEB && m_options.wants(QStringLiteral("web")) && !m_options.program.isEmpty();
    if (!GPSA_BENCH_WEB && m_options.wants(QStringLiteral("web")))
        m_results.note(QStringLiteral("live viewers skipped: the program was built without the live view."));
    if (web) {
        m_peers << RelayPeer::name(RelayPeer::Kind::Watched);
        m_results.note(QStringLiteral("live viewers: the headless program with --web while %1 WebSocket clients "
                                      "watch and read everything; compared with the plain headless program.")
                           .arg(LiveViewerCount));
    }
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
        case RelayPeer::Kind::Recognising:
        case RelayPeer::Kind::AllFeatures:
        case RelayPeer::Kind::Indexing:
        case RelayPeer::Kind::Fleet:
        case RelayPeer::Kind::Decoding:
        case RelayPeer::Kind::Watched:
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
        if (windowed) {
            measure(RelayPeer::Kind::Window, m_options.windowProgram, RelayPeer::Output::Discard,
                    QStringLiteral("latency"), [this](LoadGenerator &g, RelayPeer &p) { latency(g, p); });
            measure(RelayPeer::Kind::Window, m_options.windowProgram, RelayPeer::Output::Discard,
                    QStringLiteral("throughput"), [this](LoadGenerator &g, RelayPeer &p) { throughput(g, p); });
        }
        if (features) {
            // Where a run stands in the order weighs on it (whoever runs first finds the machine
            // as the other parts left it): each takes each place in turn, one repetition after
            // the other.
            QList<RelayPeer::Kind> kinds{RelayPeer::Kind::Program, RelayPeer::Kind::Recognising,
                                         RelayPeer::Kind::AllFeatures, RelayPeer::Kind::Decoding};
            std::rotate(kinds.begin(), kinds.begin() + repetition % kinds.size(), kinds.end());
            for (const RelayPeer::Kind kind : std::as_const(kinds))
                measure(kind, m_options.program, RelayPeer::Output::Discard, QStringLiteral("throughput on frames"),
                        [this](LoadGenerator &g, RelayPeer &p) { framesThroughput(g, p); });
            measure(RelayPeer::Kind::Indexing, m_options.program, RelayPeer::Output::Discard,
                    QStringLiteral("latency"), [this](LoadGenerator &g, RelayPeer &p) { latency(g, p); });
            decodingCost();
        }
        if (web) {
            // Each run with viewers right beside one without, taking turns at going first, so that
            // both find the machine alike.
            for (const auto &[what, run] : {std::pair(QStringLiteral("latency"), &Benchmark::latency),
                                            std::pair(QStringLiteral("throughput"), &Benchmark::throughput)}) {
                QList<RelayPeer::Kind> kinds{RelayPeer::Kind::Program, RelayPeer::Kind::Watched};
                if (repetition % 2 == 0)
                    std::reverse(kinds.begin(), kinds.end());
                for (const RelayPeer::Kind kind : std::as_const(kinds))
                    measure(kind, m_options.program, RelayPeer::Output::Discard, what,
                            [this, run](LoadGenerator &g, RelayPeer &p) {
                                if (p.kind() == RelayPeer::Kind::Watched)
                                    watched(g, p, run);
                                else
                                    (this->*run)(g, p);
                            });
            }
        }
        if (m_options.wants(QStringLiteral("filework")))
            fileWork();
        if (m_options.wants(QStringLiteral("udp")))
            for (const RelayPeer::Kind kind : relays)
                udp(kind, executableOf(kind));
    }
    if (m_options.wants(QStringLiteral("pane")))
        pane();
    if (m_options.wants(QStringLiteral("replay")) && !m_options.program.isEmpty())
        replay();
    if (m_options.wants(QStringLiteral("fleet")) && !m_options.program.isEmpty())
        fleet();

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
    // What this run wrote goes to the disk now, not in the background of the next run: the
    // peers are measured one after the other, and the second would pay for the first.
    ::sync();
    // And its pages leave the page cache, so that the next run's files take the memory this
    // one's gave back, as every run's do. On a virtual machine, memory the guest has not used
    // before costs many times more to take than memory it has just given back: 64 MiB written
    // to new files took 10 ms of system time in pages just freed, 110 to 170 ms in others, so
    // that which peer came after which weighed on the stream's figures.
    dropFromPageCache(folder);
    // The folders go with the temporary root at the end: a file system that has just deleted
    // thousands of files creates new ones slower for minutes (ext4 passes over recently freed
    // inodes), which would slow the runs after this one.
}

void Benchmark::dropFromPageCache(const QString &folder)
{
    QDirIterator files(folder, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const int descriptor = ::open(QFile::encodeName(files.next()).constData(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0)
            continue;
        ::posix_fadvise(descriptor, 0, 0, POSIX_FADV_DONTNEED);
        ::close(descriptor);
    }
}

void Benchmark::fail(const QString &peer, const QString &what, const QString &problem)
{
    ++m_failures;
    const QString text = QStringLiteral("FAILED %1, %2: %3").arg(peer, what, problem);
    progress(text);
    m_results.note(text);
}

void Benchmark::watched(LoadGenerator &generator, RelayPeer &peer,
                        void (Benchmark::*measurement)(LoadGenerator &, RelayPeer &))
{
    const LiveViewers viewers(peer.webPort(), RelayPeer::WebToken.toByteArray(), LiveViewerCount);
    m_viewers = &viewers;
    (this->*measurement)(generator, peer);
    m_viewers = nullptr;
}

void Benchmark::checkCapture(RelayPeer &peer, quint16 port, qint64 bytes, const QString &what)
{
    if (m_viewers != nullptr && !m_viewers->problem().isEmpty())
        fail(RelayPeer::name(peer.kind()), what, m_viewers->problem());
    if (m_viewers != nullptr && m_viewers->received() == 0)
        fail(RelayPeer::name(peer.kind()), what, QStringLiteral("the live viewers received nothing"));
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

void Benchmark::framesThroughput(LoadGenerator &generator, RelayPeer &peer)
{
    const QString name = RelayPeer::name(peer.kind());
    const LoadGenerator::Throughput result = generator.throughput(m_frames, m_options.writeSize);
    const qint64 peak = peer.peakResidentBytes();
    if (!result.problem.isEmpty()) {
        fail(name, QStringLiteral("throughput on frames"), withOutput(peer, result.problem));
        return;
    }
    m_results.add(name, BenchFigures::FramesThroughput, double(result.bytes) / result.seconds / 1e6);
    if (peak > 0 && peer.kind() != RelayPeer::Kind::Program)
        m_results.add(name, BenchFigures::PeakResident, double(peak) / MiB);
    peer.stop();
    const CaptureCheck check = CaptureCheck::of(peer.captureFolder(), peer.inPort(), m_frames);
    if (!check.equal)
        fail(name, QStringLiteral("throughput on frames capture"), check.problem);
}

void Benchmark::decodingCost()
{
    // The stream split into frames once, as the program splits it (in chunks of 64 KiB), then
    // decoded into pane lines, rows and positions.csv lines, chunk by chunk, as the program does.
    FrameSplitter splitter(ProtocolChoice::detect());
    QList<FrameSplitter::Result> chunks;
    for (qsizetype at = 0; at < m_frames.size(); at += 64 * 1024)
        chunks.append(splitter.feed(m_frames.mid(at, 64 * 1024)));
    LiveDecoder decoder(QStringLiteral("127.0.0.1:40312"));
    QByteArray csv;
    qint64 records = 0;
    QElapsedTimer timer;
    timer.start();
    for (qsizetype i = 0; i < chunks.size(); ++i) {
        decoder.decode(chunks[i].frames, qint32(i + 1), 1'796'586'207'000'000);
        csv.resize(0);
        for (const PositionRow &row : decoder.rows())
            PositionsCsv::appendLine(csv, row);
        records += qint64(decoder.rows().size());
    }
    const qint64 nanoseconds = timer.nsecsElapsed();
    if (records == 0) {
        fail(BenchFigures::Decoding, QStringLiteral("ns per record"), QStringLiteral("no record decoded"));
        return;
    }
    m_results.add(BenchFigures::Decoding, QStringLiteral("ns per record"), double(nanoseconds) / double(records));
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

void Benchmark::replay()
{
    // A session recorded with its times: a tracker sends a few messages, 5 ms apart.
    const QString folder = QDir(m_root).filePath(QStringLiteral("replay"));
    QDir().mkpath(folder);
    LoopbackSocket outServer = LoopbackSocket::listen();
    RelayPeer recorder(RelayPeer::Kind::Indexing, m_options.program);
    QString problem = recorder.start(outServer.localPort(), folder, RelayPeer::Output::Discard);
    {
        LoopbackSocket tracker = LoopbackSocket::connectTo(recorder.inPort(), m_options.patience);
        LoopbackSocket out = outServer.accept(m_options.patience);
        char drain[4096];
        for (int i = 0; problem.isEmpty() && i < m_options.replayChunks; ++i) {
            if (!tracker.sendAll(m_stream.constData() + qsizetype(i) * m_options.messageSize, m_options.messageSize))
                problem = QStringLiteral("the recording's tracker could not send");
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            while (out.receive(drain, sizeof drain) > 0) {
            }
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    recorder.stop();
    if (!problem.isEmpty()) {
        fail(BenchFigures::Replay, QStringLiteral("recording"), problem);
        return;
    }

    // Played on one connection, then on many, against an echo server: every byte comes back.
    EchoServer echo;
    for (const int trackers : {1, m_options.replayTrackers}) {
        const QString output = QDir(m_root).filePath(QStringLiteral("replayed-%1").arg(trackers));
        QProcess process;
        process.start(m_options.program, {QStringLiteral("replay"), QStringLiteral("--capture-dir"),
                                          recorder.captureFolder(), QStringLiteral("--to"),
                                          QStringLiteral("127.0.0.1:%1").arg(echo.port()), QStringLiteral("--trackers"),
                                          QString::number(trackers), QStringLiteral("--no-wait"),
                                          QStringLiteral("--output"), output});
        const bool finished = process.waitForFinished(int(m_options.patience.count()) * 1000 * 4);
        const QString summary = QString::fromLocal8Bit(process.readAllStandardOutput());
        const auto number = [&summary](const char *pattern) {
            const QRegularExpressionMatch match = QRegularExpression(QLatin1StringView(pattern)).match(summary);
            return match.hasMatch() ? match.captured(1).toDouble() : -1.0;
        };
        const double sent = number("Sent: \\d+ chunks?, (\\d+) bytes?");
        const double answered = number("Answers: \\d+ chunks?, (\\d+) bytes?");
        if (!finished || process.exitCode() != 0 || sent <= 0) {
            fail(BenchFigures::Replay, QStringLiteral("%1 trackers").arg(trackers),
                 summary + QString::fromLocal8Bit(process.readAllStandardError()));
            continue;
        }
        // What came back is captured, byte for byte.
        qint64 captured = 0;
        for (const QFileInfo &file : QDir(output).entryInfoList({QStringLiteral("*.dat")}, QDir::Files))
            captured += file.size();
        const QString of = trackers == 1 ? QStringLiteral("1 tracker") : QStringLiteral("%1 trackers").arg(trackers);
        m_results.add(BenchFigures::Replay, QStringLiteral("answer p50 ms, %1").arg(of),
                      number("Chunk to answer: p50 ([0-9.]+) ms"));
        m_results.add(BenchFigures::Replay, QStringLiteral("answer p99 ms, %1").arg(of),
                      number("Chunk to answer: p50 [0-9.]+ ms, p99 ([0-9.]+) ms"));
        m_results.add(BenchFigures::Replay, QStringLiteral("bytes sent, %1").arg(of), sent);
        m_results.add(BenchFigures::Replay, QStringLiteral("bytes answered and captured, %1").arg(of),
                      std::min(answered, double(captured)));
    }
}

// The fleet run is one long measurement; the trackers and the timing echo server run on threads
// of their own. Sixty lines: the two phases and the checks read best in one place.
void Benchmark::fleet()
{
    const int count = m_options.fleetTrackers;
    const QString name = RelayPeer::name(RelayPeer::Kind::Fleet);
    const QString folder = QDir(m_root).filePath(QStringLiteral("fleet"));
    QDir().mkpath(folder);
    Fleet::EchoTimer server;
    RelayPeer peer(RelayPeer::Kind::Fleet, m_options.program);
    peer.setExtraArguments({QStringLiteral("--max-trackers"), QString::number(count)});
    if (const QString problem = peer.start(server.port(), folder, RelayPeer::Output::Discard); !problem.isEmpty()) {
        fail(name, QStringLiteral("start"), problem);
        return;
    }
    const auto of = [](const char *figure, int trackers) {
        return QStringLiteral("%1, %2 tracker%3")
            .arg(QLatin1StringView(figure))
            .arg(trackers)
            .arg(trackers == 1 ? QString() : QStringLiteral("s"));
    };
    QHash<int, QByteArray> sent;
    qint64 echoedRight = 0;
    qint64 sentBytes = 0;
    int descriptorsBefore = -1;
    for (const int trackers : {1, count}) {
        progress(QStringLiteral("fleet: %1").arg(of("sending", trackers)));
        const bool one = trackers == 1;
        const double cpuBefore = peer.cpuSeconds();
        // Sending starts once every tracker has its relay: the times are those of a fleet at work.
        const int relays = server.connections() + trackers;
        const Fleet::Trackers::Result result = Fleet::Trackers::run(
            peer.inPort(), trackers, one ? count : 0, std::chrono::milliseconds(one ? 50 : 1000),
            std::chrono::seconds(one ? m_options.baselineSeconds : m_options.fleetSeconds), m_options.patience,
            [&server, relays] { return server.connections() >= relays; });
        m_results.add(BenchFigures::Fleet, of("connected and relayed ms", trackers), double(result.connectedMs));
        const qint64 peak = peer.peakResidentBytes();
        if (!result.problem.isEmpty())
            fail(name, of("sending", trackers), withOutput(peer, result.problem));
        for (qsizetype i = 0; i < result.sent.size(); ++i) {
            sent.insert(result.firstId + int(i), result.sent[i]);
            sentBytes += result.sent[i].size();
            echoedRight += result.received[i] == result.sent[i] ? result.sent[i].size() : 0;
        }
        const QList<double> micros = server.takeMicros();
        m_results.add(BenchFigures::Fleet, of("chunk to OUT p50 ms", trackers), percentile(micros, 0.5) / 1000);
        m_results.add(BenchFigures::Fleet, of("chunk to OUT p99 ms", trackers), percentile(micros, 0.99) / 1000);
        if (!one && peak > 0)
            m_results.add(BenchFigures::Fleet, of("peak RSS MiB", trackers), double(peak) / MiB);
        const int seconds = one ? m_options.baselineSeconds : m_options.fleetSeconds;
        m_results.add(BenchFigures::Fleet, of("CPU %", trackers), (peer.cpuSeconds() - cpuBefore) / seconds * 100);
        // Counted once the one tracker has gone: its connection and its relay are closed by then.
        for (int waited = 0; one && waited < 50 && (descriptorsBefore = peer.openDescriptors()) > 0; ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (peer.openDescriptors() == descriptorsBefore)
                break;
        }
    }
    int descriptorsAfter = peer.openDescriptors();
    for (int waited = 0; waited < 150 && descriptorsAfter > descriptorsBefore; ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        descriptorsAfter = peer.openDescriptors();
    }
    m_results.add(BenchFigures::Fleet, QStringLiteral("descriptors open before"), descriptorsBefore);
    m_results.add(BenchFigures::Fleet, QStringLiteral("descriptors open after"), descriptorsAfter);
    m_results.add(BenchFigures::Fleet, QStringLiteral("bytes sent"), double(sentBytes));
    m_results.add(BenchFigures::Fleet, QStringLiteral("bytes echoed to the right tracker"), double(echoedRight));
    if (echoedRight != sentBytes)
        fail(name, QStringLiteral("echo"),
             QStringLiteral("%1 of %2 bytes came back to their tracker").arg(echoedRight).arg(sentBytes));
    peer.stop();
    qint64 captured = 0;
    const QString problem = Fleet::checkCaptured(peer.captureFolder(), peer.inPort(), sent, captured);
    m_results.add(BenchFigures::Fleet, QStringLiteral("bytes captured"), double(problem.isEmpty() ? captured : 0));
    if (!problem.isEmpty())
        fail(name, QStringLiteral("capture"), problem);
}

void Benchmark::udp(RelayPeer::Kind kind, const QString &executable)
{
    const QString name = RelayPeer::name(kind);
    static int runNumber = 0;
    const QString folder = QDir(m_root).filePath(QStringLiteral("udp%1").arg(++runNumber));
    QDir().mkpath(folder);
    UdpLoad load(m_options.patience);
    RelayPeer peer(kind, executable);
    peer.setUdp(true);
    if (const QString problem = peer.start(load.serverPort(), folder, RelayPeer::Output::Discard); !problem.isEmpty()) {
        fail(name, QStringLiteral("udp"), problem);
        return;
    }
    const int probes = load.waitReady(peer.inPort());
    if (probes < 0) {
        fail(name, QStringLiteral("udp"), withOutput(peer, QStringLiteral("no datagram came through")));
        return;
    }
    const auto figure = [&name](const QString &what) { return name + QStringLiteral(": ") + what; };
    const UdpLoad::Latency latency = load.latency(peer.inPort(), m_options.messages, m_options.messageSize);
    if (!latency.problem.isEmpty())
        fail(name, QStringLiteral("udp latency"), withOutput(peer, latency.problem));
    m_results.add(BenchFigures::Udp, figure(BenchFigures::LatencyP50), percentile(latency.micros, 0.50));
    m_results.add(BenchFigures::Udp, figure(BenchFigures::LatencyP99), percentile(latency.micros, 0.99));
    const UdpLoad::Burst burst =
        load.pacedBurst(peer.inPort(), m_options.udpBurst, m_options.messageSize, m_options.udpRate);
    m_results.add(BenchFigures::Udp, figure(QStringLiteral("burst received / sent")),
                  double(burst.received) / std::max(burst.sent, 1));
    if (peer.isProgram()) {
        m_results.add(BenchFigures::Udp, figure(BenchFigures::PeakResident), double(peer.peakResidentBytes()) / MiB);
        peer.stop();
        const int expected = probes + int(latency.micros.size()) + burst.sent;
        const int captured = int(QDir(peer.captureFolder()).entryList({QStringLiteral("*.dat")}, QDir::Files).size());
        m_results.add(BenchFigures::Udp, figure(QStringLiteral("datagrams captured / sent")),
                      double(captured) / std::max(expected, 1));
    }
    peer.stop();
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
    m_results.addTarget({QStringLiteral("latency p50 window"), m_results.median(window, LatencyP50),
                         m_results.median(socatDump, LatencyP50), 0.6, false, QStringLiteral("window / socat -x -v")});
    m_results.addTarget({QStringLiteral("latency p99 window"), m_results.median(window, LatencyP99),
                         m_results.median(socatDump, LatencyP99), 0.6, false, QStringLiteral("window / socat -x -v")});
    const QString recognising = RelayPeer::name(RelayPeer::Kind::Recognising);
    const QString indexing = RelayPeer::name(RelayPeer::Kind::Indexing);
    m_results.addTarget({QStringLiteral("throughput with protocol + ack"),
                         m_results.median(recognising, BenchFigures::FramesThroughput),
                         m_results.median(program, BenchFigures::FramesThroughput), 0.9, true,
                         QStringLiteral("recognising / plain, on frames")});
    const QString decoding = RelayPeer::name(RelayPeer::Kind::Decoding);
    m_results.addTarget({QStringLiteral("throughput with --decode"),
                         m_results.median(decoding, BenchFigures::FramesThroughput),
                         m_results.median(program, BenchFigures::FramesThroughput), 0.8, true,
                         QStringLiteral("decoding / plain, on frames")});
    m_results.addTarget({QStringLiteral("peak memory headless, decoding"), m_results.median(decoding, BenchFigures::PeakResident),
                         50.0, 1.0, false, QStringLiteral("MiB / 50 MiB")});
    m_results.addTarget({QStringLiteral("latency p50 with the session index"), m_results.median(indexing, LatencyP50),
                         m_results.median(program, LatencyP50), 1.05, false, QStringLiteral("indexing / plain")});
    const QString watchedPeer = RelayPeer::name(RelayPeer::Kind::Watched);
    for (const QString &figure : {LatencyP50, LatencyP99}) {
        m_results.addTarget({QStringLiteral("latency %1 with %2 live viewers")
                                 .arg(figure == LatencyP50 ? QStringLiteral("p50") : QStringLiteral("p99"))
                                 .arg(LiveViewerCount),
                             m_results.median(watchedPeer, figure), m_results.median(program, figure), 1.1, false,
                             QStringLiteral("watched / plain")});
    }
    m_results.addTarget({QStringLiteral("throughput with %1 live viewers").arg(LiveViewerCount),
                         m_results.median(watchedPeer, BenchFigures::Throughput),
                         m_results.median(program, BenchFigures::Throughput), 0.9, true,
                         QStringLiteral("watched / plain")});
    m_results.addTarget({QStringLiteral("replay, every answer captured"),
                         m_results.median(BenchFigures::Replay, QStringLiteral("bytes answered and captured, %1 trackers")
                                                                    .arg(m_options.replayTrackers)),
                         m_results.median(BenchFigures::Replay,
                                          QStringLiteral("bytes sent, %1 trackers").arg(m_options.replayTrackers)),
                         1.0, true, QStringLiteral("answered and captured / sent, bytes")});
    const auto ofUdp = [this](RelayPeer::Kind kind, const QString &figure) {
        return m_results.median(BenchFigures::Udp, RelayPeer::name(kind) + QStringLiteral(": ") + figure);
    };
    for (const QString &figure : {LatencyP50, LatencyP99})
        m_results.addTarget({QStringLiteral("UDP ") + figure, ofUdp(RelayPeer::Kind::Program, figure),
                             ofUdp(RelayPeer::Kind::SocatDump, figure), 0.6, false,
                             QStringLiteral("program / socat -x -v")});
    m_results.addTarget({QStringLiteral("UDP paced burst, none lost"),
                         ofUdp(RelayPeer::Kind::Program, QStringLiteral("burst received / sent")), 1.0, 1.0, true,
                         QStringLiteral("received / sent")});
    m_results.addTarget({QStringLiteral("UDP peak memory headless"),
                         ofUdp(RelayPeer::Kind::Program, BenchFigures::PeakResident), 50.0, 1.0, false,
                         QStringLiteral("MiB / 50 MiB")});
    const int fleet = m_options.fleetTrackers;
    const auto ofFleet = [fleet](const char *figure) {
        return QStringLiteral("%1, %2 trackers").arg(QLatin1StringView(figure)).arg(fleet);
    };
    m_results.addTarget({QStringLiteral("fleet, chunk to OUT p99"),
                         m_results.median(BenchFigures::Fleet, ofFleet("chunk to OUT p99 ms")),
                         m_results.median(BenchFigures::Fleet, QStringLiteral("chunk to OUT p99 ms, 1 tracker")), 2.0,
                         false, QStringLiteral("%1 trackers / 1 tracker").arg(fleet)});
    const double fleetMiB = 50.0 + fleet * 32.0 / 1024.0;
    m_results.addTarget({QStringLiteral("fleet, peak memory"),
                         m_results.median(BenchFigures::Fleet, ofFleet("peak RSS MiB")), fleetMiB, 1.0, false,
                         QStringLiteral("MiB / (50 MiB + 32 KiB x %1)").arg(fleet)});
    m_results.addTarget({QStringLiteral("fleet, every byte captured"),
                         m_results.median(BenchFigures::Fleet, QStringLiteral("bytes captured")),
                         m_results.median(BenchFigures::Fleet, QStringLiteral("bytes sent")), 1.0, true,
                         QStringLiteral("captured / sent, bytes")});
    m_results.addTarget({QStringLiteral("fleet, every byte echoed to its tracker"),
                         m_results.median(BenchFigures::Fleet, QStringLiteral("bytes echoed to the right tracker")),
                         m_results.median(BenchFigures::Fleet, QStringLiteral("bytes sent")), 1.0, true,
                         QStringLiteral("echoed to the right tracker / sent, bytes")});
    m_results.addTarget({QStringLiteral("fleet, no descriptor left open"),
                         m_results.median(BenchFigures::Fleet, QStringLiteral("descriptors open after")),
                         m_results.median(BenchFigures::Fleet, QStringLiteral("descriptors open before")), 1.0, false,
                         QStringLiteral("after / before the fleet")});
    m_results.addTarget({QStringLiteral("peak memory headless"), m_results.median(program, BenchFigures::PeakResident),
                         50.0, 1.0, false, QStringLiteral("MiB / 50 MiB")});
    m_results.addTarget({QStringLiteral("peak memory headless, features on"),
                         m_results.median(RelayPeer::name(RelayPeer::Kind::AllFeatures), BenchFigures::PeakResident),
                         50.0, 1.0, false,
                         QStringLiteral("MiB / 50 MiB")});
    m_results.addTarget({QStringLiteral("peak memory window"), m_results.median(window, BenchFigures::PeakResident),
                         150.0, 1.0, false, QStringLiteral("MiB / 150 MiB")});
}
