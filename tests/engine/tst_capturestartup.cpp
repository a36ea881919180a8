#include "captureengine.h"
#include "fakecontrols.h"
#include "loopbacksocket.h"
#include "platformerror.h"
#include "socketendpoint.h"

#include <QTemporaryDir>
#include <QTcpSocket>
#include <QtTest>

class tst_CaptureStartup final : public QObject
{
    Q_OBJECT

private slots:
    void failures_data()
    {
        // In port texts %P stands for a free port, %U for one in use, %Q for another free port.
        QTest::addColumn<QString>("inPort");
        QTest::addColumn<int>("relay");
        QTest::addColumn<QString>("outPort");
        QTest::addColumn<QString>("outHost");
        QTest::addColumn<QString>("prompt"); // empty: no failure
        QTest::addColumn<QString>("title");  // empty: reported with number and description

        const QString invalidIn = QStringLiteral("Invalid input port number. Use between 1 and 65535");
        const QString invalidOut = QStringLiteral("Invalid output port number. Use between 1 and 65535");
        const QString error = QStringLiteral("Error"), local = QStringLiteral("127.0.0.1");
        const QString p = QStringLiteral("%P"), none;
        const QString overflow = QStringLiteral("Overflow"), inputError = QStringLiteral("Error on input socket!");

        for (const char *text : {"1", "65535", "0", "-5000", "", "abc", "65534.6", "1.4", "1e-400"})
            QTest::addRow("IN port \"%s\"", text)
                << QString::fromLatin1(text) << 0 << QStringLiteral("5001") << local << invalidIn << error;
        // The ports compare as numbers, not as texts.
        QTest::newRow("relay, same port numbers")
            << p << 1 << QStringLiteral("%P.0x") << local << QStringLiteral("Input port cannot be same as output port!")
            << error;
        QTest::newRow("relay, OUT 65535") << p << 1 << QStringLiteral("65535") << local << invalidOut << error;
        QTest::newRow("relay, OUT 1") << p << 1 << QStringLiteral("1") << local << invalidOut << error;
        QTest::newRow("relay, OUT 2") << p << 1 << QStringLiteral("2") << local << none << none;
        QTest::newRow("relay, IN tested first")
            << QStringLiteral("65536") << 1 << QStringLiteral("65536") << local << invalidIn << error;
        QTest::newRow("IN port in use") << QStringLiteral("%U") << 0 << QStringLiteral("5001") << local
                                        << QStringLiteral("Address in use") << inputError;
        QTest::newRow("relay, OUT port beyond 32 bits")
            << p << 1 << QStringLiteral("99999999999") << local << overflow << inputError;
        // Beyond the 32-bit range outside every region: reported with number and description.
        QTest::newRow("IN port beyond 32 bits") << QStringLiteral("4294972296") << 0 << none << none << overflow << none;
        QTest::newRow("relay, bad host") << p << 1 << QStringLiteral("%Q") << none
                                         << QStringLiteral("Authoritative answer: Host not found")
                                         << QStringLiteral("Error on output socket!");
        // Without the relay switch ticked (grayed is not ticked) the OUT boxes are never read.
        QTest::newRow("relay clear, OUT 0") << p << 0 << QStringLiteral("0") << local << none << none;
        QTest::newRow("relay grayed, OUT 0") << p << 2 << QStringLiteral("0") << local << none << none;
        // The number logged is the port read back from the listener, not the box's text.
        QTest::newRow("IN port text with letters") << QStringLiteral("%Pabc") << 0 << none << local << none << none;
    }

