#include "analyzerfrm.h"
#include "browserstrip.h"
#include "endpointarray.h"
#include "fakecontrols.h"
#include "fakesocketslibrary.h"
#include "capturefiles.h"
#include "commandcomposer.h"
#include "commandframedialog.h"
#include "featuremenus.h"
#include "liveviewservice.h"
#include "platformerror.h"
#include "positionsmodel.h"
#include "positionswindow.h"
#include "trackview.h"
#include "socketendpoint.h"
#include "outservers.h"
#include "textpane.h"
#include "trackerswindow.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>


namespace {

// A window on a fresh capture folder and a fake sockets library.
struct Fixture
{
    Fixture() : window(folder.path(), sockets) { window.Form_Load(); }

    void showAndActivate()
    {
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }

    QTemporaryDir folder;
    FakeSocketsLibrary sockets;
    AnalyzerFrm window;
};

// What the next modal message box showed: "critical, OK: title: text" for a critical one with
// one OK button. It is closed as soon as it appears.
QString closeNextMessageBox(const std::function<void()> &show)
{
    QString shown;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            poll.stop();
            shown = QStringLiteral("%1, %2: %3: %4")
                        .arg(box->icon() == QMessageBox::Critical ? QStringLiteral("critical") : QStringLiteral("other"),
                             box->standardButtons() == QMessageBox::Ok ? QStringLiteral("OK") : QStringLiteral("other"),
                             box->windowTitle(), box->text());
            box->accept();
        }
    });
    poll.start();
    show();
    return shown;
}

// The lines of a pane, each with its timestamp removed, separated by '|'.
QString withoutTimestamps(const QString &paneText)
{
    QStringList lines = paneText.split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = line.isEmpty() ? line : FakeControls::afterTimestamp(line);
    return lines.join(QLatin1Char('|'));
}

} // namespace

class tst_AnalyzerFrm final : public QObject
{
    Q_OBJECT

private slots:
    void windowSettings();
    void layout();
    void focusOrder();
    void onlyTheHandlersRunCode();
    void formActivate_data();
    void formActivate();
    void formActivateRunsWhenTheWindowBecomesActive();
    void messageBoxes();
    void endToEnd();
    void featureSwitchesAreFixedAtTheStart();
    void positionsFollowTheCapture();
    void frameBuilder_data();
    void frameBuilder();
    void trackersAtOnceAndTheirTable();
    void liveViewShowsThePanesLines();
};

