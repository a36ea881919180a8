#include "positionscommand.h"

#include "capturepositions.h"
#include "commandline.h"
#include "outputfile.h"
#include "sessionerror.h"

#include <QCommandLineParser>
#include <QDir>
#include <QLocale>
#include <QSaveFile>
#include <QTextStream>

namespace {

const QString Name = QStringLiteral("positions");

// "1,234 records", "1 record".
QString counted(qsizetype count, const char *singular, const char *plural)
{
    return QLocale(QLocale::English).toString(count) + QLatin1Char(' ') +
           QLatin1StringView(count == 1 ? singular : plural);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw SessionError(QStringLiteral("%1 cannot be written: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
}

} // namespace

PositionsCommandLine parsePositionsCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Decodes the tracker frames in a capture folder (its index.tsv, or without one its capture\n"
        "files) and writes every position: CSV (the columns of positions.csv), GeoJSON, GPX or KML.\n"
        "A summary goes to standard error. Exit status: 0 when written, 1 when the folder cannot be\n"
        "read or the output written (no file is left behind), 2 for a wrong option."));
    const QCommandLineOption captureDir(
        QStringLiteral("capture-dir"),
        QStringLiteral("Capture folder to read (default %1).").arg(defaultCaptureFolder()), QStringLiteral("DIR"));
    const QCommandLineOption session(QStringLiteral("session"),
                                     QStringLiteral("Decodes the Nth tracker session only, from 1 (default: all)."),
                                     QStringLiteral("N"));
    const QCommandLineOption protocol(
        QStringLiteral("protocol"),
        QStringLiteral("The trackers' protocol: %1 (default auto).").arg(protocolOptionNames().join(QStringLiteral(", "))),
        QStringLiteral("NAME"));
    const QCommandLineOption format(
        QStringLiteral("format"),
        QStringLiteral("The output's format: %1 (default csv).").arg(trackFormatNames().join(QStringLiteral(", "))),
        QStringLiteral("FORMAT"));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("The file to write (default: standard output)."),
                                    QStringLiteral("FILE"));
    parser.addOptions({captureDir, session, protocol, format, output});

    PositionsCommandLine result;
    result.exit = parseSubcommand(parser, Name, arguments);
    if (result.exit.exit)
        return result;
    PositionsOptions &options = result.options;
    // A repeated option takes its last value; an option not given, an empty text.
    const auto last = [&parser](const QCommandLineOption &option) {
        return parser.isSet(option) ? parser.values(option).constLast() : QString();
    };
    options.captureFolder = parser.isSet(captureDir) ? last(captureDir) : defaultCaptureFolder();
    options.output = last(output);
    qint64 value = 0;
    if (parser.isSet(session)) {
        if (!readCount(last(session), 1, std::numeric_limits<int>::max(), value))
            result.exit = subcommandUsageError(parser, Name, QStringLiteral("--session takes a number from 1."));
        options.session = int(value);
    }
    if (parser.isSet(protocol)) {
        options.protocol = protocolChoiceFromName(last(protocol));
        if (!options.protocol)
            result.exit = subcommandUsageError(parser, Name, QStringLiteral("unknown protocol '%1'; one of: %2.")
                                                                 .arg(last(protocol), protocolOptionNames().join(QStringLiteral(", "))));
    }
    if (parser.isSet(format)) {
        const std::optional<TrackFormat> chosen = trackFormatFromName(last(format));
        if (!chosen)
            result.exit = subcommandUsageError(parser, Name, QStringLiteral("unknown format '%1'; one of: %2.")
                                                                 .arg(last(format), trackFormatNames().join(QStringLiteral(", "))));
        options.format = chosen.value_or(TrackFormat::Csv);
    }
    return result;
}

int runPositions(const PositionsOptions &options, QTextStream &output, QTextStream &errors)
{
    try {
        const CapturePositions positions = CapturePositions::read(options.captureFolder, options.session, options.protocol);
        const QByteArray text = exportTrack(positions.rows, options.format);
        if (options.output.isEmpty()) {
            output << QString::fromUtf8(text);
            output.flush();
        } else {
            writeFile(options.output, text);
        }
        errors << QStringLiteral("Decoded %1 of %2 from %3; %4 not decoded.\n")
                      .arg(counted(positions.rows.size(), "record", "records"),
                           counted(positions.devices(), "device", "devices"),
                           counted(positions.chunks, "chunk", "chunks"),
                           counted(positions.notDecoded, "frame", "frames"));
        errors.flush();
        return ExitStatus::Success;
    } catch (const SessionError &error) {
        errors << QStringLiteral("gps-analyzer positions: ") << error.message() << QLatin1Char('\n');
        errors.flush();
        return ExitStatus::Failure;
    }
}

int positionsCommand(const QStringList &arguments, QTextStream &output, QTextStream &errors)
{
    const PositionsCommandLine commandLine = parsePositionsCommandLine(arguments);
    return printedExit(commandLine.exit, output, errors) ? commandLine.exit.status
                                                          : runPositions(commandLine.options, output, errors);
}
