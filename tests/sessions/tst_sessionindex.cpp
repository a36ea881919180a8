#include "capturefolder.h"
#include "platformerror.h"
#include "sessionfolder.h"
#include "sessionindex.h"
#include "sessionindexline.h"

#include <QDateTime>
#include <QtTest>

#include <tuple>

namespace {

// The event names of a session, its connect first: "connect in disconnect".
QByteArray kindsOf(const SessionIndex &index, const RecordedSession &session)
{
    QByteArray kinds = SessionIndexLine::kindName(index.events()[session.connect].event.kind).toByteArray();
    for (const qsizetype i : session.events)
        kinds += ' ' + SessionIndexLine::kindName(index.events()[i].event.kind).toByteArray();
    return kinds;
}

} // namespace

class TestSessionIndex final : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void utcTimeAgreesWithQDateTime();
    void writerNamesAMissingFolder();
    void sessionsOfTwoRuns();
    void fallbackWithoutIndex_data();
    void fallbackWithoutIndex();
};

void TestSessionIndex::roundTrip_data()
{
    QTest::addColumn<SessionEvent>("event");
    QTest::addColumn<QByteArray>("line"); // empty: not compared

    const qint64 t = SessionFolder::Start + 123456;
    const QString tracker = u"127.0.0.1:40312"_s;
    QByteArray allBytes;
    for (int b = 0; b < 256; ++b)
        allBytes.append(char(b));
    for (int k = 0; k < 10; ++k) // every kind with every field, number 0 and length 0 among them
        QTest::addRow("%s", SessionIndexLine::kindName(Kind(k)).data())
            << SessionEvent{Kind(k), t, k, tracker, 5000, k - 1, u"x0001_5000.dat"_s, allBytes, u"GT06 login"_s}
            << QByteArray();
    QTest::newRow("ack") << SessionEvent{Kind::Ack, t, 0, tracker, 5000, 2, {}, "\x0a\xff"_ba, {}}
                         << "\t2026-12-06T19:43:27.123456Z\tack\t127.0.0.1:40312\t5000\t2\t\t0AFF\t\n"_ba;
    QTest::newRow("error, escapes")
        << SessionEvent{Kind::Error, t, 3, tracker, 5000, -1, u"x0003_err5000.log"_s, {}, u"10054 a\tb\r\nc\\d \\t"_s}
        << "3\t2026-12-06T19:43:27.123456Z\terror\t127.0.0.1:40312\t5000\t\tx0003_err5000.log\t\t"
           "10054 a\\tb\\r\\nc\\\\d \\\\t\n"_ba;
    QTest::newRow("disconnect, non-ASCII note, IPv6 peer")
        << SessionEvent{Kind::Disconnect, 253402300799999999, 0, u"[::1]:40312"_s, 65535, -1, {}, {}, u"caf\u00e9 \u2713"_s}
        << "\t9999-12-31T23:59:59.999999Z\tdisconnect\t[::1]:40312\t65535\t\t\t\tcaf\xc3\xa9 \xe2\x9c\x93\n"_ba;
}

void TestSessionIndex::roundTrip()
{
    QFETCH(SessionEvent, event);
    QFETCH(QByteArray, line);
    const QByteArray formatted = SessionIndexLine::format(event);
    if (!line.isEmpty())
        QCOMPARE(formatted, line);
    QCOMPARE(formatted.count('\n'), 1);
    const SessionEvent back = SessionIndexLine::parse(QByteArrayView(formatted).chopped(1));
    const auto fields = [](const SessionEvent &e) {
        return std::tie(e.kind, e.timeUs, e.number, e.peer, e.port, e.length, e.file, e.bytes, e.note);
    };
    QVERIFY(fields(back) == fields(event));
}

void TestSessionIndex::utcTimeAgreesWithQDateTime()
{
    // Every 13th day from 1970 to 2110 (leap days, century years), at a time that moves too.
    for (qint64 day = 0; day < 51'000; day += 13) {
        const qint64 us = day * 86'400'000'000 + (day * 7'919'000'123) % 86'400'000'000;
        const QString expected = QDateTime::fromMSecsSinceEpoch(us / 1000, Qt::UTC).toString(u"yyyy-MM-ddTHH:mm:ss.zzz"_s) +
                                 u"%1Z"_s.arg(us % 1000, 3, 10, QLatin1Char('0'));
        const QByteArray text = SessionIndexLine::utcTime(us);
        QCOMPARE(QString::fromLatin1(text), expected);
        QCOMPARE(SessionIndexLine::parseUtcTime(text), std::optional<qint64>(us));
    }
}