void tst_AnalyzerFrm::windowSettings()
{
    Fixture f;
    AnalyzerFrm &w = f.window;
    QCOMPARE(w.windowTitle(), QStringLiteral("TAVRIN-GPS - TCP/IP GPS Protocol Analyzer - Feel Free to distribute"));
    // The client area below the menu bar has the window's size; the window is no smaller.
    const QSize client(w.pixelsX(14160), w.pixelsY(8355));
    QCOMPARE(w.clientArea()->size(), client);
    if (w.logicalDpiX() == 96 && w.logicalDpiY() == 96)
        QCOMPARE(client, QSize(944, 557));
    QCOMPARE(w.clientArea()->y(), w.menus()->menuBar()->height());
    QCOMPARE(w.minimumSize(), w.size());
    QCOMPARE(w.pixelsX(1440), w.logicalDpiX());
    for (const int side : {16, 32, 48, 256})
        QVERIFY(w.windowIcon().availableSizes().contains(QSize(side, side)));

    // The contents at load: captions, texts, clear check boxes, empty panes; all enabled.
    const std::pair<QWidget *, const char *> captions[] = {
        {w.Label1(), "TCP/IP OUT port:"}, {w.Label2(), "TCP/IP IN port:"}, {w.Label3(), "Command:"},
        {w.Label4(), "Type:"}, {w.Label5(), "This computer's IP:"}, {w.Label6(), "Host OUT IP Address:"},
        {w.Label7(), "127.0.0.1"}, {w.Command1(), "Start Capturing Data on IN Port"},
        {w.Check1(), "Enable Send Immediate"}, {w.Check3(), "Relay data from IN port to OUT port"},
        {w.Check2(), "Automatically Send User Command to Device. (Device must be connected via the Internet) HEX "
                     "data values must be separated by Comma \",\""}};
    for (const auto &[control, caption] : captions)
        QCOMPARE(AnalyzerFrm::captionOf(control), QString::fromUtf8(caption));
    QCOMPARE(w.Frame1()->title(), QStringLiteral("Connections"));
    QCOMPARE(w.Frame2()->title(), QStringLiteral("Data Capture and Commands"));
    const std::pair<Control, const char *> texts[] = {{Control::InPort, "5000"}, {Control::OutPort, "5001"},
                                                      {Control::OutHost, "127.0.0.1"}, {Control::Command, ""},
                                                      {Control::CommandType, "ASCII"}, {Control::ConnectionLog, ""},
                                                      {Control::DataPane, ""}};
    for (const auto &[control, text] : texts)
        QCOMPARE(w.text(control), QString::fromUtf8(text));
    QVERIFY(w.WebBrowser1()->toPlainText().isEmpty());
    for (const Control check : {Control::SendOnConnect, Control::AutoSend, Control::RelaySwitch})
        QCOMPARE(w.value(check), CheckValue::Clear);
    for (const QWidget *child : w.clientArea()->findChildren<QWidget *>())
        QVERIFY(child->isEnabled());

    // The controls that the engine drives reach their widgets. Check box values: 0 clear,
    // 1 ticked, 2 grayed, both ways.
    w.appendToLog(QStringLiteral("end\r\n"));
    w.prependToLog(QStringLiteral("top\r\n"));
    QCOMPARE(w.Text1()->text(), QStringLiteral("top\nend\n"));
    w.replaceLog(QStringLiteral("fresh\r\n"));
    QCOMPARE(w.Text1()->text(), QStringLiteral("fresh\n"));
    const std::pair<int, Qt::CheckState> values[] = {{1, Qt::Checked}, {2, Qt::PartiallyChecked}, {0, Qt::Unchecked}};
    for (const auto &[value, state] : values) {
        w.setValue(Control::AutoSend, value);
        QCOMPARE(w.Check2()->checkState(), state);
        w.Check1()->setCheckState(state);
        QCOMPARE(w.value(Control::SendOnConnect), value);
    }
    QVERIFY_THROWS_EXCEPTION(PlatformError, w.setValue(Control::SendOnConnect, 3));
}

