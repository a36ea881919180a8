#include "datetimetext.h"
#include "fakecontrols.h"
#include "fakesocketslibrary.h"
#include "globalmodule.h"
#include "platformerror.h"
#include "posixsocketslibrary.h"

#include <QHostInfo>
#include <QTest>

namespace {

const QString Separator = QStringLiteral(" \u00A6 ");

// The status lines of a log, top first, each split into timestamp and message. Lines that
// are no status lines come back with an empty timestamp.
struct StatusLine
{
    QString timestamp;
    QString message;
};

QList<StatusLine> lines(const QString &log)
{
    QList<StatusLine> result;
    QStringList texts = log.split(QStringLiteral("\r\n"));
    if (!texts.isEmpty() && texts.last().isEmpty())
        texts.removeLast();
    for (const QString &text : texts) {
        const qsizetype at = text.indexOf(Separator);
        if (at < 0)
            result.append({QString(), text});
        else
            result.append({text.left(at), text.mid(at + Separator.size())});
    }
    return result;
}

QStringList messages(const QString &log)
{
    QStringList result;
    for (const StatusLine &line : lines(log))
        result.append(line.message);
    return result;
}

// Controls whose log writes fail a given number of times before they work.
class FailingControls final : public FakeControls
{
public:
    void prependToLog(const QString &line) override
    {
        if (prependFailures > 0) {
            --prependFailures;
            throw PlatformError(14, QStringLiteral("Out of string space"));
        }
        FakeControls::prependToLog(line);
    }
    void replaceLog(const QString &text) override
    {
        if (replaceFailures > 0) {
            --replaceFailures;
            throw PlatformError(7, QStringLiteral("Out of memory"));
        }
        FakeControls::replaceLog(text);
    }

    int prependFailures = 0;
    int replaceFailures = 0;
};

} // namespace

class TestGlobalModule final : public QObject
{
    Q_OBJECT

private slots:
    void byteHalves_data();
    void byteHalves();
    void localAddress_data();
    void localAddress();
    void hostNameIsTrimmedAndEndsAtNul_data();
    void hostNameIsTrimmedAndEndsAtNul();
    void statusLine_data();
    void statusLine();
    void statusLineGoesAboveTheLog();
    void fiftyOnTopThenReplacement();
    void writeFailureIsReportedBelowTheMessage_data();
    void writeFailureIsReportedBelowTheMessage();
    void failureOfTheReportReachesTheCaller();
    void posixLibrary();
    void twoModulesKeepTheirOwnCounts();
};

void TestGlobalModule::byteHalves_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("low");
    QTest::newRow("0") << 0 << 0 << 0;
    QTest::newRow("version 1.1") << 0x0101 << 1 << 1;
    QTest::newRow("version 2.2") << 0x0202 << 2 << 2;
    QTest::newRow("major 1 minor 0") << 0x0001 << 0 << 1;
    QTest::newRow("major 0 minor 5") << 0x0500 << 5 << 0;
    QTest::newRow("low byte only") << 0x00FF << 0 << 255;
    QTest::newRow("high byte only") << 0xFF00 << 255 << 0;
    QTest::newRow("all bits") << 0xFFFF << 255 << 255;
}

void TestGlobalModule::byteHalves()
{
    QFETCH(int, word);
    QFETCH(int, high);
    QFETCH(int, low);
    QCOMPARE(GLOBALModule::HiByte(quint16(word)), high);
    QCOMPARE(GLOBALModule::LoByte(quint16(word)), low);
}

