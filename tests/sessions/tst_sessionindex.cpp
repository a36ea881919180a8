#include "capturefolder.h"
#include "platformerror.h"
#include "positiontext.h"
#include "sessionfolder.h"
#include "sessionindex.h"
#include "sessionindexline.h"

#include <QDateTime>
#include <QtTest>

#include <numeric>

namespace {

SessionEvent makeEvent(Kind kind, qint64 timeUs, qint32 number, const QString &peer, int port, qint64 length,
                       const QString &file, const QByteArray &bytes, const QString &note)
{
    return {kind, timeUs, number, peer, port, length, file, bytes, note};
}

// Each session of an index: its run, then its events' names, its connect first.
QByteArray sessionsOf(const SessionIndex &index)
{
    QByteArray text;
    for (const RecordedSession &session : index.sessions()) {
        text += QByteArray::number(session.run) + ':';
        for (const qsizetype i : QList<qsizetype>{session.connect} + session.events)
            text += ' ' + SessionIndexLine::kindName(index.events()[i].event.kind).toByteArray();
        text += '\n';
    }
    return text;
}

} // namespace

class tst_SessionIndex final : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void utcTimeAgreesWithQDateTime();
    void twoRuns();
    void fleetRun();
    void fallbackWithoutIndex_data();
    void fallbackWithoutIndex();
};

void tst_SessionIndex::roundTrip_data()
{
    QTest::addColumn<SessionEvent>("event");
    QTest::addColumn<QByteArray>("line"); // empty: not compared

    const qint64 t = SessionFolder::Start + 123456;
    QByteArray allBytes(256, Qt::Uninitialized);
    std::iota(allBytes.begin(), allBytes.end(), char(0));
    // Every kind with every field; the listen's number, port and length are 0, 0 and -1: empty fields.
    for (int k = 0; k < 11; ++k)
        QTest::addRow("%s", SessionIndexLine::kindName(Kind(k)).data())
            << makeEvent(Kind(k), t, k, Tracker1, k * 6500, k - 1, u"x0001_5000.dat"_s, allBytes, u"a note"_s)
            << QByteArray();
    QTest::newRow("latest time, IPv6 peer, highest port, hex, escapes, UTF-8")
        << makeEvent(Kind::Error, 253402300799999999, 3, u"[::1]:40312"_s, 65535, 2, u"x3_err5000.log"_s,
                     "\x0a\xff"_ba, u"10054 a\tb\r\nc\\d \\t caf\u00e9 \u2713"_s)
        << "3\t9999-12-31T23:59:59.999999Z\terror\t[::1]:40312\t65535\t2\tx3_err5000.log\t0AFF\t"
           "10054 a\\tb\\r\\nc\\\\d \\\\t caf\xc3\xa9 \xe2\x9c\x93\n"_ba;
}

void tst_SessionIndex::roundTrip()
{
    QFETCH(SessionEvent, event);
    QFETCH(QByteArray, line);
    const QByteArray formatted = SessionIndexLine::format(event);
    if (!line.isEmpty())
        QCOMPARE(formatted, line);
    const SessionEvent back = SessionIndexLine::parse(QByteArrayView(formatted).chopped(1));
    const auto fields = [](const SessionEvent &e) {
        return std::tie(e.kind, e.timeUs, e.number, e.peer, e.port, e.length, e.file, e.bytes, e.note);
    };
    QVERIFY(fields(back) == fields(event));
}

void tst_SessionIndex::utcTimeAgreesWithQDateTime()
{
    // Every 13th day from 1970 to 2110 (leap days, century years), at a time that moves too.
    for (qint64 day = 0; day < 51'000; day += 13) {
        const qint64 us = day * 86'400'000'000 + (day * 7'919'000'123) % 86'400'000'000;
        QByteArray text;
        PositionText::appendCaptureTime(text, us);
        QCOMPARE(QString::fromLatin1(text),
                 QDateTime::fromMSecsSinceEpoch(us / 1000, Qt::UTC).toString(u"yyyy-MM-ddTHH:mm:ss.zzz"_s) +
                     u"%1Z"_s.arg(us % 1000, 3, 10, QLatin1Char('0')));
        QCOMPARE(SessionIndexLine::parseUtcTime(text), std::optional<qint64>(us));
    }
}

// The two runs append to one index under one header; a writer names a folder it cannot write in.
void tst_SessionIndex::twoRuns()
{
    SessionFolder f;
    f.recordTwoRuns();
    const QByteArray text = CaptureFolder::contents(f.dir.filePath(u"index.tsv"_s));
    QCOMPARE(text.count(SessionIndexLine::Header.toByteArray()), 1);
    const SessionIndex index = SessionIndex::read(f.dir.path());
    QCOMPARE(index.runs()[0].relayTo, OutServer);
    QCOMPARE(index.runs()[0].relay.size(), 4); // Rmc, ACK, Big, late
    QCOMPARE(sessionsOf(index), "0: connect in cmd out pass in error\n1: connect in in in disconnect\n");
    const RecordedSession &first = index.sessions()[0];
    QCOMPARE(first.startUs, SessionFolder::Start + 1'000'000);
    QCOMPARE(first.endUs, SessionFolder::Start + 3'000'000);
    // The cmd's bytes from its line, the pass's from the out capture it names.
    QCOMPARE(index.bytesOf(index.events()[first.events[1]]) + index.bytesOf(index.events()[first.events[3]]),
             Ping + Ack);
    try {
        SessionIndexFile nowhere(f.dir.filePath(u"gone"_s));
        QFAIL("opened an index in a missing folder");
    } catch (const PlatformError &error) {
        QVERIFY(error.number() == ErrorNumber::PathNotFound && error.description().contains(u"gone"_s));
    }
}

// Overlapping connections, each relaying over its own connection, are told apart by their peer.
void tst_SessionIndex::fleetRun()
{
    SessionFolder f;
    f.recordTwoRuns();
    f.recordFleet();
    const SessionIndex index = SessionIndex::read(f.dir.path());
    QCOMPARE(index.runs()[2].relayTo, OutServer);
    QVERIFY(index.runs()[2].relayPerTracker && !index.runs()[1].relayPerTracker);
    QCOMPARE(sessionsOf(index).split('\n').mid(2).join('\n'),
             "2: connect in out pass in disconnect\n2: connect in out disconnect\n");
}

void tst_SessionIndex::fallbackWithoutIndex_data()
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

void tst_SessionIndex::fallbackWithoutIndex()
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
    QCOMPARE(sessionsOf(index), "0: " + kinds + '\n');
    qint64 second = 0;
    for (const qsizetype i : index.sessions()[0].events) {
        const RecordedEvent &e = index.events()[i];
        QCOMPARE(e.event.timeUs, ++second * 1'000'000); // one second apart from the epoch
        if (e.event.kind == Kind::In || e.event.kind == Kind::Out)
            QCOMPARE(index.bytesOf(e), e.event.file.toLatin1());
    }
}

QTEST_GUILESS_MAIN(tst_SessionIndex)
#include "tst_sessionindex.moc"
