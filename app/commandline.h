#ifndef GPSA_COMMANDLINE_H
#define GPSA_COMMANDLINE_H

#include "capturefeatures.h"
#include "controls.h"
#include "webaccess.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

// Exit statuses of the program.
namespace ExitStatus {
inline constexpr int Success = 0; // the operator closed the window, --help, --version, SIGINT, SIGTERM
inline constexpr int Failure = 1; // the program ended where the window would show its last message
inline constexpr int Usage = 2;   // an unknown option, a missing value, a stray argument
} // namespace ExitStatus

// How the program is to run. Each control preset is what the operator would otherwise type
// or tick in the window before pressing the start button; texts stay texts, so that the
// start-up reads them exactly as if typed.
struct Options
{
    QString inPort = QStringLiteral("5000");
    QString outPort = QStringLiteral("5001");
    QString outHost = QStringLiteral("127.0.0.1");
    bool relay = false;
    bool sendOnConnect = false;
    QString command;
    bool armCommand = false; // the auto-send switch, ticked by --command
    QString commandType = QStringLiteral("ASCII");
    QString captureFolder; // defaultCaptureFolder() unless given
    bool start = false;    // press the start button once the window shows
    bool headless = false; // no window; the start button is pressed at once
    // The features beyond the window's controls, all off unless asked for.
    CaptureFeatures features;
    // --web, --web-token: the live web view of the panes; off unless given.
    std::optional<WebSettings> web;
};

// The controls that the options preset, and what they preset them to: the window and the
// headless front end both start from these.
struct ControlPresets
{
    QList<std::pair<Control, QString>> texts;
    QList<std::pair<Control, int>> values;
};
[[nodiscard]] ControlPresets controlPresets(const Options &options);

// What the arguments ask for: either the options to run with, or a text to print and the
// status to exit with at once (--help, --version, a usage error).
struct CommandLine
{
    Options options;
    bool run = true;
    int exitStatus = ExitStatus::Success;
    QString output;                  // printed before exiting; ends with a line feed
    bool outputToStandardError = false;
};

// Reads the program's arguments, its own name first. Needs no QCoreApplication, so that
// --help and --version answer where no display exists.
[[nodiscard]] CommandLine parseCommandLine(const QStringList &arguments);

// The arguments of main() as texts, decoded from the local 8-bit encoding.
[[nodiscard]] QStringList argumentList(int argc, const char *const *argv);

#endif
