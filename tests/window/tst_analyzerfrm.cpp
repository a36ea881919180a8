#include "analyzerfrm.h"
#include "browserstrip.h"
#include "endpointarray.h"
#include "fakecontrols.h"
#include "fakesocketslibrary.h"
#include "platformerror.h"
#include "socketendpoint.h"
#include "testpeers.h"
#include "textpane.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <limits>

namespace {

const QString Caption = QStringLiteral("TAVRIN-GPS - TCP/IP GPS Protocol Analyzer - Feel Free to distribute");
const QString Check2Caption = QStringLiteral("Automatically Send User Command to Device. (Device must be connected via "
                                             "the Internet) HEX data values must be separated by Comma \",\"");

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

QWidget *control(const AnalyzerFrm &window, const QString &name)
{
    return window.findChild<QWidget *>(name);
}

// What the modal message boxes showed, closed as soon as they appear.
struct ShownBox
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QList<QMessageBox::StandardButton> buttons;
};

ShownBox closeNextMessageBox(const std::function<void()> &show)
{
    ShownBox shown;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        poll.stop();
        shown.icon = box->icon();
        shown.title = box->windowTitle();
        shown.text = box->text();
        for (QAbstractButton *button : box->buttons())
            shown.buttons.append(box->standardButton(button));
        box->accept();
    });
    poll.start();
    show();
    return shown;
}

// The lines of a pane, each with its timestamp removed.
QStringList withoutTimestamps(const QString &paneText)
{
    QStringList lines = paneText.split(QLatin1Char('\n'));
    for (QString &line : lines)
        if (!line.isEmpty())
            line = FakeControls::afterTimestamp(line);
    return lines;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class TestAnalyzerFrm final : public QObject
{
    Q_OBJECT

private slots:
    void windowSettings();
    void icon_data();
    void icon();
    void controlGeometry_data();
    void controlGeometry();
    void labelsEndBeforeTheirControls_data();
    void labelsEndBeforeTheirControls();
    void text2InLineWithTheFrameFields();
    void contentsAtLoad_data();
    void contentsAtLoad();
    void commandType();
    void textBoxesHaveNoLengthLimit();
    void faces();
    void paneStyle_data();
    void paneStyle();
    void focusOrder();
    void onlyTheHandlersRunCode();
    void formActivate_data();
    void formActivate();
    void formActivateRunsWhenTheWindowBecomesActive();
    void checkValues_data();
    void checkValues();
    void controlsReachTheirWidgets();
    void messageBoxes_data();
    void messageBoxes();
    void programEnds_data();
    void programEnds();
    void endToEnd();
};

void TestAnalyzerFrm::windowSettings()
{
    Fixture f;
    QCOMPARE(f.window.windowTitle(), Caption);
    QCOMPARE(f.window.size(), QSize(f.window.pixelsX(14160), f.window.pixelsY(8355)));
    if (f.window.logicalDpiX() == 96 && f.window.logicalDpiY() == 96)
        QCOMPARE(f.window.size(), QSize(944, 557));
    QCOMPARE(f.window.pixelsX(1440), f.window.logicalDpiX());
}

void TestAnalyzerFrm::icon_data()
{
    QTest::addColumn<int>("side");
    for (const int side : {16, 32, 48, 256})
        QTest::addRow("%d px", side) << side;
}

// The window shows, at each size, the very image that the desktop shows for the installed program.
void TestAnalyzerFrm::icon()
{
    QFETCH(int, side);
    Fixture f;
    const QIcon icon = f.window.windowIcon();
    QVERIFY(icon.availableSizes().contains(QSize(side, side)));
    // Premultiplied on both sides, as a pixmap holds it.
    const QImage installed = QImage(QStringLiteral(GPSA_ICON_DIR "/gps-analyzer-%1.png").arg(side))
                                 .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QCOMPARE(installed.size(), QSize(side, side));
    QCOMPARE(icon.pixmap(QSize(side, side)).toImage().convertToFormat(installed.format()), installed);
}

void TestAnalyzerFrm::controlGeometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    const auto row = [](const char *name, const char *parent, int left, int top, int width, int height) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(parent) << left << top << width
                            << height;
    };
    row("Frame1", "window", 120, 120, 13935, 2535);
    row("Text1", "window", 240, 360, 13695, 1215);
    row("Label2", "Frame1", 120, 1560, 1455, 255);
    row("Text2", "window", 1800, 1680, 1095, 315);
    row("Label1", "Frame1", 2880, 1560, 1455, 255);
    row("Text5", "Frame1", 4440, 1560, 1095, 315);
    row("Label6", "Frame1", 5640, 1560, 1935, 255);
    row("Text6", "Frame1", 7680, 1560, 2415, 315);
    row("Label5", "Frame1", 10560, 1560, 1455, 255);
    row("Label7", "Frame1", 12000, 1560, 1575, 255);
    row("Command1", "window", 600, 2160, 3255, 375);
    row("Check1", "Frame1", 4440, 2040, 2415, 360);
    row("Check3", "Frame1", 6960, 2040, 3015, 360);
    row("Frame2", "window", 120, 2880, 13935, 3015);
    row("Text3", "Frame2", 120, 360, 13695, 1695);
    row("Label3", "Frame2", 120, 2160, 975, 255);
    row("Text4", "Frame2", 1200, 2160, 12495, 270);
    row("Label4", "Frame2", 480, 2520, 615, 255);
    row("Combo1", "Frame2", 1200, 2520, 1095, 315);
    row("Check2", "Frame2", 2400, 2520, 11175, 345);
    row("WebBrowser1", "window", 120, 6000, 13935, 2295);
}

