// Real trackers kept talking: the engine recognises the tracker's protocol, acknowledges its
// frames as a server would, or passes the OUT server's answers on; and records every event.

#include "capturefiles.h"
#include "enginerig.h"
#include "outputfile.h"
#include "sessionrecorder.h"

#include <QtTest>

#include <cerrno>

namespace {

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

// Teltonika wiki, "Teltonika Data Sending Protocols": the IMEI handshake and the Codec 8 example.
const QByteArray TeltonikaImei = hex("000F333536333037303432343431303133");
const QByteArray TeltonikaAvl = hex("000000000000003608010000016B40D8EA30010000000000000000000000000000000105021503010101"
                                    "425E0F01F10000601A014E0000000000000000010000C7CF");
// Concox GT06 protocol document: the login packet and the server's answer to it.
const QByteArray Gt06Login = hex("78780D01012345678901234500018CDD0D0A");
const QByteArray Gt06LoginAnswer = hex("787805010001D9DC0D0A");

} // namespace

class tst_TrackerDialogue final : public QObject
{
    Q_OBJECT

private slots:
    void acknowledgedLikeAServer_data()
    {
        QTest::addColumn<QString>("protocol"); // empty: detected
        QTest::addColumn<QList<QByteArray>>("frames");
        QTest::addColumn<QList<QByteArray>>("answers");
        QTest::addColumn<QString>("spoken");
        QTest::addColumn<QString>("notes");

        const QString teltonika = QStringLiteral("Teltonika, device 356307042441013");
        QTest::newRow("Teltonika session") << QString() << QList<QByteArray>{TeltonikaImei, TeltonikaAvl}
                                           << QList<QByteArray>{hex("01"), hex("00000001")} << teltonika
                                           << QStringLiteral("Teltonika IMEI|Teltonika AVL 1 record");
        QTest::newRow("GT06 login, split in two chunks")
            << QStringLiteral("gt06") << QList<QByteArray>{Gt06Login.left(7), Gt06Login.mid(7)}
            << QList<QByteArray>{QByteArray(), Gt06LoginAnswer} << QStringLiteral("GT06, device 123456789012345")
            << QStringLiteral("partial frame|GT06 login");
        QTest::newRow("twenty packets in one chunk, answered in one write")
            << QString() << QList<QByteArray>{TeltonikaImei, TeltonikaAvl.repeated(20)}
            << QList<QByteArray>{hex("01"), hex("00000001").repeated(20)} << teltonika
            << QStringLiteral("Teltonika IMEI|20 frames");
        QByteArray wrongCrc = TeltonikaAvl;
        wrongCrc[wrongCrc.size() - 1] = char(wrongCrc.back() ^ 1);
        QTest::newRow("a wrong checksum gets no answer")
            << QStringLiteral("teltonika") << QList<QByteArray>{TeltonikaImei, wrongCrc}
            << QList<QByteArray>{hex("01"), QByteArray()} << teltonika
            << QStringLiteral("Teltonika IMEI|Teltonika AVL 1 record; bad checksum");
        QTest::newRow("NMEA carries no device and gets no answer")
            << QString() << QList<QByteArray>{"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"}
            << QList<QByteArray>{QByteArray()} << QStringLiteral("NMEA") << QStringLiteral("NMEA GPGGA");
    }

    void acknowledgedLikeAServer()
    {
        QFETCH(QString, protocol);
        QFETCH(QList<QByteArray>, frames);
        QFETCH(QList<QByteArray>, answers);
        QFETCH(QString, spoken);
        QFETCH(QString, notes);
        EngineRig rig;
        rig.keepEvents();
        rig.controls.switches.acknowledge = true;
        if (!protocol.isEmpty())
            rig.controls.switches.protocol = protocolChoiceFromName(protocol);
        rig.start();
        auto tracker = rig.connectTracker();
        QVERIFY(tracker);
        for (int i = 0; i < frames.size(); ++i) {
            QVERIFY(rig.sendChunk(*tracker, frames.at(i)));
            QByteArray answer;
            (void)QTest::qWaitFor([&] { return !(answer += tracker->readAll()).isEmpty(); }, 300);
            QCOMPARE(answer, answers.at(i));
            // The captures stay byte-exact.
            QCOMPARE(rig.file(EngineRig::name(i + 1, rig.inPort, "dat")), frames.at(i));
        }
        QVERIFY(rig.controls.log.contains(QStringLiteral("Tracker 127.0.0.1 speaks %1.\r\n").arg(spoken)));
        QStringList acks;
        QStringList ackNotes;
        QStringList inNotes;
        for (const SessionEvent &event : std::as_const(rig.events)) {
            if (event.kind == SessionEvent::Kind::Ack) {
                acks.append(QString::fromLatin1(event.bytes.toHex()));
                ackNotes.append(event.note);
            }
            if (event.kind == SessionEvent::Kind::In)
                inNotes.append(event.note);
        }
        QCOMPARE(inNotes.join(QLatin1Char('|')), notes);
        // Each answer shows in the pane as a capture does.
        const QByteArray last = answers.constLast();
        if (!last.isEmpty()) {
            QCOMPARE(acks.constLast(), QString::fromLatin1(last.toHex()));
            QCOMPARE(ackNotes.constLast(), inNotes.constLast()); // the one frame answered
            QCOMPARE(rig.controls.line(0) + rig.controls.line(1),
                     QStringLiteral(": ACK (HEXAD):%1\r\n: ACK (ASCII):%2\r\n")
                         .arg(CaptureFiles::hexRendering(last), CaptureFiles::asciiRendering(last)));
        }
    }

