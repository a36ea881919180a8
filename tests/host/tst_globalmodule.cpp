#include "datetimetext.h"
#include "fakecontrols.h"
#include "fakesocketslibrary.h"
#include "globalmodule.h"
#include "platformerror.h"
#include "socketslibrary.h"

#include <QNetworkInterface>
#include <QTest>

#include <functional>

namespace {

const QString Separator = QStringLiteral(" \u00A6 ");
using Setup = std::function<void(FakeSocketsLibrary &)>;

// The messages of a log's lines, top first: what follows the separator of a status line.
QStringList messages(const QString &log)
{
    QStringList result = log.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (QString &line : result)
        line = line.section(Separator, -1);
    return result;
}

// Controls whose log writes fail a given number of times before they work.
class FailingControls final : public FakeControls
{
public:
    void prependToLog(const QString &line) override
    {
        if (prependFailures-- > 0)
            throw PlatformError(14, QStringLiteral("Out of string space"));
        FakeControls::prependToLog(line);
    }
    void replaceLog(const QString &text) override
    {
        if (replaceFailures-- > 0)
            throw PlatformError(7, QStringLiteral("Out of memory"));
        FakeControls::replaceLog(text);
    }

    int prependFailures = 0;
    int replaceFailures = 0;
};

// The status lines in the fake's connection log.
StatusLog logOf(FakeControls &controls)
{
    return {[&controls](const QString &line) { controls.prependToLog(line); },
            [&controls](const QString &text) { controls.replaceLog(text); }};
}

} // namespace

class tst_GlobalModule final : public QObject
{
    Q_OBJECT

private slots:
    void localAddress_data();
    void localAddress();
    void fiftyOnTopThenReplacement();
    void writeFailureIsReportedBelowTheMessage_data();
    void writeFailureIsReportedBelowTheMessage();
    void systemLibrary();
};

void tst_GlobalModule::localAddress_data()
{
    QTest::addColumn<Setup>("setup"); // of a library that starts version 1.1 and finds 192.168.1.10
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QStringList>("messages"); // top first
    QTest::addColumn<bool>("cleanedUp");

    const QString notResponding = QStringLiteral("The 32-bit Windows Socket is not responding.");
    const QString tooFew = QStringLiteral("This application requires a minimum of 1 supported sockets.");
    const QString noEntry = QStringLiteral("Windows Sockets are not responding. Unable to successfully get Host Name.");
    const QString cleanup = QStringLiteral("Socket error occurred in Cleanup.");
    const auto version = [](const char *number) {
        return QStringLiteral("Sockets version %1 is not supported by 32-bit Windows Sockets.").arg(QLatin1StringView(number));
    };
    const auto hostNameError = [](const char *number) {
        return QStringLiteral("Windows Sockets error %1 has occurred. Unable to successfully get Host Name.")
            .arg(QLatin1StringView(number));
    };
    const auto row = [](const char *name, Setup setup, const char *expected, QStringList messages, bool cleanedUp) {
        QTest::newRow(name) << setup << QString::fromLatin1(expected) << messages << cleanedUp;
    };

    row("address found", [](FakeSocketsLibrary &) {}, "192.168.1.10", {}, true);
    row("zero bytes show as 0, version 2.2, one socket", [](FakeSocketsLibrary &s) {
        s.startupReply = {0, 0x0202, 1};
        s.entry = SocketsLibrary::HostEntry{4, QByteArray("\x0A\x00\xFF\x05", 4)};
    }, "10.0.255.5", {}, true);
    row("start-up fails", [](FakeSocketsLibrary &s) { s.startupReply = {10091, 0, 0}; }, "", {notResponding}, false);
    // A refused library is not cleaned up, even where that would fail.
    row("version 1.0", [](FakeSocketsLibrary &s) { s.startupReply.version = 0x0001; s.cleanupResult = 1; }, "",
        {version("1.0")}, false);
    row("version 0.9", [](FakeSocketsLibrary &s) { s.startupReply.version = 0x0900; }, "", {version("0.9")}, false);
    row("no sockets, checked before the version", [](FakeSocketsLibrary &s) { s.startupReply = {0, 0x0001, 0}; },
        "", {tooFew}, false);
    row("32768 sockets is negative", [](FakeSocketsLibrary &s) { s.startupReply.maxSockets = 32768; }, "",
        {tooFew}, false);
    row("host name fails", [](FakeSocketsLibrary &s) { s.hostNameFails = true; s.lastError = 10093; }, "",
        {hostNameError(" 10093")}, true);
    row("host name fails with a negative number", [](FakeSocketsLibrary &s) { s.hostNameFails = true; s.lastError = -5; },
        "", {hostNameError("-5")}, true);
    row("entry without an address", [](FakeSocketsLibrary &s) { s.entry->firstAddress.clear(); }, "", {noEntry}, true);
    row("unresolvable name, clean-up fails", [](FakeSocketsLibrary &s) { s.entry.reset(); s.cleanupResult = 1; }, "",
        {cleanup, noEntry}, true);
    row("address found, clean-up fails", [](FakeSocketsLibrary &s) { s.cleanupResult = -1; }, "192.168.1.10",
        {cleanup}, true);
}

