// gps-analyzer: the operator's window, or with --headless the same capture on standard output.
// The arguments are read before any application object exists, so that --help, --version
// and --headless need no display.

#include "analyzerfrm.h"
#include "commandline.h"
#include "exportcommand.h"
#include "headlessfrontend.h"
#include "memorytuning.h"
#include "positionscommand.h"
#include "replaycommand.h"
#include "signalwatcher.h"
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

int runHeadless(int &argc, char **argv, const Options &options)
{
    QCoreApplication app(argc, argv);
    SignalWatcher signalWatcher;
    endCleanlyOnSignals(signalWatcher);
    const std::unique_ptr<SocketsLibrary> sockets = systemSocketsLibrary();
    HeadlessFrontEnd frontEnd(options, *sockets);
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