void TestGlobalModule::localAddress_data()
{
    QTest::addColumn<int>("startupResult");
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("maxSockets");
    QTest::addColumn<bool>("hostNameFails");
    QTest::addColumn<int>("lastError");
    QTest::addColumn<bool>("resolves");
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<int>("cleanupResult");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QStringList>("messages"); // top first
    QTest::addColumn<bool>("cleanedUp");

    const QByteArray home("\xC0\xA8\x01\x0A", 4);
    const QString notResponding = QStringLiteral("The 32-bit Windows Socket is not responding.");
    const QString tooFew = QStringLiteral("This application requires a minimum of 1 supported sockets.");
    const QString noEntry = QStringLiteral("Windows Sockets are not responding. Unable to successfully get Host Name.");
    const QString cleanup = QStringLiteral("Socket error occurred in Cleanup.");
    const auto version = [](const char *number) {
        return QStringLiteral("Sockets version %1 is not supported by 32-bit Windows Sockets.")
            .arg(QLatin1StringView(number));
    };
    const auto hostNameError = [](const char *number) {
        return QStringLiteral("Windows Sockets error %1 has occurred. Unable to successfully get Host Name.")
            .arg(QLatin1StringView(number));
    };

    QTest::newRow("version 1.1 resolves")
        << 0 << 0x0101 << 100 << false << 0 << true << home << 0 << "192.168.1.10" << QStringList() << true;
    QTest::newRow("zero bytes show as 0") << 0 << 0x0101 << 100 << false << 0 << true
                                          << QByteArray("\x0A\x00\x00\x05", 4) << 0 << "10.0.0.5"
                                          << QStringList() << true;
    QTest::newRow("byte 255") << 0 << 0x0101 << 100 << false << 0 << true << QByteArray("\xFF\x01\x00\xFF", 4)
                              << 0 << "255.1.0.255" << QStringList() << true;
    QTest::newRow("version 2.2 accepted")
        << 0 << 0x0202 << 100 << false << 0 << true << home << 0 << "192.168.1.10" << QStringList() << true;
    QTest::newRow("one socket is enough")
        << 0 << 0x0101 << 1 << false << 0 << true << home << 0 << "192.168.1.10" << QStringList() << true;
    QTest::newRow("start-up fails") << 10091 << 0 << 0 << false << 0 << true << home << 0 << ""
                                    << QStringList{notResponding} << false;
    QTest::newRow("version 1.0") << 0 << 0x0001 << 100 << false << 0 << true << home << 0 << ""
                                 << QStringList{version("1.0")} << false;
    QTest::newRow("version 0.5") << 0 << 0x0500 << 100 << false << 0 << true << home << 0 << ""
                                 << QStringList{version("0.5")} << false;
    QTest::newRow("version 0.9") << 0 << 0x0900 << 100 << false << 0 << true << home << 0 << ""
                                 << QStringList{version("0.9")} << false;
    QTest::newRow("no sockets") << 0 << 0x0101 << 0 << false << 0 << true << home << 0 << ""
                                << QStringList{tooFew} << false;
    QTest::newRow("32768 sockets is negative") << 0 << 0x0202 << 32768 << false << 0 << true << home << 0 << ""
                                               << QStringList{tooFew} << false;
    QTest::newRow("65535 sockets is negative") << 0 << 0x0202 << 65535 << false << 0 << true << home << 0 << ""
                                               << QStringList{tooFew} << false;
    QTest::newRow("socket count is checked before version") << 0 << 0x0001 << 0 << false << 0 << true << home
                                                            << 0 << "" << QStringList{tooFew} << false;
    QTest::newRow("refused library is not cleaned up, even if that would fail")
        << 0 << 0x0001 << 100 << false << 0 << true << home << 1 << "" << QStringList{version("1.0")} << false;
    QTest::newRow("host name fails") << 0 << 0x0101 << 100 << true << 10093 << true << home << 0 << ""
                                     << QStringList{hostNameError(" 10093")} << true;
    QTest::newRow("host name fails with a negative number") << 0 << 0x0101 << 100 << true << -5 << true << home
                                                            << 0 << "" << QStringList{hostNameError("-5")} << true;
    QTest::newRow("unresolvable name") << 0 << 0x0101 << 100 << false << 0 << false << home << 0 << ""
                                       << QStringList{noEntry} << true;
    QTest::newRow("entry without an address")
        << 0 << 0x0101 << 100 << false << 0 << true << QByteArray() << 0 << "" << QStringList{noEntry} << true;
    QTest::newRow("unresolvable name, clean-up fails") << 0 << 0x0101 << 100 << false << 0 << false << home << 1
                                                       << "" << QStringList{cleanup, noEntry} << true;
    QTest::newRow("host name fails, clean-up fails") << 0 << 0x0101 << 100 << true << 10093 << true << home << -1
                                                     << "" << QStringList{cleanup, hostNameError(" 10093")}
                                                     << true;
    QTest::newRow("address found, clean-up fails") << 0 << 0x0101 << 100 << false << 0 << true << home << 1
                                                   << "192.168.1.10" << QStringList{cleanup} << true;
}

