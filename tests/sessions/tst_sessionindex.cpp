#include "platformerror.h"
#include "sessionerror.h"
#include "sessionfolder.h"
#include "sessionindex.h"
#include "sessionindexline.h"

#include <QDateTime>
#include <QtTest>

using Kind = SessionEvent::Kind;
Q_DECLARE_METATYPE(Kind)

namespace {

SessionEvent makeEvent(Kind kind, qint64 timeUs, qint32 number, const QString &peer, int port, qint64 length,
                       const QString &file, const QByteArray &bytes, const QString &note)
{
    return {kind, timeUs, number, peer, port, length, file, bytes, note};
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<Kind> kindsOf(const SessionIndex &index, const RecordedSession &session)
{
    QList<Kind> kinds{index.events()[session.connect].event.kind};
    for (const qsizetype i : session.events)
        kinds.append(index.events()[i].event.kind);
    return kinds;
}

QStringList names(std::initializer_list<const char *> list)
{
    QStringList result;
    for (const char *name : list)
        result.append(QString::fromLatin1(name));
    return result;
}

} // namespace

class TestSessionIndex final : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void utcTimeAgreesWithQDateTime();
    void badLine_data();
    void badLine();
    void headerOnceAcrossRuns();
    void writerNamesAMissingFolder();
    void sessionsOfAnIndex();
    void fallbackWithoutIndex_data();
    void fallbackWithoutIndex();
};

void TestSessionIndex::roundTrip_data()
{
    QTest::addColumn<SessionEvent>("event");
    QTest::addColumn<QByteArray>("line"); // empty: not compared

    const qint64 t = SessionFolder::Start + 123456;
    QByteArray allBytes;
    for (int b = 0; b < 256; ++b)
        allBytes.append(char(b));
    const QString tracker = QStringLiteral("127.0.0.1:40312");
    QTest::newRow("listen")
        << makeEvent(Kind::Listen, t, 0, {}, 5000, -1, {}, {}, QStringLiteral("relay to 127.0.0.1:5001"))
        << QByteArray("\t2026-12-06T19:43:27.123456Z\tlisten\t\t5000\t\t\t\trelay to 127.0.0.1:5001\n");
    QTest::newRow("connect") << makeEvent(Kind::Connect, t, 0, tracker, 5000, -1, {}, {},
                                          QStringLiteral("local 127.0.0.1:5000"))
                             << QByteArray();
    QTest::newRow("declined, no peer") << makeEvent(Kind::Declined, 0, 0, {}, 5000, -1, {}, {}, {})
                                       << QByteArray("\t1970-01-01T00:00:00.000000Z\tdeclined\t\t5000\t\t\t\t\n");
    QTest::newRow("in") << makeEvent(Kind::In, t, 1, tracker, 5000, 43, QStringLiteral("x0001_5000.dat"), {},
                                     QStringLiteral("GT06 login"))
                        << QByteArray("1\t2026-12-06T19:43:27.123456Z\tin\t127.0.0.1:40312\t5000\t43\tx0001_5000.dat\t\t"
                                      "GT06 login\n");
    QTest::newRow("in of length 0") << makeEvent(Kind::In, t, 7, tracker, 5000, 0, QStringLiteral("x0007_5000.dat"),
                                                 {}, {})
                                    << QByteArray();
    QTest::newRow("out") << makeEvent(Kind::Out, t, 2, QStringLiteral("10.0.0.5:5001"), 5001, 5,
                                      QStringLiteral("x0002_5001.dat"), {}, {})
                         << QByteArray();
    QTest::newRow("cmd, every byte value")
        << makeEvent(Kind::Cmd, t, 0, tracker, 5000, 256, {}, allBytes, {}) << QByteArray();
    QTest::newRow("ack") << makeEvent(Kind::Ack, t, 0, tracker, 5000, 2, {}, QByteArray("\x0a\xff", 2), {})
                         << QByteArray("\t2026-12-06T19:43:27.123456Z\tack\t127.0.0.1:40312\t5000\t2\t\t0AFF\t\n");
    QTest::newRow("pass") << makeEvent(Kind::Pass, t, 2, tracker, 5000, 5, QStringLiteral("x0002_5001.dat"), {}, {})
                          << QByteArray();
    QTest::newRow("error, escapes")
        << makeEvent(Kind::Error, t, 3, tracker, 5000, -1, QStringLiteral("x0003_err5000.log"), {},
                     QStringLiteral("10054 a\tb\r\nc\\d \\t"))
        << QByteArray("3\t2026-12-06T19:43:27.123456Z\terror\t127.0.0.1:40312\t5000\t\tx0003_err5000.log\t\t"
                      "10054 a\\tb\\r\\nc\\\\d \\\\t\n");
    QTest::newRow("disconnect, non-ASCII note, IPv6 peer")
        << makeEvent(Kind::Disconnect, 253402300799999999, 0, QStringLiteral("[::1]:40312"), 65535, -1, {}, {},
                     QStringLiteral(u"caf\u00e9 \u2713"))
        << QByteArray("\t9999-12-31T23:59:59.999999Z\tdisconnect\t[::1]:40312\t65535\t\t\t\tcaf\xc3\xa9 \xe2\x9c\x93\n");
}