void TestAnalyzerFrm::controlGeometry()
{
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(int, left);
    QFETCH(int, top);
    QFETCH(int, width);
    QFETCH(int, height);
    Fixture f;
    f.showAndActivate();
    f.window.resize(f.window.width() + 200, f.window.height() + 100); // controls keep their places

    QWidget *const widget = control(f.window, name);
    QVERIFY(widget != nullptr);
    QWidget *const expectedParent =
        parent == QLatin1StringView("window") ? static_cast<QWidget *>(&f.window) : control(f.window, parent);
    QCOMPARE(widget->parentWidget(), expectedParent);
    const AnalyzerFrm &w = f.window;
    QCOMPARE(widget->geometry(), QRect(w.pixelsX(left), w.pixelsY(top), w.pixelsX(width), w.pixelsY(height)));
    QVERIFY(widget->isVisible());
}

void TestAnalyzerFrm::labelsEndBeforeTheirControls_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("explained");
    QTest::addColumn<bool>("rightAligned");
    QTest::newRow("IN port") << "Label2" << "Text2" << true;
    QTest::newRow("OUT port") << "Label1" << "Text5" << true;
    QTest::newRow("OUT host") << "Label6" << "Text6" << true;
    QTest::newRow("command") << "Label3" << "Text4" << true;
    QTest::newRow("command type") << "Label4" << "Combo1" << true;
    QTest::newRow("local address") << "Label5" << "Label7" << false;
}

void TestAnalyzerFrm::labelsEndBeforeTheirControls()
{
    QFETCH(QString, label);
    QFETCH(QString, explained);
    QFETCH(bool, rightAligned);
    Fixture f;
    auto *const caption = qobject_cast<QLabel *>(control(f.window, label));
    QWidget *const target = control(f.window, explained);
    QVERIFY(caption && target);
    QCOMPARE(bool(caption->alignment() & Qt::AlignRight), rightAligned);
    QCOMPARE(bool(caption->alignment() & Qt::AlignLeft), !rightAligned);
    if (!rightAligned)
        return;
    // The label's text ends at its right edge; the gap to the control is 105 twips.
    const int labelEnd = caption->mapTo(&f.window, QPoint(caption->width(), 0)).x();
    const int controlStart = target->mapTo(&f.window, QPoint(0, 0)).x();
    QVERIFY2(qAbs(controlStart - labelEnd - f.window.pixelsX(105)) <= 1,
             qPrintable(QStringLiteral("%1 to %2").arg(labelEnd).arg(controlStart)));
    QCOMPARE(caption->margin(), 0);
    QVERIFY(caption->indent() <= 0);
    // The label's line meets the control's line.
    QCOMPARE(caption->mapTo(&f.window, QPoint(0, 0)).y(), target->mapTo(&f.window, QPoint(0, 0)).y());
}