void TestGlobalModule::localAddress()
{
    QFETCH(int, startupResult);
    QFETCH(int, version);
    QFETCH(int, maxSockets);
    QFETCH(bool, hostNameFails);
    QFETCH(int, lastError);
    QFETCH(bool, resolves);
    QFETCH(QByteArray, address);
    QFETCH(int, cleanupResult);
    QFETCH(QString, expected);
    QFETCH(QStringList, messages);
    QFETCH(bool, cleanedUp);

    FakeSocketsLibrary sockets;
    sockets.startupReply = {startupResult, quint16(version), quint16(maxSockets)};
    sockets.hostNameFails = hostNameFails;
    sockets.lastError = lastError;
    if (resolves)
        sockets.entry = SocketsLibrary::HostEntry{qint16(address.size()), address};
    else
        sockets.entry.reset();
    sockets.cleanupResult = cleanupResult;
    FakeControls controls;
    controls.log = QStringLiteral("Listening on TCP port 5000\r\n");
    GLOBALModule module(controls, sockets);

    const QString before = DateTimeText::now();
    QCOMPARE(module.GetLocalIPAddress(), expected);
    const QString after = DateTimeText::now();

    QStringList expectedLog = messages;
    expectedLog.append(QStringLiteral("Listening on TCP port 5000"));
    QCOMPARE(::messages(controls.log), expectedLog);
    for (const StatusLine &line : lines(controls.log).mid(0, messages.size()))
        QVERIFY2(line.timestamp == before || line.timestamp == after, qPrintable(line.timestamp));
    QCOMPARE(module.StatusLineCount(), messages.size());
    QCOMPARE(sockets.requestedVersions, QList<quint16>{257});
    QCOMPARE(sockets.calls.contains("WSACleanup"), cleanedUp);
    if (cleanedUp)
        QCOMPARE(sockets.calls.last(), QByteArray("WSACleanup"));
    if (sockets.calls.contains("gethostname"))
        QCOMPARE(sockets.hostNameBufferSizes, QList<qsizetype>{256});
}

void TestGlobalModule::hostNameIsTrimmedAndEndsAtNul_data()
{
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QByteArray>("lookedUp");
    QTest::newRow("plain") << QByteArrayLiteral("vm\0") << QByteArray("vm");
    QTest::newRow("blanks around") << QByteArrayLiteral("  vm  \0") << QByteArray("vm");
    QTest::newRow("rest of buffer after NUL")
        << QByteArrayLiteral("vm\0left over from before") << QByteArray("vm");
    QTest::newRow("empty name") << QByteArrayLiteral("\0") << QByteArray();
    QTest::newRow("255 characters") << QByteArray(255, 'h') + '\0' << QByteArray(255, 'h');
}

void TestGlobalModule::hostNameIsTrimmedAndEndsAtNul()
{
    QFETCH(QByteArray, written);
    QFETCH(QByteArray, lookedUp);
    FakeSocketsLibrary sockets;
    sockets.hostName = written;
    FakeControls controls;
    GLOBALModule module(controls, sockets);
    QCOMPARE(module.GetLocalIPAddress(), QStringLiteral("192.168.1.10"));
    QCOMPARE(sockets.lookedUp, QByteArrayList{lookedUp});
}