void tst_GlobalModule::localAddress()
{
    QFETCH(Setup, setup);
    QFETCH(QString, expected);
    QFETCH(QStringList, messages);
    QFETCH(bool, cleanedUp);
    FakeSocketsLibrary sockets;
    setup(sockets);
    FakeControls controls;
    controls.log = QStringLiteral("Listening on TCP port 5000\r\n");
    GLOBALModule module(logOf(controls), sockets);

    const QString before = DateTimeText::now();
    QCOMPARE(module.GetLocalIPAddress(), expected);
    const QString after = DateTimeText::now();

    // Status lines go on top of the log, each with the time of its call.
    QCOMPARE(::messages(controls.log), messages + QStringList{QStringLiteral("Listening on TCP port 5000")});
    for (const QString &line : controls.log.split(QStringLiteral("\r\n")).mid(0, messages.size()))
        QVERIFY2(line.startsWith(before + Separator) || line.startsWith(after + Separator), qPrintable(line));
    QCOMPARE(module.StatusLineCount(), messages.size());
    QCOMPARE(sockets.requestedVersions, QList<quint16>{257});
    QCOMPARE(sockets.calls.contains("WSACleanup"), cleanedUp);
    if (cleanedUp)
        QCOMPARE(sockets.calls.last(), QByteArray("WSACleanup"));
    if (sockets.calls.contains("gethostname"))
        QCOMPARE(sockets.hostNameBufferSizes, QList<qsizetype>{256});
    if (sockets.calls.contains("gethostbyname"))
        QCOMPARE(sockets.lookedUp, QByteArrayList{"tracker-host"}); // trimmed, ended at the NUL
}

void tst_GlobalModule::fiftyOnTopThenReplacement()
{
    FakeSocketsLibrary sockets;
    FakeControls controls;
    GLOBALModule module(logOf(controls), sockets);
    const QString logLine = QStringLiteral("Listening on TCP port 5000");
    for (int round = 0; round < 2; ++round) {
        // 50 go on top, the log's lines below them; the 51st replaces everything.
        controls.appendToLog(logLine + QStringLiteral("\r\n"));
        QStringList expected = messages(controls.log);
        for (int i = 1; i <= 50; ++i) {
            module.AddStatusMessage(QString(reinterpret_cast<const QChar *>(u"a\0b"), 3) + QString::number(i));
            expected.prepend(QStringLiteral("a b") + QString::number(i));
            QCOMPARE(module.StatusLineCount(), i);
        }
        QCOMPARE(messages(controls.log), expected);
        module.AddStatusMessage(QString());
        QCOMPARE(module.StatusLineCount(), 0);
        QVERIFY(controls.log.endsWith(Separator + QStringLiteral("\r\n")));
        QCOMPARE(controls.log.count(QStringLiteral("\r\n")), 1);
    }
}

void tst_GlobalModule::writeFailureIsReportedBelowTheMessage_data()
{
    QTest::addColumn<int>("linesBefore");
    QTest::addColumn<int>("failures");
    QTest::addColumn<QString>("description"); // empty: the failure reaches the caller
    QTest::newRow("putting the line on top fails") << 3 << 1 << QStringLiteral("Out of string space");
    QTest::newRow("replacing the text fails") << 50 << 1 << QStringLiteral("Out of memory");
    QTest::newRow("the report fails too") << 3 << 2 << QString();
}

void tst_GlobalModule::writeFailureIsReportedBelowTheMessage()
{
    QFETCH(int, linesBefore);
    QFETCH(int, failures);
    QFETCH(QString, description);
    FakeSocketsLibrary sockets;
    FailingControls controls;
    GLOBALModule module(logOf(controls), sockets);
    for (int i = 0; i < linesBefore; ++i)
        module.AddStatusMessage(QStringLiteral("earlier"));
    const QString old = controls.log;
    (linesBefore < 50 ? controls.prependFailures : controls.replaceFailures) = failures;
    if (description.isEmpty()) {
        QVERIFY_THROWS_EXCEPTION(PlatformError, module.AddStatusMessage(QStringLiteral("lost")));
        QCOMPARE(module.StatusLineCount(), linesBefore);
        return;
    }
    module.AddStatusMessage(QString(reinterpret_cast<const QChar *>(u"the\0message"), 11));

    const QStringList lines = controls.log.split(QStringLiteral("\r\n"));
    QCOMPARE(messages(controls.log).mid(0, 2), (QStringList{QStringLiteral("the message"), description}));
    QCOMPARE(lines.at(0).section(Separator, 0, 0), lines.at(1).section(Separator, 0, 0));
    QVERIFY(controls.log.endsWith(old));
    QCOMPARE(module.StatusLineCount(), linesBefore);
}

void tst_GlobalModule::systemLibrary()
{
    // The machine's own address, found without a name service: one of its interfaces'.
    const std::unique_ptr<SocketsLibrary> sockets = systemSocketsLibrary();
    FakeControls controls;
    const QString address = GLOBALModule(logOf(controls), *sockets).GetLocalIPAddress();
    QCOMPARE(controls.log, QString());
    bool local = false;
    for (const QHostAddress &candidate : QNetworkInterface::allAddresses())
        local = local || (candidate.protocol() == QAbstractSocket::IPv4Protocol && candidate.toString() == address);
    QVERIFY2(local, qPrintable(address));
}

QTEST_GUILESS_MAIN(tst_GlobalModule)
#include "tst_globalmodule.moc"