void tst_AnalyzerFrm::layout()
{
    Fixture f;
    f.showAndActivate();
    AnalyzerFrm &w = f.window;
    const QWidget *client = w.clientArea();
    const auto rect = [client](const QWidget *c) { return QRect(c->mapTo(client, QPoint(0, 0)), c->size()); };

    // Each label explains the control to its right: a right-aligned label ends 105 twips
    // before it, on the same line.
    const std::pair<QLabel *, QWidget *> explained[] = {{w.Label2(), w.Text2()}, {w.Label1(), w.Text5()},
                                                        {w.Label6(), w.Text6()}, {w.Label3(), w.Text4()},
                                                        {w.Label4(), w.Combo1()}};
    for (const auto &[label, control] : explained) {
        QCOMPARE(label->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
        QVERIFY2(qAbs(rect(control).left() - rect(label).right() - 1 - w.pixelsX(105)) <= 1,
                 qPrintable(label->objectName()));
        QCOMPARE(rect(label).top(), rect(control).top());
    }
    QCOMPARE(w.Label5()->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    QVERIFY(rect(w.Label7()).left() >= rect(w.Label5()).right());
    // The fields of the connections frame stand in one row, the IN port box among them though
    // it is no child of the frame; Text1, Text2 and Command1 lie above the frame.
    for (QWidget *field : QWidgetList{w.Text2(), w.Label5(), w.Label7(), w.Text6()})
        QCOMPARE(rect(field).top(), rect(w.Text5()).top());
    const QObjectList children = client->children();
    for (QWidget *above : QWidgetList{w.Text1(), w.Text2(), w.Command1()}) {
        QVERIFY(children.indexOf(above) > children.indexOf(w.Frame1()));
        QVERIFY(rect(w.Frame1()).contains(rect(above)));
    }
    // Nothing overlaps, everything lies inside the window, and nothing moves when it grows.
    const QWidgetList controls = {w.Text1(),  w.Text2(),  w.Text3(),  w.Text4(),  w.Text5(),  w.Text6(),  w.Label1(),
                                  w.Label2(), w.Label3(), w.Label4(), w.Label5(), w.Label6(), w.Label7(), w.Check1(),
                                  w.Check2(), w.Check3(), w.Combo1(), w.Command1(), w.WebBrowser1()};
    QList<QRect> before;
    for (QWidget *a : controls) {
        QVERIFY(a->isVisible());
        QVERIFY(client->rect().contains(rect(a)));
        for (QWidget *b : controls) // the caption of the local address touches the address by a pixel
            QVERIFY2(a == b || !rect(a).adjusted(1, 0, -1, 0).intersects(rect(b)),
                     qPrintable(a->objectName() + QLatin1Char('/') + b->objectName()));
        before.append(rect(a));
    }
    QVERIFY(!rect(w.Frame1()).intersects(rect(w.Frame2())));
    QVERIFY(rect(w.Frame2()).contains(rect(w.Text3())) && rect(w.Frame2()).contains(rect(w.Check2())));
    // The panes: log lines drop off the top, data lines off the bottom; green on dark grey.
    QCOMPARE(w.Text1()->dropEnd(), TextPane::DropEnd::Top);
    QCOMPARE(w.Text3()->dropEnd(), TextPane::DropEnd::Bottom);
    for (const TextPane *pane : {w.Text1(), w.Text3()}) {
        QVERIFY(QFontInfo(pane->font()).fixedPitch() && !pane->isReadOnly());
        QCOMPARE(pane->palette().color(QPalette::Inactive, QPalette::Base), QColor(64, 64, 64));
        QCOMPARE(pane->palette().color(QPalette::Active, QPalette::Text), QColor(0, 255, 0));
    }
    // The form's face reaches the text fields, the command type's inside its frame too.
    for (const QLineEdit *field : {w.Text2(), w.Text4(), w.Combo1()->lineEdit()})
        QCOMPARE(field->font(), w.Label4()->font());
    // Every caption shows whole: the face's size fits the captions to their controls.
    for (const QWidget *c : w.captioned())
        QVERIFY2(QFontMetrics(c->font()).horizontalAdvance(AnalyzerFrm::captionOf(c)) <= w.captionRoom(c),
                 qPrintable(c->objectName()));

    // Grown, the panes and the strip take the room, the data pane most; the fields and buttons
    // keep their sizes, and those of the connections their places.
    w.resize(w.width() + 200, w.height() + 400);
    QCOMPARE(client->size(), QSize(w.pixelsX(14160) + 200, w.pixelsY(8355) + 400));
    const auto growth = [&](QWidget *c) { return rect(c).size() - before.at(controls.indexOf(c)).size(); };
    const QWidgetList panes{w.Text1(), w.Text3(), w.WebBrowser1()};
    for (QWidget *pane : panes)
        QCOMPARE(growth(pane).width(), 200);
    const int paneGrowth = growth(w.Text3()).height();
    QVERIFY(paneGrowth > growth(w.WebBrowser1()).height() && growth(w.WebBrowser1()).height() > 0);
    QCOMPARE(paneGrowth + growth(w.WebBrowser1()).height(), 400);
    for (int i = 0; i < controls.size(); ++i) {
        if (!panes.contains(controls.at(i)))
            QCOMPARE(rect(controls.at(i)).size(), before.at(i).size());
        if (rect(controls.at(i)).top() < rect(w.Frame2()).top())
            QCOMPARE(rect(controls.at(i)).topLeft(), before.at(i).topLeft());
    }
    QCOMPARE(rect(w.Text4()).top() - before.at(controls.indexOf(w.Text4())).top(), paneGrowth);
    w.resize(100, 100);
    QCOMPARE(w.size(), w.minimumSize());
}

void tst_AnalyzerFrm::focusOrder()
{
    Fixture f;
    f.showAndActivate();
    QCOMPARE(QApplication::focusWidget(), f.window.Command1());

    const QWidgetList order = {f.window.Text1(),  f.window.Text2(), f.window.Text3(),  f.window.Combo1(), f.window.Check2(),  f.window.Text4(),
                               f.window.Check1(), f.window.Text5(), f.window.Check3(), f.window.Text6(),  f.window.Command1()};
    const auto owner = [&](QWidget *focused) {
        for (QWidget *candidate : order)
            if (focused == candidate || candidate->isAncestorOf(focused))
                return candidate;
        return focused;
    };
    for (QWidget *expected : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTRY_COMPARE(owner(QApplication::focusWidget()), expected);
    }
    // Labels, frames and the browser strip take no focus.
    for (QWidget *none : QWidgetList{f.window.Label7(), f.window.Frame1(), f.window.WebBrowser1()})
        QCOMPARE(none->focusPolicy(), Qt::NoFocus);
}

void tst_AnalyzerFrm::onlyTheHandlersRunCode()
{
    Fixture f;
    f.showAndActivate();
    QTRY_VERIFY(!f.window.Label7()->text().isEmpty());
    const QByteArrayList callsAfterActivation = f.sockets.calls;
    const QString address = f.window.Label7()->text();

    // Everything an operator can do short of pressing the start button, and closing the window.
    for (QCheckBox *box : {f.window.Check1(), f.window.Check2(), f.window.Check3(), f.window.Check2()})
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    for (QLineEdit *box : {f.window.Text2(), f.window.Text4(), f.window.Text5(), f.window.Text6(),
                           f.window.Combo1()->lineEdit()}) {
        box->setFocus();
        QTest::keyClicks(box, QStringLiteral("12"));
        QTest::keyClick(box, Qt::Key_Return);
    }
    QTest::mouseClick(f.window.WebBrowser1()->viewport(), Qt::LeftButton);
    f.window.resize(500, 300);
    f.window.resize(1200, 700);
    QTest::qWait(50);
    QVERIFY(f.window.close());

    QCOMPARE(f.sockets.calls, callsAfterActivation);
    QCOMPARE(f.window.Label7()->text(), address);
    QCOMPARE(f.window.Check1()->checkState(), Qt::Checked);
    QCOMPARE(f.window.Check2()->checkState(), Qt::Unchecked);
    // Typed text that is none of the command types stays as typed; the list keeps its two.
    QCOMPARE(f.window.text(Control::CommandType), QStringLiteral("ASCII12"));
    QCOMPARE(f.window.Combo1()->count(), 2);
    QVERIFY(f.window.Command1()->isEnabled() && f.window.Text2()->isEnabled());
    QCOMPARE(f.window.engine().listenerState(), SocketEndpoint::State::Closed);
    QCOMPARE(f.window.engine().relayState(), SocketEndpoint::State::Closed);
    QCOMPARE(f.window.engine().state().CaptureCounter, 1);
    QVERIFY(QDir(f.folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    QVERIFY(!f.window.engine().hasEnded());
}

void tst_AnalyzerFrm::formActivate_data()
{
    QTest::addColumn<bool>("activated"); // false: focus-stealing prevention keeps the activation away
    QTest::addColumn<bool>("resolves");
    QTest::addColumn<int>("cleanupResult");
    QTest::addColumn<QStringList>("statusMessages");
    const QString notResolved = QStringLiteral("Windows Sockets are not responding. Unable to successfully get Host Name.");
    QTest::newRow("address found") << true << true << 0 << QStringList();
    QTest::newRow("address found, no activation comes") << false << true << 0 << QStringList();
    QTest::newRow("name not resolved") << true << false << 0 << QStringList{notResolved};
    QTest::newRow("name not resolved, clean-up fails")
        << true << false << 1 << QStringList{QStringLiteral("Socket error occurred in Cleanup."), notResolved};
}

void tst_AnalyzerFrm::formActivate()
{
    QFETCH(bool, activated);
    QFETCH(bool, resolves);
    QFETCH(int, cleanupResult);
    QFETCH(QStringList, statusMessages);
    struct NoActivation final : QObject
    {
        bool eventFilter(QObject *, QEvent *event) override { return event->type() == QEvent::WindowActivate; }
    } noActivation;
    Fixture f;
    if (!resolves)
        f.sockets.entry.reset();
    f.sockets.cleanupResult = cleanupResult;
    f.window.Text1()->appendLine(QStringLiteral("typed before\r\n"));
    QSignalSpy pageLoaded(f.window.WebBrowser1(), &BrowserStrip::loadFinished);

    if (!activated)
        f.window.installEventFilter(&noActivation);
    activated ? f.showAndActivate() : f.window.show();
    QTRY_VERIFY(f.sockets.calls.contains("WSAStartup"));
    QCOMPARE(f.window.Label7()->text(), resolves ? QStringLiteral("192.168.1.10") : QString());
    QStringList log;
    for (const QString &line : f.window.Text1()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        log.append(line.section(QStringLiteral(" \u00A6 "), -1));
    QCOMPARE(log, statusMessages + QStringList{QStringLiteral("typed before")});
    QCOMPARE(f.window.globalModule().StatusLineCount(), statusMessages.size());

    // The advertisement page opens after the address is shown.
    QCOMPARE(f.window.WebBrowser1()->address(), QUrl(AnalyzerFrm::advertisementAddress()));
    QTRY_COMPARE_WITH_TIMEOUT(pageLoaded.size(), 1, 10000);
    QCOMPARE(pageLoaded.first().first().toBool(), true);
    QVERIFY(f.window.WebBrowser1()->toPlainText().contains(QDir::toNativeSeparators(f.folder.path())));
    // An activation that comes later, or again, does not run the handler a second time.
    f.window.removeEventFilter(&noActivation);
    QEvent activation(QEvent::WindowActivate);
    QApplication::sendEvent(&f.window, &activation);
    QCOMPARE(f.sockets.requestedVersions.size(), 1);
}

void tst_AnalyzerFrm::formActivateRunsWhenTheWindowBecomesActive()
{
    Fixture f;
    QVERIFY(f.sockets.calls.isEmpty()); // nothing at load
    f.showAndActivate();
    QTRY_COMPARE(f.sockets.requestedVersions.size(), 1);

    // A message box of the program, shown and dismissed: no new activation.
    QCOMPARE(closeNextMessageBox([&] { f.window.messageBox(QStringLiteral("note"), 64, QStringLiteral("t")); }),
             QStringLiteral("other, OK: t: note"));
    f.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f.window));
    QCOMPARE(f.sockets.requestedVersions.size(), 1);

    // Another window of the program was active: the handler runs again, all three steps.
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    f.sockets.entry.reset();
    f.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f.window));
    QTRY_COMPARE(f.sockets.requestedVersions.size(), 2);
    QCOMPARE(f.window.Label7()->text(), QString());
}

void tst_AnalyzerFrm::messageBoxes()
{
    // A region's report and a run-time error report: critical, one OK button; after them the
    // program ends with status 1, while the operator's closing ends it with 0.
    Fixture f;
    f.showAndActivate();
    QCOMPARE(closeNextMessageBox([&] {
                 f.window.messageBox(QStringLiteral("Address in use"), vbCritical, QStringLiteral("Error on input socket!"));
             }),
             QStringLiteral("critical, OK: Error on input socket!: Address in use"));
    QCOMPARE(closeNextMessageBox([&] { f.window.reportError(76, QStringLiteral("Path not found: /x0001_5000.dat")); }),
             QStringLiteral("critical, OK: gps-analyzer: Run-time error '76':\n\nPath not found: /x0001_5000.dat"));
    for (const bool engineEnds : {true, false}) {
        QTimer::singleShot(0, &f.window, [&] { engineEnds ? f.window.endProgram() : void(f.window.close()); });
        QCOMPARE(QApplication::exec(), engineEnds ? 1 : 0);
    }
}

void tst_AnalyzerFrm::endToEnd()
{
    Fixture f;
    f.showAndActivate();
    QTRY_COMPARE(f.window.Label7()->text(), QStringLiteral("192.168.1.10"));

    FakeOutServer outServer;
    const quint16 inPort = LoopbackSocket::freePort();
    QVERIFY(inPort != outServer.port());

    // The operator's settings, made with keyboard and mouse.
    const auto type = [](QLineEdit *box, const QString &text) {
        box->selectAll();
        QTest::keyClicks(box, text);
    };
    type(f.window.Text2(), QString::number(inPort));
    type(f.window.Text5(), QString::number(outServer.port()));
    type(f.window.Text4(), QStringLiteral("HELLO"));
    for (QCheckBox *box : {f.window.Check3(), f.window.Check2()})
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    QTest::mouseClick(f.window.Command1(), Qt::LeftButton);

    const QString listening = QStringLiteral("Listening on TCP port %1\n").arg(inPort);
    QCOMPARE(f.window.Text1()->text(), listening);
    for (QWidget *frozen : QWidgetList{f.window.Command1(), f.window.Check3(), f.window.Text2(), f.window.Text5()})
        QVERIFY(!frozen->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(outServer.connection != nullptr, 10000);

    QTcpSocket tracker;
    QByteArray trackerReceived;
    connect(&tracker, &QTcpSocket::readyRead, &tracker, [&] { trackerReceived += tracker.readAll(); });
    tracker.connectToHost(QHostAddress::LocalHost, inPort);
    const QString connected = listening + QStringLiteral("Tracker 127.0.0.1 connected.\n");
    QTRY_COMPARE_WITH_TIMEOUT(f.window.Text1()->text(), connected, 10000);

    const QByteArray chunk("$GP,1\r\n");
    tracker.write(chunk);
    QTRY_COMPARE_WITH_TIMEOUT(outServer.received, chunk, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(trackerReceived, QByteArray("HELLO\r\n"), 10000);
    outServer.connection->write("ACK");
    QTRY_COMPARE_WITH_TIMEOUT(f.window.engine().state().CaptureCounter, 3, 10000);

    QCOMPARE(withoutTimestamps(f.window.Text3()->text()),
             QStringLiteral(":  -> (HEXAD):41434B|:  -> (ASCII):ACK|: OUT (ASCII):HELLO|:  IN (HEXAD):2447502C31 D A|"
                            ":  IN (ASCII):$GP,1||"));
    QCOMPARE(f.window.Check2()->checkState(), Qt::Unchecked);
    QCOMPARE(QDir(f.folder.path()).entryList(QDir::Files).size(), 4);

    tracker.disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(f.window.Text1()->text(), connected + QStringLiteral("Tracker 127.0.0.1 disconnected.\n"),
                              10000);
    QVERIFY(!f.window.engine().hasEnded());
}

void tst_AnalyzerFrm::featureSwitchesAreFixedAtTheStart()
{
    Fixture f;
    FeatureMenus &menus = *f.window.menus();
    QCOMPARE(f.window.features().protocol, std::nullopt); // all off but CR LF
    QVERIFY(!f.window.features().sessionIndex && !f.window.features().acknowledge && f.window.features().appendCrLf);
    menus.protocols->actions().at(2)->trigger(); // the first protocol after Off and Auto-detect
    menus.acknowledge->trigger();
    menus.sessionIndex->trigger();
    menus.alsoUdp->trigger();
    f.window.Text2()->setText(QString::number(LoopbackSocket::freePort()));
    QTest::mouseClick(f.window.Command1(), Qt::LeftButton);
    QCOMPARE(f.window.engine().features().protocol, ProtocolChoice::only(TrackerProtocol::Teltonika));
    QVERIFY(f.window.engine().features().acknowledge);
    QCOMPARE(f.window.engine().udpPort(), f.window.engine().inPort());
    QVERIFY(QFileInfo::exists(QDir(f.folder.path()).filePath(QStringLiteral("index.tsv"))));
    for (QAction *fixed : {menus.acknowledge, menus.sessionIndex, menus.passAnswers, menus.alsoUdp,
                           menus.protocols->actions().at(0)})
        QVERIFY(!fixed->isEnabled());
    // The command stays the operator's: its frame builder and its CR LF.
    QVERIFY(menus.buildFrame->isEnabled() && menus.appendCrLf->isEnabled());
}

void tst_AnalyzerFrm::trackersAtOnceAndTheirTable()
{
    Fixture f;
    FeatureMenus &menus = *f.window.menus();
    const QString mirror = QStringLiteral("127.0.0.1:%1").arg(LoopbackSocket::freePort());
    QVERIFY(f.window.chooseTrackersAtOnce(3) && f.window.chooseMirrors(QStringLiteral(" %1 ").arg(mirror)));
    QCOMPARE(closeNextMessageBox([&] { QVERIFY(!f.window.chooseMirrors(QStringLiteral("a:1, b"))); }),
             QStringLiteral("other, OK: Mirror to: b is no HOST:PORT, such as 127.0.0.1:5002."));
    QCOMPARE(f.window.features().maxTrackers, 3);
    QCOMPARE(f.window.features().mirrors, QStringList{mirror});
    const quint16 inPort = LoopbackSocket::freePort();
    f.window.Text2()->setText(QString::number(inPort));
    QTest::mouseClick(f.window.Command1(), Qt::LeftButton);
    QVERIFY(!menus.trackersAtOnce->isEnabled() && !menus.mirrorTo->isEnabled());

    menus.showTrackers->trigger();
    QVERIFY(f.window.trackersWindow() && f.window.trackersWindow()->isVisible());
    const QAbstractItemModel &table = *f.window.trackersWindow()->table()->model();
    QTcpSocket first, second;
    first.connectToHost(QHostAddress::LocalHost, inPort);
    QTRY_COMPARE(table.rowCount(), 1);
    second.connectToHost(QHostAddress::LocalHost, inPort);
    first.write("ABC");
    QTRY_COMPARE(table.rowCount(), 2);
    QTRY_COMPARE(table.data(table.index(0, TrackerTable::BytesIn)).toInt(), 3);
    QCOMPARE(table.data(table.index(0, TrackerTable::Tracker)).toString(),
             QStringLiteral("127.0.0.1:%1").arg(first.localPort()));
    QCOMPARE(table.data(table.index(1, TrackerTable::Chunks)).toInt(), 0);
    second.disconnectFromHost();
    QTRY_COMPARE(table.rowCount(), 1);
}

void tst_AnalyzerFrm::positionsFollowTheCapture()
{
    // Decoding switched on in the menu: each report's position joins the table, newest on top,
    // and the track, which is drawn and saved as an image. Traccar Gps103ProtocolDecoderTest: the
    // first report and its position; the second a minute later, 200 m further.
    Fixture f;
    f.window.menus()->decode->trigger();
    const quint16 inPort = LoopbackSocket::freePort();
    f.window.Text2()->setText(QString::number(inPort));
    QTest::mouseClick(f.window.Command1(), Qt::LeftButton);
    QVERIFY(!f.window.menus()->decode->isEnabled());
    PositionsWindow *positions = f.window.showPositions();
    QTcpSocket tracker;
    tracker.connectToHost(QHostAddress::LocalHost, inPort);
    tracker.write("imei:359710045559474,tracker,151030080103,,F,000101.000,A,5443.3834,N,02512.9071,E,0.00,0;");
    QTRY_COMPARE_WITH_TIMEOUT(positions->table()->model()->rowCount(), 1, 10000);
    tracker.write("imei:359710045559474,tracker,151030080203,,F,000201.000,A,5443.4834,N,02512.9971,E,10.0,90;");
    QTRY_COMPARE_WITH_TIMEOUT(positions->table()->model()->rowCount(), 2, 10000);
    const QAbstractItemModel &table = *positions->table()->model();
    QCOMPARE(table.index(0, PositionsModel::FixTime).data().toString(), QStringLiteral("2015-10-30T00:02:01Z"));
    QCOMPARE(table.index(1, PositionsModel::Latitude).data().toString(), QStringLiteral("54.7230567"));
    QCOMPARE(table.index(1, PositionsModel::Fields).data().toString(), QStringLiteral("keyword=tracker"));
    QVERIFY(withoutTimestamps(f.window.Text3()->text()).startsWith(QStringLiteral(": POS: TK103 359710045559474 2015-10-30T00:02:01Z")));

    const QString png = f.folder.filePath(QStringLiteral("track.png"));
    QVERIFY(positions->saveTrack(png));
    const QImage image(png);
    QCOMPARE(image.size(), positions->track()->size());
    int drawn = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            drawn += image.pixel(x, y) != qRgb(255, 255, 255) ? 1 : 0;
    QVERIFY2(drawn > 500, qPrintable(QString::number(drawn)));
    QVERIFY(QFileInfo::exists(QDir(f.folder.path()).filePath(QStringLiteral("positions.csv"))));
}

void tst_AnalyzerFrm::frameBuilder_data()
{
    QTest::addColumn<int>("kind"); // 0 Codec 12, 1 GT06, 2 NMEA
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("frame"); // empty: refused, with a reason in the dialog
    QTest::newRow("Codec 12 getinfo") << 0 << QStringLiteral("getinfo") << QStringLiteral("ASCII")
                                      << QByteArray::fromHex("000000000000000F0C010500000007676574696E666F0100004312");
    QTest::newRow("GT06 of hex bytes") << 1 << QStringLiteral("52,65,6C,61,79,2C,31,23") << QStringLiteral("HEX")
                                       << QByteArray::fromHex("787812800c0000000052656c61792c312300009dee0d0a");
    QTest::newRow("NMEA with a star") << 2 << QStringLiteral("PMTK*1") << QStringLiteral("ASCII") << QByteArray();
    QTest::newRow("hex that is none") << 0 << QStringLiteral("ZZ") << QStringLiteral("HEX") << QByteArray();
    QTest::newRow("nothing yet") << 1 << QString() << QStringLiteral("ASCII") << QByteArray();
}

void tst_AnalyzerFrm::frameBuilder()
{
    QFETCH(int, kind);
    QFETCH(QString, payload);
    QFETCH(QString, type);
    QFETCH(QByteArray, frame);
    Fixture f;
    f.showAndActivate();
    CommandFrameDialog *shown = nullptr;
    QTimer::singleShot(0, &f.window, [&] {
        shown = qobject_cast<CommandFrameDialog *>(QApplication::activeModalWidget());
        if (shown == nullptr)
            return;
        shown->kind->setCurrentIndex(kind);
        shown->payloadType->setCurrentText(type);
        shown->payload->setText(payload);
        QCOMPARE(shown->use->isEnabled(), !frame.isEmpty());
        QCOMPARE(shown->problem->text().isEmpty(), !frame.isEmpty());
        if (!frame.isEmpty()) {
            QVERIFY(shown->preview->text().contains(QString::fromLatin1(frame.toHex(' ').toUpper())));
            QVERIFY(shown->preview->text().contains(QStringLiteral("%1 bytes").arg(frame.size())));
            shown->use->click();
        } else {
            shown->reject();
        }
    });
    f.window.menus()->buildFrame->trigger();
    QVERIFY(shown != nullptr);
    // Used, the frame is the command as HEX bytes, with no CR LF after it.
    QCOMPARE(f.window.text(Control::Command), frame.isEmpty() ? QString() : commaSeparatedHex(frame));
    QCOMPARE(f.window.text(Control::CommandType), frame.isEmpty() ? QStringLiteral("ASCII") : QStringLiteral("HEX"));
    QCOMPARE(f.window.features().appendCrLf, frame.isEmpty());
    QCOMPARE(composeCommand(f.window.text(Control::CommandType), f.window.text(Control::Command)).bytes,
             frame.isEmpty() ? QByteArray() : frame);
}

void tst_AnalyzerFrm::liveViewShowsThePanesLines()
{
    if (!LiveViewService::available())
        QSKIP("This build has no live view.");
    Fixture f;
    AnalyzerFrm &w = f.window;
    w.appendToLog(QStringLiteral("before\r\n")); // not watched yet: only what comes after is shown
    QVERIFY(w.startLiveView(WebSettings{}));
    QVERIFY(!w.menus()->shareLiveView->isEnabled());
    QVERIFY(w.liveView()->address().startsWith(QStringLiteral("http://127.0.0.1:%1/?token=").arg(w.liveView()->port())));
    w.appendToLog(QStringLiteral("Listening on TCP port 5000\r\n"));
    w.prependToDataPane(QStringLiteral("a line\r\n"));
    w.prependChunkLines(CaptureFiles::InAsciiTag, CaptureFiles::InHexTag, QByteArray("\0$\xA0\r\n", 5));
    // The data pane as the page keeps it, top first, is the window's pane, timestamps and all.
    QString data;
    for (const QJsonValue &line : w.liveView()->view().data().snapshot().value(QStringLiteral("lines")).toArray())
        data += line.toArray().at(1).toString();
    QCOMPARE(TextPane::plainText(data), w.Text3()->text());
    QCOMPARE(w.liveView()->view().log().lineCount(), 1);
    // Once per run; a port that is taken is refused with its reason.
    QVERIFY(!w.startLiveView(WebSettings{}));
    Fixture other;
    WebSettings taken;
    taken.port = w.liveView()->port();
    QVERIFY(!other.window.startLiveView(taken));
    QVERIFY2(other.window.liveViewError().contains(QStringLiteral("cannot listen on 127.0.0.1 port %1").arg(taken.port)),
             qPrintable(other.window.liveViewError()));
    QCOMPARE(other.window.liveView(), nullptr);
}

QTEST_MAIN(tst_AnalyzerFrm)
#include "tst_analyzerfrm.moc"