void TestAnalyzerFrm::text2InLineWithTheFrameFields()
{
    Fixture f;
    QWidget *const frame = f.window.Frame1();
    // Text2 is no child of the frame: its place in the frame's coordinates.
    const QPoint inFrame = f.window.Text2()->pos() - frame->pos();
    QVERIFY(qAbs(inFrame.x() - f.window.pixelsX(1680)) <= 1);
    QVERIFY(qAbs(inFrame.y() - f.window.pixelsY(1560)) <= 1);
    QCOMPARE(inFrame.y(), f.window.Text5()->mapTo(frame, QPoint(0, 0)).y());
    // Text1, Text2 and Command1 lie above the frame.
    const QObjectList children = f.window.children();
    for (QWidget *const above : {static_cast<QWidget *>(f.window.Text1()), static_cast<QWidget *>(f.window.Text2()),
                                 static_cast<QWidget *>(f.window.Command1())})
        QVERIFY(children.indexOf(above) > children.indexOf(frame));
}

void TestAnalyzerFrm::contentsAtLoad_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("content");
    QTest::newRow("Frame1") << "Frame1" << "Connections";
    QTest::newRow("Frame2") << "Frame2" << "Data Capture and Commands";
    QTest::newRow("Text1") << "Text1" << "";
    QTest::newRow("Text2") << "Text2" << "5000";
    QTest::newRow("Text3") << "Text3" << "";
    QTest::newRow("Text4") << "Text4" << "";
    QTest::newRow("Text5") << "Text5" << "5001";
    QTest::newRow("Text6") << "Text6" << "127.0.0.1";
    QTest::newRow("Label1") << "Label1" << "TCP/IP OUT port:";
    QTest::newRow("Label2") << "Label2" << "TCP/IP IN port:";
    QTest::newRow("Label3") << "Label3" << "Command:";
    QTest::newRow("Label4") << "Label4" << "Type:";
    QTest::newRow("Label5") << "Label5" << "This computer's IP:";
    QTest::newRow("Label6") << "Label6" << "Host OUT IP Address:";
    QTest::newRow("Label7") << "Label7" << "127.0.0.1";
    QTest::newRow("Command1") << "Command1" << "Start Capturing Data on IN Port";
    QTest::newRow("Check1") << "Check1" << "Enable Send Immediate";
    QTest::newRow("Check2") << "Check2" << Check2Caption;
    QTest::newRow("Check3") << "Check3" << "Relay data from IN port to OUT port";
    QTest::newRow("Combo1") << "Combo1" << "ASCII";
    QTest::newRow("WebBrowser1") << "WebBrowser1" << "";
}

void TestAnalyzerFrm::contentsAtLoad()
{
    QFETCH(QString, name);
    QFETCH(QString, content);
    Fixture f; // loaded, not yet shown or activated
    QWidget *const widget = control(f.window, name);
    QVERIFY(widget != nullptr);
    QString shown;
    if (auto *box = qobject_cast<QLineEdit *>(widget))
        shown = box->text();
    else if (auto *pane = qobject_cast<TextPane *>(widget))
        shown = pane->text();
    else if (auto *browser = qobject_cast<QTextBrowser *>(widget))
        shown = browser->toPlainText();
    else if (auto *label = qobject_cast<QLabel *>(widget))
        shown = label->text();
    else if (auto *button = qobject_cast<QAbstractButton *>(widget))
        shown = button->text();
    else if (auto *frame = qobject_cast<QGroupBox *>(widget))
        shown = frame->title();
    else if (auto *combo = qobject_cast<QComboBox *>(widget))
        shown = combo->currentText();
    QCOMPARE(shown, content);
    if (auto *check = qobject_cast<QCheckBox *>(widget))
        QCOMPARE(check->checkState(), Qt::Unchecked);
    QVERIFY(widget->isEnabled());
    QCOMPARE(f.window.engine().state().CaptureCounter, 1);
}

void TestAnalyzerFrm::commandType()
{
    Fixture f;
    f.showAndActivate();
    QComboBox *const combo = f.window.Combo1();
    QVERIFY(combo->isEditable());
    QCOMPARE(combo->count(), 2);
    QCOMPARE(combo->itemText(0), QStringLiteral("ASCII"));
    QCOMPARE(combo->itemText(1), QStringLiteral("HEX"));
    QVERIFY(Check2Caption.endsWith(QStringLiteral("\",\"")));

    // Picking an item, then typing text that is none of them: the text stays, the list too.
    combo->setCurrentIndex(1);
    QCOMPARE(f.window.text(Control::Combo1), QStringLiteral("HEX"));
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), QStringLiteral("hex"));
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    QCOMPARE(f.window.text(Control::Combo1), QStringLiteral("hex"));
    // Not completed to an item either: "ascii" selects hex mode.
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), QStringLiteral("ascii"));
    QTest::keyClick(combo->lineEdit(), Qt::Key_Tab);
    QCOMPARE(f.window.text(Control::Combo1), QStringLiteral("ascii"));
    QCOMPARE(combo->count(), 2);
    QCOMPARE(combo->itemText(0), QStringLiteral("ASCII"));
    QCOMPARE(combo->itemText(1), QStringLiteral("HEX"));
}

