// gps-analyzer: the operator's window, or with --headless the same capture on standard output.
// The arguments are read before any application object exists, so that --help, --version
// and --headless need no display.

#include "analyzerfrm.h"
#include "commandline.h"
#include "exportcommand.h"
#include "headlessfrontend.h"
#include "liveviewservice.h"
#include "memorytuning.h"
#include "parentconsole.h"
#include "positionscommand.h"
#include "replaycommand.h"
#include "signalwatcher.h"
#include "socketendpoint.h"
#include "socketslibrary.h"
#include "windowpresets.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// SIGINT and SIGTERM end the event loop with status 0, as closing the window does.
void endCleanlyOnSignals(SignalWatcher &watcher)
{
    QObject::connect(&watcher, &SignalWatcher::terminationRequested, &watcher,
                     [] { QCoreApplication::exit(ExitStatus::Success); });
}

// The live view's address, once, before any pane line.
void announceLiveView(const QString &address)
{
    std::fputs((QStringLiteral("Live view: ") + address + QLatin1Char('\n')).toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void reportFailure(const QString &message)
{
    std::fputs((QStringLiteral("gps-analyzer: ") + message + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
}

int runHeadless(int &argc, char **argv, const Options &options)
{
    QCoreApplication app(argc, argv);
    SignalWatcher signalWatcher;
    endCleanlyOnSignals(signalWatcher);
    const std::unique_ptr<SocketsLibrary> sockets = systemSocketsLibrary();
    // Before the front end, so that it outlives every pane line the front end gives it.
    std::unique_ptr<LiveViewService> liveView;
    HeadlessFrontEnd frontEnd(options, *sockets);
    if (options.web) {
        // Listening first: a port that cannot be bound ends the program before anything else listens.
        liveView = std::make_unique<LiveViewService>(
            options.captureFolder, [&frontEnd] { return frontEnd.engine().inPort(); },
            [&frontEnd](const QString &line) { frontEnd.appendToLog(line); });
        if (!liveView->start(*options.web)) {
            reportFailure(liveView->errorString());
            return ExitStatus::Failure;
        }
        announceLiveView(liveView->address());
        liveView->view().follow(frontEnd.engine());
        frontEnd.setPaneWatcher(&liveView->view());
    }
    // Started from the event loop, so that a failure of the start can end it.
    QTimer::singleShot(0, &frontEnd, &HeadlessFrontEnd::start);
    return QCoreApplication::exec();
}

int runWindow(int &argc, char **argv, const Options &options)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("gps-analyzer"));
    QApplication::setApplicationVersion(QStringLiteral(GPSA_VERSION));
    SignalWatcher signalWatcher;
    endCleanlyOnSignals(signalWatcher);

    const std::unique_ptr<SocketsLibrary> sockets = systemSocketsLibrary();
    AnalyzerFrm window(options.captureFolder, *sockets);
    applyPresets(window, options);
    if (options.web) {
        if (!window.startLiveView(*options.web)) {
            reportFailure(window.liveViewError());
            return ExitStatus::Failure;
        }
        announceLiveView(window.liveView()->address());
    }
    window.Form_Load();
    window.show(); // Form_Activate runs once the window has become active
    window.activateWindow();
    if (options.start) // the start button's handler, as the operator's press runs it
        QTimer::singleShot(0, &window, &AnalyzerFrm::Command1_Click);
    // Closing the window ends the event loop with status 0.
    return QApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    useParentConsole();
    keepLargeBuffersForReuse();
    if (argc > 1 && std::strcmp(argv[1], "export") == 0)
        return subcommandMain(argc, argv, exportCommand);
    if (argc > 1 && std::strcmp(argv[1], "replay") == 0)
        return replayMain(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "positions") == 0)
        return subcommandMain(argc, argv, positionsCommand);
    const CommandLine commandLine = parseCommandLine(argumentList(argc, argv));
    if (!commandLine.run) {
        std::fputs(commandLine.output.toLocal8Bit().constData(),
                   commandLine.outputToStandardError ? stderr : stdout);
        return commandLine.exitStatus;
    }
    return commandLine.options.headless ? runHeadless(argc, argv, commandLine.options)
                                        : runWindow(argc, argv, commandLine.options);
}
