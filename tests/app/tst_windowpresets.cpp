// The window and the headless front end start from the same control values for the same
// command line.

#include "apptestsupport.h"
#include "analyzerfrm.h"
#include "commandline.h"
#include "headlessfrontend.h"
#include "socketslibrary.h"
#include "windowpresets.h"

#include <QComboBox>
#include <QTemporaryDir>
#include <QTest>

class TestWindowPresets final : public QObject
{
    Q_OBJECT

private slots:
    void sameControlValues_data();
    void sameControlValues();
};

namespace {

constexpr Control TextControls[] = {Control::Text2, Control::Text4, Control::Text5, Control::Text6, Control::Combo1};
constexpr Control CheckBoxes[] = {Control::Check1, Control::Check2, Control::Check3};
} // namespace

void TestWindowPresets::sameControlValues_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no arguments: the load-time contents") << args({});
    QTest::newRow("ports and host") << args({"--in-port", "5000abc", "--out-port", " 70 00", "--out-host", "::1"});
    QTest::newRow("relay") << args({"--relay"});
    QTest::newRow("hex command on connect")
        << args({"--command", "01, 02,0a", "--command-type", "HEX", "--send-on-connect"});
    QTest::newRow("empty command armed") << args({"--command", ""});
    QTest::newRow("send on connect alone") << args({"--send-on-connect"});
    QTest::newRow("typed command type") << args({"--command-type", "ascii", "--command", "AT"});
    QTest::newRow("command type not in the list") << args({"--command-type", "BIN"});
    QTest::newRow("every switch") << args({"--relay", "--send-on-connect", "--command", "x", "--start"});
    QTest::newRow("features") << args({"--relay", "--pass-answers", "--protocol", "h02", "--auto-ack", "--no-crlf",
                                       "--session-index"});
    QTest::newRow("command frame") << args({"--command", "getinfo", "--command-frame", "codec12"});
}

void TestWindowPresets::sameControlValues()
{
    QFETCH(QStringList, arguments);
    const CommandLine commandLine = parseCommandLine(arguments);
    QVERIFY(commandLine.run);
    const Options &options = commandLine.options;

    QTemporaryDir folder;
    const std::unique_ptr<SocketsLibrary> sockets = systemSocketsLibrary();
    HeadlessFrontEnd headless(options, *sockets);
    AnalyzerFrm window(folder.path(), *sockets);
    applyPresets(window, options);

    for (Control control : TextControls)
        QCOMPARE(window.text(control), headless.text(control));
    for (Control control : CheckBoxes)
        QCOMPARE(window.value(control), headless.value(control));
    const CaptureFeatures shown = window.features();
    QCOMPARE(shown.passAnswers, options.features.passAnswers);
    QCOMPARE(shown.protocol, options.features.protocol);
    QCOMPARE(shown.acknowledge, options.features.acknowledge);
    QCOMPARE(shown.appendCrLf, options.features.appendCrLf);
    QCOMPARE(shown.sessionIndex, options.features.sessionIndex);
    QCOMPARE(headless.features().protocol, options.features.protocol);

    // And both hold what the command line asked for.
    const auto ticked = [](bool on) { return on ? CheckValue::Ticked : CheckValue::Clear; };
    QCOMPARE(window.text(Control::Text2), options.inPort);
    QCOMPARE(window.text(Control::Text5), options.outPort);
    QCOMPARE(window.text(Control::Text6), options.outHost);
    QCOMPARE(window.text(Control::Text4), options.command);
    QCOMPARE(window.text(Control::Combo1), options.commandType);
    QCOMPARE(window.value(Control::Check1), ticked(options.sendOnConnect));
    QCOMPARE(window.value(Control::Check2), ticked(options.armCommand));
    QCOMPARE(window.value(Control::Check3), ticked(options.relay));
}

QTEST_MAIN(TestWindowPresets)
#include "tst_windowpresets.moc"
