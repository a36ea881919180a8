#ifndef GPSA_SESSIONFOLDER_H
#define GPSA_SESSIONFOLDER_H

#include "capturefiles.h"
#include "loopbacksocket.h"
#include "sessionindexfile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>
#include <tuple>

using namespace Qt::StringLiterals;
using Kind = SessionEvent::Kind;

const QString Tracker1 = u"127.0.0.1:40312"_s;
const QString Tracker2 = u"127.0.0.1:40313"_s;
const QString OutServer = u"127.0.0.1:5001"_s;
// The NMEA 0183 RMC example sentence, as trackers of the NMEA kind send it.
const QByteArray Rmc = "$GPRMC,123519,A,4807.038,N,01131.000,E*6A\r\n";
const QByteArray Ping = "*PING#\r\n";
const QByteArray Ack = "ACK\r\n";
const QByteArray Big = LoopbackSocket::randomBytes(5000, 1); // four segments

// A capture folder written as the engine writes one: data files, and index.tsv through the real
// writer. Times are microseconds after Start.
struct SessionFolder
{
    static constexpr qint64 Start = 1'796'586'207'000'000; // 2026-12-06T19:43:27Z

    // One event. The bytes of an in or out chunk go to its data file (its length log is left out:
    // nothing reads it back), those of a cmd to its line; a pass is the last chunk's answer passed
    // on, of the length of bytes.
    void add(Kind kind, qint64 atUs, const QString &peer, int port, const QByteArray &bytes = {},
             const QString &note = {})
    {
        const qint64 length = bytes.isEmpty() ? -1 : bytes.size();
        if (kind == Kind::In || kind == Kind::Out)
            write(lastFile = CaptureFiles::dataFile(number++, port), bytes);
        if (kind == Kind::In || kind == Kind::Out || kind == Kind::Pass)
            index->record({kind, Start + atUs, number - 1, peer, port, length, lastFile, {}, note});
        else
            index->record({kind, Start + atUs, 0, peer, port, length, {}, bytes, note});
    }

    // Two runs, each relaying to OutServer and with its own writer of the index. In the first, on
    // port 5000, Tracker1's first chunk is read while its connection is accepted; it gets a command
    // and an answer, sends a chunk of several segments and ends in a reset; Tracker2 is declined,
    // and an answer comes between connections. In the second, on port 6000, Tracker2 sends three
    // chunks 100, 400 and 500 ms after its connect and closes 100 ms later.
    void recordTwoRuns()
    {
        add(Kind::Listen, 0, {}, 5000, {}, u"relay to "_s + OutServer);
        add(Kind::In, 1'000'000, Tracker1, 5000, Rmc);
        add(Kind::Connect, 1'000'010, Tracker1, 5000, {}, u"local 127.0.0.1:5000"_s);
        add(Kind::Cmd, 1'100'000, Tracker1, 5000, Ping);
        add(Kind::Out, 1'200'000, OutServer, 5001, Ack);
        add(Kind::Pass, 1'200'100, Tracker1, 5000, Ack);
        add(Kind::Declined, 1'500'000, Tracker2, 5000);
        add(Kind::In, 2'000'000, Tracker1, 5000, Big);
        add(Kind::Error, 3'000'000, Tracker1, 5000, {}, u"10054 Connection is reset by remote side"_s);
        add(Kind::Out, 3'500'000, OutServer, 5001, "late");
        index = std::make_unique<SessionIndexFile>(dir.path());
        add(Kind::Listen, 4'000'000, {}, 6000, {}, u"relay to "_s + OutServer);
        add(Kind::Connect, 5'000'000, Tracker2, 6000, {}, u"local 127.0.0.1:6000"_s);
        add(Kind::In, 5'100'000, Tracker2, 6000, "one");
        add(Kind::In, 5'400'000, Tracker2, 6000, "two");
        add(Kind::In, 5'500'000, Tracker2, 6000, "three");
        add(Kind::Disconnect, 5'600'000, Tracker2, 6000);
    }

    // A run of several trackers at once on port 7000, each relaying over a connection of its own:
    // Tracker1 and Tracker2 overlap, each chunk answered on its tracker's relay, Tracker1's answer
    // passed on.
    void recordFleet()
    {
        const auto from = [](int port) { return u"from %1 local 127.0.0.1:%2"_s.arg(OutServer).arg(port); };
        add(Kind::Listen, 0, {}, 7000, {}, u"relay to %1 per tracker"_s.arg(OutServer));
        add(Kind::Connect, 1'000'000, Tracker1, 7000, {}, u"local 127.0.0.1:7000"_s);
        add(Kind::Connect, 1'100'000, Tracker2, 7000, {}, u"local 127.0.0.1:7000"_s);
        add(Kind::In, 1'200'000, Tracker1, 7000, "a1");
        add(Kind::In, 1'300'000, Tracker2, 7000, "b1");
        add(Kind::Out, 1'400'000, Tracker2, 5001, "B1", from(50002));
        add(Kind::Out, 1'500'000, Tracker1, 5001, "A1", from(50001));
        add(Kind::Pass, 1'500'100, Tracker1, 7000, "A1");
        add(Kind::Disconnect, 2'000'000, Tracker2, 7000);
        add(Kind::In, 2'100'000, Tracker1, 7000, "a2");
        add(Kind::Disconnect, 3'000'000, Tracker1, 7000);
    }

    // A run on port 8000 bound for UDP too and relaying: Tracker1's first datagram is
    // acknowledged, its second answered by the server on the peer's own socket and passed on;
    // then it goes quiet.
    void recordUdp()
    {
        add(Kind::Listen, 0, {}, 8000, {}, u"relay to "_s + OutServer);
        add(Kind::UdpPeer, 1'000'000, Tracker1, 8000, {}, u"udp local 0.0.0.0:8000"_s);
        add(Kind::In, 1'000'010, Tracker1, 8000, Rmc, u"udp"_s);
        add(Kind::Ack, 1'000'100, Tracker1, 8000, Ack, u"udp"_s);
        add(Kind::In, 2'000'000, Tracker1, 8000, Big, u"udp"_s);
        add(Kind::Out, 2'100'000, Tracker1, 5001, "late", u"udp from %1 local 127.0.0.1:50001"_s.arg(OutServer));
        add(Kind::Pass, 2'100'100, Tracker1, 8000, "late", u"udp"_s);
        add(Kind::UdpQuiet, 302'100'100, Tracker1, 8000, {}, u"udp"_s);
    }

    void write(const QString &name, const QByteArray &bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly)
    {
        QFile f(dir.filePath(name));
        if (f.open(mode))
            f.write(bytes);
    }

    QTemporaryDir dir;
    std::unique_ptr<SessionIndexFile> index = std::make_unique<SessionIndexFile>(dir.path());
    qint32 number = 1;
    QString lastFile;
};

// What a subcommand (exportCommand, replayCommand) returned, and printed on output and on errors;
// the arguments start with its name.
template<typename Command>
std::tuple<int, QString, QString> runCommand(Command command, const QStringList &arguments)
{
    QString output, errors;
    QTextStream out(&output), err(&errors); // each write lands in the string at once
    const int status = command(QStringList{u"gps-analyzer"_s} + arguments, out, err);
    return {status, output, errors};
}

#endif