    void failures()
    {
        QFETCH(QString, inPort);
        QFETCH(int, relay);
        QFETCH(QString, outPort);
        QFETCH(QString, outHost);
        QFETCH(QString, prompt);
        QFETCH(QString, title);

        QTemporaryDir folder;
        const LoopbackSocket occupant = LoopbackSocket::listen();
        const QString p = QString::number(LoopbackSocket::freePort()), q = QString::number(LoopbackSocket::freePort());
        // A free IN port that reads as a valid number: the listener listens whatever fails later.
        const bool listening = inPort.startsWith(QStringLiteral("%P"));
        FakeControls controls;
        const QString typed = QStringLiteral("typed by the operator");
        controls.log = typed;
        const QString u = QString::number(occupant.localPort());
        controls.texts[Control::InPort] = inPort.replace(QStringLiteral("%P"), p).replace(QStringLiteral("%U"), u);
        controls.texts[Control::OutPort] = outPort.replace(QStringLiteral("%P"), p).replace(QStringLiteral("%Q"), q);
        controls.texts[Control::OutHost] = outHost;
        controls.values[Control::RelaySwitch] = relay;
        CaptureEngine engine(controls, folder.path());
        engine.Form_Load();
        engine.Command1_Click();

        if (prompt.isEmpty()) {
            QVERIFY(controls.messages.isEmpty());
            QCOMPARE(controls.endRequests, 0);
            QCOMPARE(controls.log, typed + QStringLiteral("Listening on TCP port %1\r\n").arg(p));
            QCOMPARE(engine.state().CaptureCounter, 1);
            QVERIFY(!engine.state().SlotInUse[0] && !engine.state().SlotInUse[1]);
        } else if (title.isEmpty()) {
            QCOMPARE(controls.reports.size(), 1);
            QCOMPARE(controls.reports.first().number, ErrorNumber::Overflow);
            QCOMPARE(controls.reports.first().description, prompt);
            QVERIFY(controls.messages.isEmpty());
            QCOMPARE(controls.endRequests, 1);
        } else {
            QCOMPARE(controls.messages.size(), 1);
            QCOMPARE(controls.messages.first().prompt, prompt);
            QCOMPARE(controls.messages.first().style, 16);
            QCOMPARE(controls.messages.first().title, title);
            QCOMPARE(controls.endRequests, 1);
            QVERIFY(engine.hasEnded());
            QCOMPARE(controls.log, typed);
        }
        // Nothing done before a failure is undone: a listener that listens goes on listening.
        QCOMPARE(engine.listenerState() == SocketEndpoint::State::Listening, listening);
        if (listening) {
            QTcpSocket tracker;
            tracker.connectToHost(QHostAddress::LocalHost, p.toUShort());
            QVERIFY(tracker.waitForConnected(5000));
        }
        QCOMPARE(controls.disabledInOrder,
                 (QList<Control>{Control::StartButton, Control::RelaySwitch, Control::InPort, Control::OutPort}));
        QCOMPARE(controls.reports.isEmpty(), !title.isEmpty() || prompt.isEmpty());
        // The start-up writes no capture file.
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList());
    }

    void captureFolder_data()
    {
        // Files in the folder; "<missing>": no folder, "<file>": a file in its place.
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<int>("first"); // the first capture number; 0: refused before listening
        QTest::newRow("empty folder") << QStringList() << 1;
        QTest::newRow("missing folder is made") << QStringList{QStringLiteral("<missing>")} << 1;
        QTest::newRow("a file in its place") << QStringList{QStringLiteral("<file>")} << 0;
        QTest::newRow("earlier run") << QStringList{QStringLiteral("x0001_5000.dat"), QStringLiteral("x0001_5000.log")}
                                     << 2;
        QTest::newRow("error log counts, numbers compare as numbers")
            << QStringList{QStringLiteral("x9999_5000.dat"), QStringLiteral("x10000_err5000.log"),
                           QStringLiteral("x0999_80.log")}
            << 10001;
        QTest::newRow("other files do not count")
            << QStringList{QStringLiteral("x12.dat"), QStringLiteral("notes.txt"), QStringLiteral("y0005_5000.dat"),
                           QStringLiteral("x0004_5000.dat")}
            << 5;
        QTest::newRow("one number left") << QStringList{QStringLiteral("x2147483646_5000.dat")} << 2147483647;
        // Numbers that have run out would have the first capture overwrite the last one.
        QTest::newRow("numbers run out") << QStringList{QStringLiteral("x2147483647_5000.log")} << 0;
        QTest::newRow("beyond any number") << QStringList{QStringLiteral("x99999999999999999999_5000.dat")} << 0;
    }

    void captureFolder()
    {
        QFETCH(QStringList, present);
        QFETCH(int, first);
        QTemporaryDir base;
        QString folder = base.filePath(QStringLiteral("capture"));
        if (present == QStringList{QStringLiteral("<missing>")})
            folder = base.filePath(QStringLiteral("not/yet/capture"));
        else if (present != QStringList{QStringLiteral("<file>")})
            QVERIFY(QDir().mkpath(folder));
        for (const QString &name : present) {
            QFile f(name == QLatin1StringView("<file>") ? folder : QDir(folder).filePath(name));
            QVERIFY(name == QLatin1StringView("<missing>") || f.open(QIODevice::WriteOnly));
        }
        FakeControls controls;
        controls.texts[Control::InPort] = QString::number(LoopbackSocket::freePort());
        CaptureEngine engine(controls, folder);
        engine.Form_Load();
        engine.Command1_Click();
        if (first != 0) {
            QVERIFY(controls.messages.isEmpty());
            QVERIFY(QFileInfo(folder).isDir());
            QCOMPARE(engine.state().CaptureCounter, first);
            return;
        }
        QCOMPARE(controls.messages.size(), 1);
        QCOMPARE(controls.messages.first().title, QStringLiteral("Error"));
        QCOMPARE(controls.messages.first().style, 16);
        QVERIFY2(controls.messages.first().prompt.startsWith(
                     QStringLiteral("Unable to use the capture folder %1: ").arg(QDir::toNativeSeparators(folder))),
                 qPrintable(controls.messages.first().prompt));
        QCOMPARE(controls.endRequests, 1);
        QCOMPARE(engine.listenerState(), SocketEndpoint::State::Closed);
    }
};

QTEST_GUILESS_MAIN(tst_CaptureStartup)
#include "tst_capturestartup.moc"
