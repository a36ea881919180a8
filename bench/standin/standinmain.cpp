// A stand-in for the headless front end, for the benchmark only, used while the program's
// own command line is not part of the build: the capture engine with its controls preset
// from the same options, the data-pane lines on standard output.
//
//   gpsa-bench-standin --headless --in-port N --out-port M --out-host H --relay --capture-dir DIR

#include "captureengine.h"
#include "controls.h"
#include "memorytuning.h"

#include <QAbstractEventDispatcher>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QMap>
#include <QTimer>

#include <cstdio>

namespace {

class StandInControls final : public Controls
{
public:
    QString text(Control control) const override { return texts.value(control); }
    int value(Control checkBox) const override { return values.value(checkBox); }
    void setValue(Control checkBox, int value) override { values[checkBox] = value; }
    void setEnabled(Control, bool) override {}
    void appendToLog(const QString &line) override { print(line); }
    void prependToLog(const QString &line) override { print(line); }
    void replaceLog(const QString &) override {}
    void prependToDataPane(const QString &line) override { print(line); }
    void messageBox(const QString &prompt, int, const QString &title) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(prompt));
    }
    void reportError(int number, const QString &description) override
    {
        std::fprintf(stderr, "Error %d: %s\n", number, qPrintable(description));
    }
    void endProgram() override
    {
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(1); });
    }

    QMap<Control, QString> texts;
    QMap<Control, int> values;

    // Written out once per round of events, as the program's front end does.
    void flush()
    {
        std::fwrite(m_pending.constData(), 1, size_t(m_pending.size()), stdout);
        std::fflush(stdout);
        m_pending.clear();
    }

private:
    void print(const QString &line)
    {
        m_pending += line.toUtf8();
        if (m_pending.size() >= 1 << 20)
            flush();
    }

    QByteArray m_pending;
};

} // namespace

int main(int argc, char *argv[])
{
    keepLargeBuffersForReuse();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption headless(QStringLiteral("headless"), QStringLiteral("No window."));
    const QCommandLineOption inPort(QStringLiteral("in-port"), QStringLiteral("IN port."), QStringLiteral("port"));
    const QCommandLineOption outPort(QStringLiteral("out-port"), QStringLiteral("OUT port."), QStringLiteral("port"));
    const QCommandLineOption outHost(QStringLiteral("out-host"), QStringLiteral("OUT host."), QStringLiteral("host"));
    const QCommandLineOption relay(QStringLiteral("relay"), QStringLiteral("Relay to the OUT server."));
    const QCommandLineOption folder(QStringLiteral("capture-dir"), QStringLiteral("Capture folder."),
                                    QStringLiteral("dir"));
    parser.addOptions({headless, inPort, outPort, outHost, relay, folder});
    parser.process(app);

    StandInControls controls;
    controls.texts[Control::Text2] = parser.value(inPort);
    controls.texts[Control::Text5] = parser.value(outPort);
    controls.texts[Control::Text6] = parser.value(outHost);
    controls.texts[Control::Combo1] = QStringLiteral("ASCII");
    controls.values[Control::Check3] = parser.isSet(relay) ? CheckValue::Ticked : CheckValue::Clear;

    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &app,
                     [&controls] { controls.flush(); });
    CaptureEngine engine(controls, parser.value(folder));
    engine.Form_Load();
    engine.Command1_Click();
    if (engine.hasEnded())
        return 1;
    return QCoreApplication::exec();
}