void TestAnalyzerFrm::textBoxesHaveNoLengthLimit()
{
    Fixture f;
    for (QLineEdit *box : {f.window.Text2(), f.window.Text4(), f.window.Text5(), f.window.Text6(),
                           f.window.Combo1()->lineEdit()})
        QCOMPARE(box->maxLength(), std::numeric_limits<int>::max());
    const QString longCommand(40000, QLatin1Char('A'));
    f.window.Text4()->setText(longCommand);
    QCOMPARE(f.window.text(Control::Text4), longCommand);
}

void TestAnalyzerFrm::faces()
{
    Fixture f;
    const QList<QWidget *> others = {f.window.Label1(), f.window.Label7(), f.window.Text2(), f.window.Text4(),
                                     f.window.Combo1(), f.window.Check2(), f.window.Command1(), f.window.Frame2()};
    for (QWidget *widget : others) {
        const QFont font = widget->font();
        QCOMPARE(font.families().value(0), QStringLiteral("MS Sans Serif"));
        QCOMPARE(font.pointSizeF(), 8.25);
        QCOMPARE(font.weight(), QFont::Normal);
        QVERIFY(!font.italic());
        // A face is found, named or substituted, near 8 points.
        const QFontInfo info(font);
        QVERIFY2(!info.family().isEmpty() && info.pointSizeF() >= 7 && info.pointSizeF() <= 9,
                 qPrintable(info.family()));
    }
}

void TestAnalyzerFrm::paneStyle_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("Text1") << "Text1";
    QTest::newRow("Text3") << "Text3";
}

