#ifndef GPSA_REPLAYCOMMAND_H
#define GPSA_REPLAYCOMMAND_H

#include "subcommandline.h"

#include <QString>
#include <QStringList>

class QTextStream;

// gps-analyzer replay: plays a recorded session against a server, as one tracker or as many.
struct ReplayOptions
{
    QString captureFolder; // defaultCaptureFolder() unless given
    int session = 0;       // from 1; 0: the last session
    bool allSessions = false; // every connection of the last run, each as its own tracker
    QString host;          // of --to HOST:PORT
    quint16 port = 0;
    double speed = 1.0;
    bool noWait = false;
    bool udp = false; // each chunk a datagram, each tracker a socket of its own
    int trackers = 1;
    QString output; // empty: <capture folder>-replay-<UTC time> beside the capture folder
    int inPort = 0; // the IN port of a folder without index.tsv; 0: found from the files
};

struct ReplayCommandLine
{
    ReplayOptions options;
    SubcommandExit exit;
};

// Reads "gps-analyzer replay ARGS...", before any application object.
[[nodiscard]] ReplayCommandLine parseReplayCommandLine(const QStringList &arguments);

// Runs the replay on the event loop of the application object that must exist: progress on
// errors once the replay has run a few seconds, the summary on output. Returns 0 when every
// chunk went out on every connection, 1 when a connection failed or was broken, or the replay
// could not run.
[[nodiscard]] int runReplay(const ReplayOptions &options, QTextStream &output, QTextStream &errors);

// The whole subcommand, parse then run; needs an application object. Returns the exit status
// (2 for a wrong option).
[[nodiscard]] int replayCommand(const QStringList &arguments, QTextStream &output, QTextStream &errors);

// main() of the subcommand: the arguments are read before the application object is made.
[[nodiscard]] int replayMain(int argc, char **argv);

#endif
