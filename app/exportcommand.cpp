#include "exportcommand.h"

#include "commandline.h"
#include "outputfile.h"
#include "pcapexport.h"
#include "sessionerror.h"
#include "sessionindex.h"

#include <QCommandLineParser>
#include <QDir>
#include <QTextStream>

namespace {
const QString Name = QStringLiteral("export");
} // namespace

ExportCommandLine parseExportCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes the sessions recorded in a capture folder (its index.tsv, or without one its capture\n"
        "files) to a pcap file that Wireshark and tshark open: each tracker connection is one TCP\n"
        "stream with the recorded times, and a relay is one more stream to the OUT server.\n"
        "Exit status: 0 when written, 1 when the folder cannot be exported (no file is left\n"
        "behind), 2 for a wrong option."));
    const QCommandLineOption captureDir(
        QStringLiteral("capture-dir"),
        QStringLiteral("Capture folder to read (default %1).").arg(defaultCaptureFolder()), QStringLiteral("DIR"));
    const QCommandLineOption session(QStringLiteral("session"),
                                     QStringLiteral("Exports the Nth tracker connection only, from 1 (default: all)."),
                                     QStringLiteral("N"));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("The pcap file to write."), QStringLiteral("FILE"));
    const QCommandLineOption inPort(
        QStringLiteral("in-port"),
        QStringLiteral("IN port of a folder without index.tsv (default: that of the error logs, else that of "
                       "the first capture)."),
        QStringLiteral("PORT"));
    parser.addOptions({captureDir, session, output, inPort});

    ExportCommandLine result;
    result.exit = parseSubcommand(parser, Name, arguments);
    if (result.exit.exit)
        return result;
    ExportOptions &options = result.options;
    options.captureFolder = parser.isSet(captureDir) ? parser.values(captureDir).constLast() : defaultCaptureFolder();
    options.output = parser.isSet(output) ? parser.values(output).constLast() : QString();
    qint64 value = 0;
    if (parser.isSet(session)) {
        if (!readCount(parser.values(session).constLast(), 1, std::numeric_limits<int>::max(), value))
            result.exit = subcommandUsageError(parser, Name, QStringLiteral("--session takes a number from 1."));
        options.session = int(value);
    }
    if (parser.isSet(inPort)) {
        if (!readCount(parser.values(inPort).constLast(), 1, 65535, value))
            result.exit = subcommandUsageError(parser, Name, QStringLiteral("--in-port takes a port from 1 to 65535."));
        options.inPort = int(value);
    }
    if (options.output.isEmpty())
        result.exit = subcommandUsageError(parser, Name, QStringLiteral("-o FILE is needed."));
    return result;
}

int runExport(const ExportOptions &options, QTextStream &output, QTextStream &errors)
{
    try {
        const SessionIndex index = SessionIndex::read(options.captureFolder, options.inPort);
        PcapExport::write(index, options.session, options.output);
        const qsizetype count = options.session != 0 ? 1 : index.sessions().size();
        output << QStringLiteral("Wrote %1 %2 to %3%4.\n")
                      .arg(count)
                      .arg(count == 1 ? QStringLiteral("session") : QStringLiteral("sessions"),
                           QDir::toNativeSeparators(options.output),
                           index.isTimed() ? QString()
                                           : QStringLiteral(" (no index.tsv: from the capture files, one second apart)"));
        output.flush();
        return ExitStatus::Success;
    } catch (const SessionError &error) {
        errors << QStringLiteral("gps-analyzer export: ") << error.message() << QLatin1Char('\n');
        errors.flush();
        return ExitStatus::Failure;
    }
}

int exportCommand(const QStringList &arguments, QTextStream &output, QTextStream &errors)
{
    const ExportCommandLine commandLine = parseExportCommandLine(arguments);
    return printedExit(commandLine.exit, output, errors) ? commandLine.exit.status
                                                          : runExport(commandLine.options, output, errors);
}