void TestSessionIndex::roundTrip()
{
    QFETCH(SessionEvent, event);
    QFETCH(QByteArray, line);
    const QByteArray formatted = SessionIndexLine::format(event);
    if (!line.isEmpty())
        QCOMPARE(formatted, line);
    QVERIFY(formatted.endsWith('\n'));
    QCOMPARE(formatted.count('\n'), 1);
    QCOMPARE(formatted.count('\t'), 8);
    const SessionEvent back = SessionIndexLine::parse(QByteArrayView(formatted).chopped(1));
    QCOMPARE(back.kind, event.kind);
    QCOMPARE(back.timeUs, event.timeUs);
    QCOMPARE(back.number, event.number);
    QCOMPARE(back.peer, event.peer);
    QCOMPARE(back.port, event.port);
    QCOMPARE(back.length, event.length);
    QCOMPARE(back.file, event.file);
    QCOMPARE(back.bytes, event.bytes);
    QCOMPARE(back.note, event.note);
}

void TestSessionIndex::utcTimeAgreesWithQDateTime()
{
    // Every 13th day from 1970 to 2110 (leap days, century years), at a time that moves too.
    for (qint64 day = 0; day < 51'000; day += 13) {
        const qint64 us = day * 86'400'000'000 + (day * 7'919'000'123) % 86'400'000'000;
        const QString expected = QDateTime::fromMSecsSinceEpoch(us / 1000, Qt::UTC)
                                     .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
                                 QStringLiteral("%1Z").arg(us % 1000, 3, 10, QLatin1Char('0'));
        const QByteArray text = SessionIndexLine::utcTime(us);
        QCOMPARE(QString::fromLatin1(text), expected);
        QCOMPARE(SessionIndexLine::parseUtcTime(text), std::optional<qint64>(us));
    }
}

void TestSessionIndex::badLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("complaint");

    const QByteArray t = "2026-12-06T19:43:27.123456Z";
    QTest::newRow("eight fields") << "1\t" + t + "\tin\tp\t5000\t5\tf\t" << QStringLiteral("8 fields");
    QTest::newRow("ten fields") << "1\t" + t + "\tin\tp\t5000\t5\tf\t\t\t" << QStringLiteral("10 fields");
    QTest::newRow("unknown event") << "\t" + t + "\tinn\t\t\t\t\t\t" << QStringLiteral("'inn' is no event");
    QTest::newRow("time without microseconds")
        << QByteArray("\t2026-12-06T19:43:27Z\tin\t\t\t\t\t\t") << QStringLiteral("the time");
    QTest::newRow("month 13") << QByteArray("\t2026-13-06T19:43:27.123456Z\tin\t\t\t\t\t\t")
                              << QStringLiteral("the time");
    QTest::newRow("port too large") << "\t" + t + "\tin\t\t65536\t\t\t\t" << QStringLiteral("port");
    QTest::newRow("negative length") << "\t" + t + "\tin\t\t\t-1\t\t\t" << QStringLiteral("length");
    QTest::newRow("number with a letter") << "1a\t" + t + "\tin\t\t\t\t\t\t" << QStringLiteral("number");
    QTest::newRow("number 0") << "0\t" + t + "\tin\t\t\t\t\t\t" << QStringLiteral("number");
    QTest::newRow("odd hex") << "\t" + t + "\tcmd\t\t\t\t\tABC\t" << QStringLiteral("odd number");
    QTest::newRow("not hex") << "\t" + t + "\tcmd\t\t\t\t\tGG\t" << QStringLiteral("not hexadecimal");
    QTest::newRow("bad escape") << "\t" + t + "\tin\t\t\t\t\t\ta\\x" << QStringLiteral("backslash");
    QTest::newRow("lone backslash at the end") << "\t" + t + "\tin\t\t\t\t\t\ta\\" << QStringLiteral("backslash");
}