void TestAnalyzerFrm::paneStyle()
{
    QFETCH(QString, name);
    Fixture f;
    auto *const pane = qobject_cast<TextPane *>(control(f.window, name));
    QVERIFY(pane != nullptr);
    QCOMPARE(pane->font().families().value(0), QStringLiteral("Courier"));
    QCOMPARE(pane->font().pointSizeF(), 9.75);
    QVERIFY(QFontInfo(pane->font()).fixedPitch());
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        QCOMPARE(pane->palette().color(group, QPalette::Base), QColor(64, 64, 64));
        QCOMPARE(pane->palette().color(group, QPalette::Text), QColor(0, 255, 0));
    }
    QCOMPARE(pane->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(pane->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(pane->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QVERIFY(!pane->isReadOnly());
    QCOMPARE(pane->characterLimit(), PaneCharacterLimit);
    QCOMPARE(pane->dropEnd(), name == QLatin1StringView("Text1") ? TextPane::DropEnd::Top : TextPane::DropEnd::Bottom);

    // Seen on screen: the pane is dark grey and its text green.
    f.showAndActivate();
    pane->replaceText(QString(40, QChar(0x2588))); // full blocks
    const QImage image = pane->viewport()->grab().toImage();
    QCOMPARE(image.pixelColor(image.width() - 3, image.height() - 3), QColor(64, 64, 64));
    bool green = false;
    for (int x = 0; x < image.width() / 2 && !green; ++x)
        for (int y = 0; y < 30 && !green; ++y)
            green = image.pixelColor(x, y) == QColor(0, 255, 0);
    QVERIFY(green);
}

void TestAnalyzerFrm::focusOrder()
{
    Fixture f;
    f.showAndActivate();
    QCOMPARE(QApplication::focusWidget(), f.window.Command1());

    const QList<QWidget *> order = {f.window.Text1(), f.window.Text2(), f.window.Text3(), f.window.Combo1(),
                                    f.window.Check2(), f.window.Text4(), f.window.Check1(), f.window.Text5(),
                                    f.window.Check3(), f.window.Text6(), f.window.Command1()};
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
    for (QWidget *none : {static_cast<QWidget *>(f.window.Label7()), static_cast<QWidget *>(f.window.Frame1()),
                          static_cast<QWidget *>(f.window.WebBrowser1())})
        QCOMPARE(none->focusPolicy(), Qt::NoFocus);
}

void TestAnalyzerFrm::onlyTheHandlersRunCode()
{
    Fixture f;
    f.showAndActivate();
    QTRY_VERIFY(!f.window.Label7()->text().isEmpty());
    const QByteArrayList callsAfterActivation = f.sockets.calls;
    const QString address = f.window.Label7()->text();

    // Everything an operator can do short of pressing the start button.
    for (QCheckBox *box : {f.window.Check1(), f.window.Check2(), f.window.Check3()}) {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
        QCOMPARE(box->checkState(), Qt::Checked);
    }
    QTest::mouseClick(f.window.Check2(), Qt::LeftButton, {}, QPoint(6, f.window.Check2()->height() / 2));
    for (QLineEdit *box : {f.window.Text2(), f.window.Text4(), f.window.Text5(), f.window.Text6()}) {
        box->setFocus();
        QTest::keyClicks(box, QStringLiteral("12"));
        QTest::keyClick(box, Qt::Key_Return);
    }
    f.window.Combo1()->setCurrentIndex(1);
    QTest::keyClicks(f.window.Combo1()->lineEdit(), QStringLiteral("X"));
    QTest::keyClick(f.window.Combo1()->lineEdit(), Qt::Key_Return);
    for (TextPane *pane : {f.window.Text1(), f.window.Text3()}) {
        pane->setFocus();
        QTest::keyClicks(pane, QStringLiteral("typed"));
    }
    QTest::mouseClick(f.window.WebBrowser1()->viewport(), Qt::LeftButton);
    f.window.resize(500, 300);
    f.window.resize(1200, 700);
    f.window.move(40, 30);
    QTest::qWait(50);

    QCOMPARE(f.sockets.calls, callsAfterActivation);
    QCOMPARE(f.window.Label7()->text(), address);
    QCOMPARE(f.window.Text1()->text(), QStringLiteral("typed"));
    QCOMPARE(f.window.Text3()->text(), QStringLiteral("typed"));
    QCOMPARE(f.window.Check1()->checkState(), Qt::Checked);
    QCOMPARE(f.window.Check2()->checkState(), Qt::Unchecked);
    QVERIFY(f.window.Command1()->isEnabled());
    QVERIFY(f.window.Text2()->isEnabled());
    QCOMPARE(f.window.engine().sckListen().state(), SocketEndpoint::State::Closed);
    QVERIFY(!f.window.engine().sckAcceptArray().exists(1));
    QCOMPARE(f.window.engine().sckOUT().state(), SocketEndpoint::State::Closed);
    QCOMPARE(f.window.engine().state().CaptureCounter, 1);
    QVERIFY(QDir(f.folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    QVERIFY(!f.window.engine().hasEnded());

    // Closing the window is no handler either.
    QVERIFY(f.window.close());
    QCOMPARE(f.sockets.calls, callsAfterActivation);
    QVERIFY(!f.window.engine().hasEnded());
    QVERIFY(QDir(f.folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

void TestAnalyzerFrm::formActivate_data()
{
    QTest::addColumn<bool>("resolves");
    QTest::addColumn<int>("cleanupResult");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QStringList>("statusMessages");
    QTest::newRow("address found") << true << 0 << "192.168.1.10" << QStringList();
    QTest::newRow("name not resolved")
        << false << 0 << "" << QStringList{QStringLiteral("Windows Sockets are not responding. Unable to successfully get Host Name.")};
    QTest::newRow("name not resolved, clean-up fails")
        << false << 1 << ""
        << QStringList{QStringLiteral("Socket error occurred in Cleanup."),
                       QStringLiteral("Windows Sockets are not responding. Unable to successfully get Host Name.")};
}

void TestAnalyzerFrm::formActivate()
{
    QFETCH(bool, resolves);
    QFETCH(int, cleanupResult);
    QFETCH(QString, address);
    QFETCH(QStringList, statusMessages);
    Fixture f;
    if (!resolves)
        f.sockets.entry.reset();
    f.sockets.cleanupResult = cleanupResult;
    f.window.Text1()->appendLine(QStringLiteral("typed before\r\n"));
    QSignalSpy pageLoaded(f.window.WebBrowser1(), &BrowserStrip::loadFinished);

    f.showAndActivate();
    QTRY_VERIFY(f.sockets.calls.contains("WSAStartup"));
    QCOMPARE(f.window.Label7()->text(), address);
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
}

void TestAnalyzerFrm::formActivateRunsWhenTheWindowBecomesActive()
{
    Fixture f;
    QVERIFY(f.sockets.calls.isEmpty()); // nothing at load
    f.showAndActivate();
    QTRY_COMPARE(f.sockets.requestedVersions.size(), 1);

    // A message box of the program, shown and dismissed: no new activation.
    const ShownBox box = closeNextMessageBox([&] { f.window.messageBox(QStringLiteral("note"), 64, QStringLiteral("t")); });
    QCOMPARE(box.text, QStringLiteral("note"));
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

void TestAnalyzerFrm::checkValues_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("state");
    QTest::newRow("clear") << 0 << int(Qt::Unchecked);
    QTest::newRow("ticked") << 1 << int(Qt::Checked);
    QTest::newRow("grayed") << 2 << int(Qt::PartiallyChecked);
}

void TestAnalyzerFrm::checkValues()
{
    QFETCH(int, value);
    QFETCH(int, state);
    Fixture f;
    const QList<std::pair<Control, QCheckBox *>> boxes = {
        {Control::Check1, f.window.Check1()}, {Control::Check2, f.window.Check2()}, {Control::Check3, f.window.Check3()}};
    for (const auto &[name, box] : boxes) {
        f.window.setValue(name, value);
        QCOMPARE(int(box->checkState()), state);
        QCOMPARE(f.window.value(name), value);
        box->setCheckState(Qt::Unchecked);
        box->setCheckState(Qt::CheckState(state));
        QCOMPARE(f.window.value(name), value);
    }
    QVERIFY_THROWS_EXCEPTION(PlatformError, f.window.setValue(Control::Check1, 3));
}

void TestAnalyzerFrm::controlsReachTheirWidgets()
{
    Fixture f;
    f.window.Text2()->setText(QStringLiteral("in"));
    f.window.Text4()->setText(QStringLiteral("cmd"));
    f.window.Text5()->setText(QStringLiteral("out"));
    f.window.Text6()->setText(QStringLiteral("host"));
    QCOMPARE(f.window.text(Control::Text2), QStringLiteral("in"));
    QCOMPARE(f.window.text(Control::Text4), QStringLiteral("cmd"));
    QCOMPARE(f.window.text(Control::Text5), QStringLiteral("out"));
    QCOMPARE(f.window.text(Control::Text6), QStringLiteral("host"));
    QCOMPARE(f.window.text(Control::Combo1), QStringLiteral("ASCII"));

    const QList<std::pair<Control, QWidget *>> widgets = {
        {Control::Command1, f.window.Command1()}, {Control::Check3, f.window.Check3()},
        {Control::Text2, f.window.Text2()},       {Control::Text5, f.window.Text5()}};
    for (const auto &[name, widget] : widgets) {
        f.window.setEnabled(name, false);
        QVERIFY(!widget->isEnabled());
    }

    f.window.appendToLog(QStringLiteral("end\r\n"));
    f.window.prependToLog(QStringLiteral("top\r\n"));
    f.window.prependToDataPane(QStringLiteral("data\r\n"));
    QCOMPARE(f.window.Text1()->text(), QStringLiteral("top\nend\n"));
    QCOMPARE(f.window.Text3()->text(), QStringLiteral("data\n"));
    f.window.replaceLog(QStringLiteral("fresh\r\n"));
    QCOMPARE(f.window.Text1()->text(), QStringLiteral("fresh\n"));
}

void TestAnalyzerFrm::messageBoxes_data()
{
    QTest::addColumn<bool>("isReport");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("message box") << false << "Error on input socket!" << "Address in use";
    QTest::newRow("error report") << true << "gps-analyzer"
                                  << "Run-time error '76':\n\nPath not found: /nowhere/x0001_5000.dat";
}

void TestAnalyzerFrm::messageBoxes()
{
    QFETCH(bool, isReport);
    QFETCH(QString, title);
    QFETCH(QString, text);
    Fixture f;
    f.showAndActivate();
    const ShownBox shown = closeNextMessageBox([&] {
        if (isReport)
            f.window.reportError(76, QStringLiteral("Path not found: /nowhere/x0001_5000.dat"));
        else
            f.window.messageBox(QStringLiteral("Address in use"), vbCritical, QStringLiteral("Error on input socket!"));
    });
    QCOMPARE(shown.icon, QMessageBox::Critical);
    QCOMPARE(shown.title, title);
    QCOMPARE(shown.text, text);
    QCOMPARE(shown.buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});
}

void TestAnalyzerFrm::programEnds_data()
{
    QTest::addColumn<bool>("engineEnds");
    QTest::addColumn<int>("status");
    QTest::newRow("operator closes the window") << false << 0;
    QTest::newRow("the engine ends the program") << true << 1;
}

void TestAnalyzerFrm::programEnds()
{
    QFETCH(bool, engineEnds);
    QFETCH(int, status);
    Fixture f;
    f.showAndActivate();
    QTimer::singleShot(0, &f.window, [&] {
        if (engineEnds)
            f.window.endProgram();
        else
            f.window.close();
    });
    QCOMPARE(QApplication::exec(), status);
}

void TestAnalyzerFrm::endToEnd()
{
    Fixture f;
    f.showAndActivate();
    QTRY_COMPARE(f.window.Label7()->text(), QStringLiteral("192.168.1.10"));

    FakeOutServer outServer;
    const quint16 inPort = freeLoopbackPort();
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
    for (QWidget *frozen : {static_cast<QWidget *>(f.window.Command1()), static_cast<QWidget *>(f.window.Check3()),
                            static_cast<QWidget *>(f.window.Text2()), static_cast<QWidget *>(f.window.Text5())})
        QVERIFY(!frozen->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(outServer.connection != nullptr, 10000);

    QTcpSocket tracker;
    QByteArray trackerReceived;
    connect(&tracker, &QTcpSocket::readyRead, &tracker, [&] { trackerReceived += tracker.readAll(); });
    tracker.connectToHost(QHostAddress::LocalHost, inPort);
    QTRY_COMPARE_WITH_TIMEOUT(f.window.Text1()->text(), listening + QStringLiteral("Tracker 127.0.0.1 connected.\n"),
                              10000);

    const QByteArray chunk("$GP,1\r\n");
    tracker.write(chunk);
    QTRY_COMPARE_WITH_TIMEOUT(outServer.received, chunk, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(trackerReceived, QByteArray("HELLO\r\n"), 10000);
    outServer.connection->write("ACK");
    QTRY_COMPARE_WITH_TIMEOUT(f.window.engine().state().CaptureCounter, 3, 10000);

    const QStringList expectedPane = {QStringLiteral(":  -> (HEXAD):41434B"), QStringLiteral(":  -> (ASCII):ACK"),
                                      QStringLiteral(": OUT (ASCII):HELLO"),
                                      QStringLiteral(":  IN (HEXAD):2447502C31 D A"),
                                      QStringLiteral(":  IN (ASCII):$GP,1"),
                                      QString(),
                                      QString()};
    QCOMPARE(withoutTimestamps(f.window.Text3()->text()), expectedPane);
    QCOMPARE(f.window.Check2()->checkState(), Qt::Unchecked);

    const QDir folder(f.folder.path());
    const QString in = QString::number(inPort);
    const QString out = QString::number(outServer.port());
    QCOMPARE(fileBytes(folder.filePath(QStringLiteral("x0001_") + in + QStringLiteral(".dat"))), chunk);
    QCOMPARE(fileBytes(folder.filePath(QStringLiteral("x0001_") + in + QStringLiteral(".log"))), QByteArray(" 7 \r\n"));
    QCOMPARE(fileBytes(folder.filePath(QStringLiteral("x0002_") + out + QStringLiteral(".dat"))), QByteArray("ACK"));
    QCOMPARE(fileBytes(folder.filePath(QStringLiteral("x0002_") + out + QStringLiteral(".log"))), QByteArray(" 3 \r\n"));
    QCOMPARE(folder.entryList(QDir::Files).size(), 4);

    tracker.disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(f.window.Text1()->text(),
                              listening + QStringLiteral("Tracker 127.0.0.1 connected.\nTracker 127.0.0.1 disconnected.\n"),
                              10000);
    QVERIFY(!f.window.engine().hasEnded());
}

QTEST_MAIN(TestAnalyzerFrm)
#include "tst_analyzerfrm.moc"
