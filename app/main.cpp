// gps-analyzer: the window, or with --headless the same capture on standard output.

#include "commandline.h"
#include "headlessfrontend.h"
#include "signalwatcher.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace {

int runHeadless(int &argc, char **argv, const Options &options)
{
    QCoreApplication app(argc, argv);
    HeadlessFrontEnd frontEnd(options);
    SignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &SignalWatcher::terminationRequested, &app,
                     [] { QCoreApplication::exit(ExitStatus::Success); });
    // Started from the event loop, so that a failure of the start can end it.
    QTimer::singleShot(0, &frontEnd, &HeadlessFrontEnd::start);
    const int status = app.exec();
    frontEnd.flush();
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    const CommandLine commandLine = parseCommandLine(argumentList(argc, argv));
    if (!commandLine.run) {
        std::FILE *stream = commandLine.outputToStandardError ? stderr : stdout;
        std::fputs(commandLine.output.toLocal8Bit().constData(), stream);
        return commandLine.exitStatus;
    }
    if (commandLine.options.headless)
        return runHeadless(argc, argv, commandLine.options);
    return runHeadless(argc, argv, commandLine.options); // the window lands here
}
