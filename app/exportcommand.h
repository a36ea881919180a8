#ifndef GPSA_EXPORTCOMMAND_H
#define GPSA_EXPORTCOMMAND_H

#include "subcommandline.h"

#include <QString>
#include <QStringList>

class QTextStream;

// gps-analyzer export: the sessions of a capture folder as a pcap file for Wireshark and tshark.
struct ExportOptions
{
    QString captureFolder; // defaultCaptureFolder() unless given
    int session = 0;       // from 1; 0: every session
    QString output;
    int inPort = 0; // the IN port of a folder without index.tsv; 0: found from the files
};

struct ExportCommandLine
{
    ExportOptions options;
    SubcommandExit exit;
};

// Reads "gps-analyzer export ARGS...", before any application object.
[[nodiscard]] ExportCommandLine parseExportCommandLine(const QStringList &arguments);

// Writes the export; a failure is one message on errors. Returns the exit status: 0, or 1 when
// the folder, its index or its files do not allow the export, which then leaves no file.
[[nodiscard]] int runExport(const ExportOptions &options, QTextStream &output, QTextStream &errors);

// The whole subcommand: parse, then run. Returns the exit status (2 for a wrong option).
[[nodiscard]] int exportCommand(const QStringList &arguments, QTextStream &output, QTextStream &errors);

#endif
