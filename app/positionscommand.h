#ifndef GPSA_POSITIONSCOMMAND_H
#define GPSA_POSITIONSCOMMAND_H

#include "subcommandline.h"
#include "trackexport.h"
#include "trackerprotocol.h"

#include <QString>
#include <QStringList>

#include <optional>

class QTextStream;

// gps-analyzer positions: the positions in a capture folder recorded without decoding, as CSV,
// GeoJSON, GPX or KML.
struct PositionsOptions
{
    QString captureFolder; // defaultCaptureFolder() unless given
    int session = 0;       // from 1; 0: every session
    std::optional<ProtocolChoice> protocol;
    TrackFormat format = TrackFormat::Csv;
    QString output; // empty: standard output
};

struct PositionsCommandLine
{
    PositionsOptions options;
    SubcommandExit exit;
};

// Reads "gps-analyzer positions ARGS...", before any application object.
[[nodiscard]] PositionsCommandLine parsePositionsCommandLine(const QStringList &arguments);

// Decodes and writes; the summary, or the one message of a failure, goes to errors. Returns the
// exit status: 0, or 1 when the folder cannot be read or the output written (no output file is
// then left behind).
[[nodiscard]] int runPositions(const PositionsOptions &options, QTextStream &output, QTextStream &errors);

// The whole subcommand: parse, then run. Returns the exit status (2 for a wrong option).
[[nodiscard]] int positionsCommand(const QStringList &arguments, QTextStream &output, QTextStream &errors);

#endif