void TestSessionIndex::badLine()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, complaint);
    SessionFolder folder;
    folder.index.reset();
    folder.write(QStringLiteral("index.tsv"), SessionIndexLine::Header.toByteArray() + "\n\t" +
                                                  "2026-12-06T19:43:27.000000Z\tlisten\t\t5000\t\t\t\t\n" + line + '\n');
    try {
        (void)SessionIndex::read(folder.dir.path());
        QFAIL("read the bad line");
    } catch (const SessionError &error) {
        QVERIFY2(error.message().contains(QStringLiteral("index.tsv line 3: ")), qPrintable(error.message()));
        QVERIFY2(error.message().contains(complaint), qPrintable(error.message()));
    }
}

void TestSessionIndex::headerOnceAcrossRuns()
{
    QTemporaryDir dir;
    const qint64 before = sessionClockUs();
    const auto run = [&dir](int events) {
        SessionIndexFile index(dir.path());
        for (int i = 0; i < events; ++i)
            index.record({Kind::In, sessionClockUs(), i + 1, {}, 5000, 1, {}, {}, {}});
    };
    run(2);
    run(3);
    const QByteArray text = readAll(dir.filePath(QStringLiteral("index.tsv")));
    QCOMPARE(text.count(SessionIndexLine::Header.toByteArray()), 1);
    QVERIFY(text.startsWith(SessionIndexLine::Header.toByteArray() + '\n'));
    QCOMPARE(text.count('\n'), 6);
    const SessionIndex index = SessionIndex::read(dir.path());
    QCOMPARE(index.events().size(), 5);
    qint64 previous = before;
    for (const RecordedEvent &e : index.events()) {
        QVERIFY(e.event.timeUs >= previous);
        previous = e.event.timeUs;
    }
    QVERIFY(previous <= sessionClockUs());
    QCOMPARE(index.events().last().line, 6);
}

void TestSessionIndex::writerNamesAMissingFolder()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("gone"));
    try {
        SessionIndexFile index(missing);
        QFAIL("opened an index in a missing folder");
    } catch (const PlatformError &error) {
        QCOMPARE(error.number(), ErrorNumber::PathNotFound);
        QVERIFY(error.description().contains(QDir::toNativeSeparators(missing)));
    }
}