void TestGlobalModule::statusLine_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("written");
    QTest::newRow("plain") << QStringLiteral("Socket error occurred in Cleanup.")
                           << QStringLiteral("Socket error occurred in Cleanup.");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("NUL characters become blanks")
        << QString(reinterpret_cast<const QChar *>(u"a\0b\0\0c"), 6) << QStringLiteral("a b  c");
    QTest::newRow("only NUL") << QString(3, QChar(u'\0')) << QStringLiteral("   ");
    QTest::newRow("other characters stay") << QStringLiteral("\t\u00A6\u00FF") << QStringLiteral("\t\u00A6\u00FF");
}

void TestGlobalModule::statusLine()
{
    QFETCH(QString, message);
    QFETCH(QString, written);
    FakeSocketsLibrary sockets;
    FakeControls controls;
    GLOBALModule module(controls, sockets);

    const QString before = DateTimeText::now();
    module.AddStatusMessage(message);
    const QString after = DateTimeText::now();

    QVERIFY2(controls.log == before + Separator + written + QStringLiteral("\r\n") ||
                 controls.log == after + Separator + written + QStringLiteral("\r\n"),
             qPrintable(controls.log));
    QCOMPARE(written.size(), message.size());
    QCOMPARE(module.StatusLineCount(), 1);
}

void TestGlobalModule::statusLineGoesAboveTheLog()
{
    FakeSocketsLibrary sockets;
    FakeControls controls;
    GLOBALModule module(controls, sockets);
    controls.appendToLog(QStringLiteral("Listening on TCP port 5000\r\n"));
    module.AddStatusMessage(QStringLiteral("first"));
    controls.appendToLog(QStringLiteral("Tracker 127.0.0.1 connected.\r\n"));
    module.AddStatusMessage(QStringLiteral("second"));
    QCOMPARE(messages(controls.log), (QStringList{QStringLiteral("second"), QStringLiteral("first"),
                                                  QStringLiteral("Listening on TCP port 5000"),
                                                  QStringLiteral("Tracker 127.0.0.1 connected.")}));
}

void TestGlobalModule::fiftyOnTopThenReplacement()
{
    FakeSocketsLibrary sockets;
    FakeControls controls;
    GLOBALModule module(controls, sockets);
    const QString logLine = QStringLiteral("Listening on TCP port 5000");
    controls.appendToLog(logLine + QStringLiteral("\r\n"));

    QStringList expected{logLine};
    for (int i = 1; i <= 49; ++i) {
        module.AddStatusMessage(QString::number(i));
        expected.prepend(QString::number(i));
    }
    QCOMPARE(module.StatusLineCount(), 49);
    QCOMPARE(messages(controls.log), expected);

    // The 50th still goes on top.
    module.AddStatusMessage(QStringLiteral("50"));
    expected.prepend(QStringLiteral("50"));
    QCOMPARE(module.StatusLineCount(), 50);
    QCOMPARE(messages(controls.log), expected);

    // The 51st replaces everything, the log line included.
    module.AddStatusMessage(QStringLiteral("51"));
    QCOMPARE(module.StatusLineCount(), 0);
    QCOMPARE(messages(controls.log), QStringList{QStringLiteral("51")});

    // Then 50 more go on top before the next replacement: at most 51 status lines.
    controls.appendToLog(logLine + QStringLiteral("\r\n"));
    for (int i = 52; i <= 101; ++i)
        module.AddStatusMessage(QString::number(i));
    QCOMPARE(module.StatusLineCount(), 50);
    QCOMPARE(messages(controls.log).size(), 52);
    QCOMPARE(messages(controls.log).first(), QStringLiteral("101"));
    QCOMPARE(messages(controls.log).mid(50), (QStringList{QStringLiteral("51"), logLine}));
    module.AddStatusMessage(QStringLiteral("102"));
    QCOMPARE(module.StatusLineCount(), 0);
    QCOMPARE(messages(controls.log), QStringList{QStringLiteral("102")});
}

void TestGlobalModule::writeFailureIsReportedBelowTheMessage_data()
{
    QTest::addColumn<int>("linesBefore");
    QTest::addColumn<QString>("description");
    QTest::newRow("putting the line on top fails") << 3 << QStringLiteral("Out of string space");
    QTest::newRow("replacing the text fails") << 50 << QStringLiteral("Out of memory");
}

