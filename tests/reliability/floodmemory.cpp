// Measures the peak memory of the program through a flood: starts the program given after
// "--" with a free IN port, the relay on to an OUT server of its own, and a capture folder of
// its own; a tracker then streams random bytes as fast as loopback allows while the OUT
// server answers with a stream of its own. Prints the program's resident memory before the
// flood and its peak (VmHWM) after it, and checks that every byte was captured and relayed.
//
//   gpsa_floodmemory [--mib N] -- PROGRAM [ARGUMENTS...]
//
// For example, headless:   gpsa_floodmemory -- build/app/gps-analyzer --headless
//           and windowed:  QT_QPA_PLATFORM=offscreen gpsa_floodmemory -- build/app/gps-analyzer --start

#include "capturefolder.h"
#include "loopbackpeer.h"
#include "nativeoutserver.h"
#include "testpeers.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

namespace {

qint64 statusOf(qint64 pid, const char *field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

qint64 capturedBytes(const QString &folder, int port)
{
    qint64 total = 0;
    const QString suffix = QStringLiteral("_%1.dat").arg(port);
    for (const QFileInfo &file : QDir(folder).entryInfoList(QDir::Files)) {
        if (file.fileName().endsWith(suffix))
            total += file.size();
    }
    return total;
}

int fail(const char *what)
{
    std::fprintf(stderr, "gpsa_floodmemory: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    qsizetype mib = 64;
    if (arguments.size() >= 2 && arguments.first() == QLatin1StringView("--mib")) {
        mib = arguments.at(1).toLongLong();
        arguments = arguments.mid(2);
    }
    if (arguments.size() < 2 || arguments.first() != QLatin1StringView("--") || mib <= 0)
        return fail("usage: gpsa_floodmemory [--mib N] -- PROGRAM [ARGUMENTS...]");
    const QString program = arguments.at(1);
    arguments = arguments.mid(2);

    const qsizetype size = mib * 1024 * 1024;
    const QByteArray trackerBytes = LoopbackPeer::randomBytes(size, 6101);
    const QByteArray answerBytes = LoopbackPeer::randomBytes(size / 4, 6102);
    NativeOutServer out(trackerBytes, answerBytes);
    QTemporaryDir folder;
    if (!out.isListening() || !folder.isValid())
        return fail("no OUT server or capture folder");
    const quint16 inPort = freeLoopbackPort();
    arguments << QStringLiteral("--in-port") << QString::number(inPort) << QStringLiteral("--out-port")
              << QString::number(out.port()) << QStringLiteral("--relay") << QStringLiteral("--capture-dir")
              << folder.path();

    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return fail("the program does not start");
    const qint64 pid = process.processId();

    // The program is ready once its IN port takes connections and the OUT server has it.
    int tracker = -1;
    const QDeadlineTimer ready(30000);
    while (!ready.hasExpired() && process.state() == QProcess::Running) {
        if (out.hasConnection() && (tracker = LoopbackPeer::connectTo(inPort)) >= 0)
            break;
        QThread::msleep(50);
    }
    if (tracker < 0)
        return fail("the program does not listen");
    QThread::msleep(500);
    const qint64 residentBefore = statusOf(pid, "VmRSS");
    const qint64 peakBefore = statusOf(pid, "VmHWM");
    // The peak of the start-up is forgotten, so that VmHWM tells the flood's own peak.
    QFile clearRefs(QStringLiteral("/proc/%1/clear_refs").arg(pid));
    const bool peakReset = clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
    clearRefs.close();

    QElapsedTimer clock;
    clock.start();
    if (!LoopbackPeer::sendAll(tracker, trackerBytes))
        return fail("the tracker's connection broke");
    const QDeadlineTimer done(600000);
    while (!done.hasExpired() && process.state() == QProcess::Running &&
           (out.received() < size || capturedBytes(folder.path(), out.port()) < answerBytes.size()))
        QThread::msleep(20);
    const qint64 elapsed = clock.elapsed();
    const qint64 peak = statusOf(pid, "VmHWM");
    const qint64 residentAfter = statusOf(pid, "VmRSS");
    LoopbackPeer::closeSocket(tracker);

    process.terminate();
    process.waitForFinished(10000);

    const CaptureFolder captures(folder.path());
    qint64 largestIn = 0;
    qint64 largestAnswer = 0;
    for (const CaptureFolder::Capture &capture : captures.captures()) {
        qint64 &largest = capture.port == inPort ? largestIn : largestAnswer;
        largest = qMax(largest, QFileInfo(capture.dataPath).size());
    }
    const bool exact = out.firstMismatch() < 0 && out.received() == size &&
                       captures.sequenceProblem().isEmpty() && captures.lengthLogProblem().isEmpty() &&
                       captures.joined(inPort) == trackerBytes && captures.joined(out.port()) == answerBytes;
    std::printf("%s %s\n  flood: %lld MiB in, %lld MiB answered, %lld captures (largest %lld bytes in, %lld answered), "
                "%lld ms, %s\n"
                "  resident memory: %lld KiB before the flood (start-up peak %lld KiB), %lld KiB after; "
                "peak through the flood %lld KiB%s\n",
                qPrintable(program), qPrintable(arguments.join(QLatin1Char(' '))), qint64(mib), qint64(mib / 4),
                qint64(captures.captures().size()), largestIn, largestAnswer, elapsed, exact ? "every byte captured and relayed, 0 lost"
                                                                   : "BYTES MISSING OR WRONG",
                residentBefore, peakBefore, residentAfter, peak,
                peakReset ? "" : " (the start-up peak included: it could not be reset)");
    return exact ? 0 : 1;
}