    void answersPassedThrough()
    {
        // A transparent, recording proxy: the server answers, the analyzer stays silent.
        EngineRig rig(EngineRig::Relay::ToOwnServer);
        rig.keepEvents();
        rig.controls.switches.passAnswers = true;
        rig.controls.switches.acknowledge = true;
        rig.start();
        QTRY_VERIFY(rig.out->connection);
        auto tracker = rig.connectTracker();
        QVERIFY(tracker);
        QVERIFY(rig.sendChunk(*tracker, TeltonikaImei));
        QTRY_COMPARE(rig.out->received, TeltonikaImei);
        rig.out->connection->write(hex("01"));
        QByteArray answered;
        QTRY_COMPARE((answered += tracker->readAll()), hex("01"));
        QCOMPARE(rig.file(EngineRig::name(2, rig.outPort, "dat")), hex("01"));
        QCOMPARE(rig.controls.line(0), QStringLiteral(":  -> (HEXAD): 1\r\n"));

        // With the tracker gone, an answer is captured only, and the run goes on.
        tracker->disconnectFromHost();
        QTRY_VERIFY(!rig.engine.state().SlotInUse[1]);
        rig.out->connection->write("late");
        QTRY_COMPARE(rig.file(EngineRig::name(3, rig.outPort, "dat")), QByteArray("late"));
        QVERIFY(!rig.engine.hasEnded());
        QCOMPARE(kinds(rig.events), QStringLiteral("listen connect in out pass disconnect out"));
        QCOMPARE(rig.events.at(4).number, 2); // the pass names the capture it passed, and the tracker
        QCOMPARE(rig.events.at(4).peer, rig.events.at(1).peer);
        QCOMPARE(rig.events.at(4).file, EngineRig::name(2, rig.outPort, "dat"));
    }

    // Decoding: each record a line after the chunk's and its answer's lines, each frame without
    // records one; the rows, with the chunk's capture number, go to the front end and the recorder.
    // A frame whose CRC fails is not decoded.
    void decodesLive()
    {
        struct Rows final : PositionRecorder
        {
            explicit Rows(QList<PositionRow> &kept) : rows(kept) {}
            void record(std::span<const PositionRow> chunk) override { rows.append(QList(chunk.begin(), chunk.end())); }
            QList<PositionRow> &rows;
        };
        EngineRig rig;
        QList<PositionRow> rows;
        rig.controls.switches.decode = true;
        rig.controls.switches.acknowledge = true;
        rig.engine.setPositionRecorderFactory([&rows](const QString &) { return std::make_unique<Rows>(rows); });
        rig.start();
        auto tracker = rig.connectTracker();
        QVERIFY(tracker);
        QVERIFY(rig.sendChunk(*tracker, TeltonikaImei));
        QCOMPARE(rig.controls.line(0), QStringLiteral(": DEC: Teltonika 356307042441013 IMEI imei=356307042441013\r\n"));
        QByteArray wrongCrc = TeltonikaAvl;
        wrongCrc[wrongCrc.size() - 1] = 0;
        QVERIFY(rig.sendChunk(*tracker, TeltonikaAvl + wrongCrc));
        QCOMPARE(rig.controls.line(0), QStringLiteral(": POS: Teltonika 356307042441013 2019-06-10T10:04:46Z invalid "
                                                      "0.0000000,0.0000000 alt 0 m 0 km/h 0° 0 sats priority=1 event=1 "
                                                      "io21=3 io1=1 io66=24079 io241=24602 io78=0\r\n"));
        QVERIFY(rig.controls.line(1).startsWith(QStringLiteral(": ACK (HEXAD):")));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].number, 2);
        QCOMPARE(rows[0].device, QStringLiteral("356307042441013"));
        QVERIFY(rows[0].peer.startsWith(QStringLiteral("127.0.0.1:")));
        QCOMPARE(*rows[0].record.fixTimeMs, 1'560'161'086'000);
    }

    // The index line of a chunk is written once the chunk has gone on to the OUT server, so that
    // the relay never waits for the index: when that line cannot be written, the chunk has been
    // relayed all the same, and the failure is reported once, with the lines before it written.
    void indexWrittenAfterTheRelay()
    {
        struct FullDisk final : SessionRecorder
        {
            explicit FullDisk(QList<SessionEvent> &kept) : events(kept) {}
            void record(const SessionEvent &event) override
            {
                if (event.kind == SessionEvent::Kind::In)
                    throw fileError(ENOSPC, QStringLiteral("index.tsv"));
                events.append(event);
            }
            QList<SessionEvent> &events;
        };
        EngineRig rig(EngineRig::Relay::ToOwnServer);
        rig.controls.switches.sessionIndex = true;
        rig.engine.setRecorderFactory([&rig](const QString &) { return std::make_unique<FullDisk>(rig.events); });
        rig.start();
        QTRY_VERIFY(rig.out->connection);
        auto tracker = rig.connectTracker();
        QVERIFY(tracker);
        QVERIFY(rig.sendChunk(*tracker, TeltonikaImei));
        QTRY_COMPARE(rig.out->received, TeltonikaImei);
        QVERIFY(rig.engine.hasEnded());
        QCOMPARE(rig.controls.reports.size(), 1);
        QCOMPARE(rig.controls.reports.constFirst().number, 61);
        QCOMPARE(kinds(rig.events), QStringLiteral("listen connect"));
    }
};

QTEST_GUILESS_MAIN(tst_TrackerDialogue)
#include "tst_trackerdialogue.moc"