void TestSessionIndex::sessionsOfAnIndex()
{
    SessionFolder f;
    const QString a = QStringLiteral("127.0.0.1:40001"), b = QStringLiteral("127.0.0.1:40002");
    f.record(Kind::Listen, 0, {}, 5000, QStringLiteral("relay to 127.0.0.1:5001"));
    // The first chunk was read while the connection was being accepted.
    f.capture(Kind::In, 10, a, 5000, "login");
    f.record(Kind::Connect, 20, a, 5000, QStringLiteral("local 127.0.0.1:5000"));
    f.record(Kind::Cmd, 30, a, 5000, {}, "*PING#");
    const QString out = f.capture(Kind::Out, 40, QStringLiteral("127.0.0.1:5001"), 5001, "ACK");
    f.pass(50, a, 5000, out, 3);
    f.record(Kind::Declined, 55, b, 5000);
    f.record(Kind::Disconnect, 60, a, 5000);
    f.capture(Kind::Out, 70, QStringLiteral("127.0.0.1:5001"), 5001, "late"); // between connections
    f.record(Kind::Listen, 100, {}, 6000);
    f.record(Kind::Connect, 110, b, 6000);
    f.capture(Kind::In, 120, b, 6000, "x");

    const SessionIndex index = SessionIndex::read(f.dir.path());
    QVERIFY(index.isTimed());
    QCOMPARE(index.runs().size(), 2);
    QCOMPARE(index.runs()[0].relayTo, QStringLiteral("127.0.0.1:5001"));
    QCOMPARE(index.runs()[0].relay.size(), 3); // login, ACK, late
    QCOMPARE(index.runs()[1].relayTo, QString());
    QCOMPARE(index.sessions().size(), 2);
    const RecordedSession &first = index.sessions()[0];
    QCOMPARE(kindsOf(index, first),
             (QList<Kind>{Kind::Connect, Kind::In, Kind::Cmd, Kind::Out, Kind::Pass, Kind::Disconnect}));
    QCOMPARE(first.startUs, SessionFolder::Start + 10);
    QCOMPARE(first.endUs, SessionFolder::Start + 60);
    QCOMPARE(index.bytesOf(index.events()[first.events[1]]), QByteArray("*PING#"));
    QCOMPARE(index.bytesOf(index.events()[first.events[3]]), QByteArray("ACK")); // the pass
    const RecordedSession &second = index.sessions()[1];
    QCOMPARE(second.run, 1);
    QCOMPARE(kindsOf(index, second), (QList<Kind>{Kind::Connect, Kind::In}));
}

void TestSessionIndex::fallbackWithoutIndex_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<int>("inPortGiven");
    QTest::addColumn<QList<Kind>>("kinds");

    const QStringList relayed = names({"x0001_6001.dat", "x0002_5000.dat", "x0003_6001.dat", "x0004_err6001.log"});
    QTest::newRow("the error log's port is the IN port")
        << relayed << 0 << QList<Kind>{Kind::Connect, Kind::In, Kind::Out, Kind::In, Kind::Error};
    QTest::newRow("--in-port wins")
        << relayed << 5000 << QList<Kind>{Kind::Connect, Kind::Out, Kind::In, Kind::Out, Kind::Error};
    QTest::newRow("the lowest number's port, numbers sorted as numbers")
        << names({"x10000_5001.dat", "x0999_5000.dat", "x1000_5000.dat", "notes.txt", "x0998_5000.log"}) << 0
        << QList<Kind>{Kind::Connect, Kind::In, Kind::In, Kind::Out, Kind::Disconnect};
    QTest::newRow("an earlier error log is left out")
        << names({"x0001_err5000.log", "x0002_5000.dat"}) << 0
        << QList<Kind>{Kind::Connect, Kind::In, Kind::Disconnect};
}

void TestSessionIndex::fallbackWithoutIndex()
{
    QFETCH(QStringList, files);
    QFETCH(int, inPortGiven);
    QFETCH(QList<Kind>, kinds);
    SessionFolder f;
    f.index.reset();
    QFile::remove(f.dir.filePath(QStringLiteral("index.tsv")));
    for (const QString &name : files)
        f.write(name, name.toLatin1());

    const SessionIndex index = SessionIndex::read(f.dir.path(), inPortGiven);
    QVERIFY(!index.isTimed());
    QCOMPARE(index.sessions().size(), 1);
    QCOMPARE(kindsOf(index, index.sessions()[0]), kinds);
    qint64 second = 0;
    for (const qsizetype i : index.sessions()[0].events) {
        const RecordedEvent &e = index.events()[i];
        QCOMPARE(e.event.timeUs, ++second * 1'000'000); // one second apart from the epoch
        if (e.event.kind == Kind::In || e.event.kind == Kind::Out)
            QCOMPARE(index.bytesOf(e), e.event.file.toLatin1());
    }
}

QTEST_GUILESS_MAIN(TestSessionIndex)
#include "tst_sessionindex.moc"