void TestSessionIndex::writerNamesAMissingFolder()
{
    const QString missing = SessionFolder().dir.filePath(u"gone"_s); // the folder is removed at once
    try {
        SessionIndexFile index(missing);
        QFAIL("opened an index in a missing folder");
    } catch (const PlatformError &error) {
        QCOMPARE(error.number(), ErrorNumber::PathNotFound);
        QVERIFY(error.description().contains(missing));
    }
}

// Two runs of the engine, each with its own writer, append to one index under one header.
void TestSessionIndex::sessionsOfTwoRuns()
{
    SessionFolder f;
    const QString a = u"127.0.0.1:40001"_s, b = u"127.0.0.1:40002"_s, outServer = u"127.0.0.1:5001"_s;
    f.add(Kind::Listen, 0, {}, 5000, {}, u"relay to 127.0.0.1:5001"_s);
    f.add(Kind::In, 10, a, 5000, "login"); // read while the connection was being accepted
    f.add(Kind::Connect, 20, a, 5000, {}, u"local 127.0.0.1:5000"_s);
    f.add(Kind::Cmd, 30, a, 5000, "*PING#");
    f.add(Kind::Out, 40, outServer, 5001, "ACK");
    f.add(Kind::Pass, 50, a, 5000, "ACK");
    f.add(Kind::Declined, 55, b, 5000);
    f.add(Kind::Disconnect, 60, a, 5000);
    f.add(Kind::Out, 70, outServer, 5001, "late"); // between connections
    f.index = std::make_unique<SessionIndexFile>(f.dir.path());
    f.add(Kind::Listen, 100, {}, 6000);
    f.add(Kind::Connect, 110, b, 6000);
    f.add(Kind::In, 120, b, 6000, "x");

    const QByteArray text = CaptureFolder::contents(f.dir.filePath(u"index.tsv"_s));
    QVERIFY(text.startsWith(SessionIndexLine::Header.toByteArray() + '\n'));
    QCOMPARE(text.count(SessionIndexLine::Header.toByteArray()), 1);
    const SessionIndex index = SessionIndex::read(f.dir.path());
    QVERIFY(index.isTimed());
    QCOMPARE(index.events().last().line, 13);
    QCOMPARE(index.runs().size(), 2);
    QCOMPARE(index.runs()[0].relayTo, outServer);
    QCOMPARE(index.runs()[0].relay.size(), 3); // login, ACK, late
    QCOMPARE(index.runs()[1].relayTo, QString());
    QCOMPARE(index.sessions().size(), 2);
    const RecordedSession &first = index.sessions()[0];
    QCOMPARE(kindsOf(index, first), "connect in cmd out pass disconnect");
    QCOMPARE(first.startUs, SessionFolder::Start + 10);
    QCOMPARE(first.endUs, SessionFolder::Start + 60);
    QCOMPARE(index.bytesOf(index.events()[first.events[1]]), "*PING#");
    QCOMPARE(index.bytesOf(index.events()[first.events[3]]), "ACK"); // the pass
    QCOMPARE(index.sessions()[1].run, 1);
    QCOMPARE(kindsOf(index, index.sessions()[1]), "connect in");
}

void TestSessionIndex::fallbackWithoutIndex_data()
{
    QTest::addColumn<QString>("files");
    QTest::addColumn<int>("inPortGiven");
    QTest::addColumn<QByteArray>("kinds");

    const QString relayed = u"x0001_6001.dat x0002_5000.dat x0003_6001.dat x0004_err6001.log"_s;
    QTest::newRow("the error log's port is the IN port") << relayed << 0 << "connect in out in error"_ba;
    QTest::newRow("--in-port wins") << relayed << 5000 << "connect out in out error"_ba;
    QTest::newRow("the lowest number's port, numbers sorted as numbers")
        << u"x10000_5001.dat x0999_5000.dat x1000_5000.dat notes.txt x0998_5000.log"_s << 0
        << "connect in in out disconnect"_ba;
    QTest::newRow("an earlier error log is left out")
        << u"x0001_err5000.log x0002_5000.dat"_s << 0 << "connect in disconnect"_ba;
}

void TestSessionIndex::fallbackWithoutIndex()
{
    QFETCH(QString, files);
    QFETCH(int, inPortGiven);
    QFETCH(QByteArray, kinds);
    SessionFolder f;
    f.index.reset();
    QVERIFY(QFile::remove(f.dir.filePath(u"index.tsv"_s)));
    for (const QString &name : files.split(QLatin1Char(' ')))
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