void TestGlobalModule::writeFailureIsReportedBelowTheMessage()
{
    QFETCH(int, linesBefore);
    QFETCH(QString, description);
    FakeSocketsLibrary sockets;
    FailingControls controls;
    GLOBALModule module(controls, sockets);
    for (int i = 0; i < linesBefore; ++i)
        module.AddStatusMessage(QStringLiteral("earlier"));
    const QString old = controls.log;

    controls.prependFailures = linesBefore < 50 ? 1 : 0;
    controls.replaceFailures = linesBefore < 50 ? 0 : 1;
    const QString before = DateTimeText::now();
    module.AddStatusMessage(QString(reinterpret_cast<const QChar *>(u"the\0message"), 11));
    const QString after = DateTimeText::now();

    const QList<StatusLine> written = lines(controls.log);
    QCOMPARE(written.at(0).message, QStringLiteral("the message"));
    QCOMPARE(written.at(1).message, description);
    QCOMPARE(written.at(0).timestamp, written.at(1).timestamp);
    QVERIFY(written.at(0).timestamp == before || written.at(0).timestamp == after);
    QVERIFY(controls.log.endsWith(old));
    QCOMPARE(written.size(), linesBefore + 2);
    QCOMPARE(module.StatusLineCount(), linesBefore);
}

void TestGlobalModule::failureOfTheReportReachesTheCaller()
{
    FakeSocketsLibrary sockets;
    FailingControls controls;
    GLOBALModule module(controls, sockets);
    controls.prependFailures = 2; // the line, then the description's line
    QVERIFY_THROWS_EXCEPTION(PlatformError, module.AddStatusMessage(QStringLiteral("lost")));
    QCOMPARE(module.StatusLineCount(), 0);
}

void TestGlobalModule::posixLibrary()
{
    PosixSocketsLibrary sockets;
    const SocketsLibrary::StartupReply reply = sockets.WSAStartup(257);
    QCOMPARE(reply.result, 0);
    QCOMPARE(reply.version, quint16(0x0101));
    QVERIFY(qint16(reply.maxSockets) >= 1);
    QCOMPARE(sockets.WSACleanup(), 0);

    QByteArray buffer(256, '\xAA');
    QCOMPARE(sockets.gethostname(buffer), 0);
    QVERIFY(buffer.contains('\0'));
    QCOMPARE(QString::fromLocal8Bit(buffer.left(buffer.indexOf('\0'))), QHostInfo::localHostName());

    // A buffer too small for the name either fails or holds a NUL-ended part of it.
    QByteArray tiny(1, '\xAA');
    if (sockets.gethostname(tiny) == -1)
        QVERIFY(sockets.WSAGetLastError() != 0);
    else
        QCOMPARE(tiny, QByteArray(1, '\0'));

    // localhost is named by the hosts file, so the lookup stays on this machine.
    const std::optional<SocketsLibrary::HostEntry> entry = sockets.gethostbyname("localhost");
    QVERIFY(entry.has_value());
    QCOMPARE(entry->length, qint16(4));
    QCOMPARE(entry->firstAddress, QByteArray("\x7F\x00\x00\x01", 4));
}

void TestGlobalModule::twoModulesKeepTheirOwnCounts()
{
    FakeSocketsLibrary sockets;
    FakeControls first;
    FakeControls second;
    GLOBALModule one(first, sockets);
    GLOBALModule two(second, sockets);
    one.AddStatusMessage(QStringLiteral("a"));
    one.AddStatusMessage(QStringLiteral("b"));
    two.AddStatusMessage(QStringLiteral("c"));
    QCOMPARE(one.StatusLineCount(), 2);
    QCOMPARE(two.StatusLineCount(), 1);
    QCOMPARE(messages(second.log), QStringList{QStringLiteral("c")});
}

QTEST_GUILESS_MAIN(TestGlobalModule)
#include "tst_globalmodule.moc"
