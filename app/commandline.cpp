#include "commandline.h"

#include "commandcomposer.h"
#include "commandframe.h"
#include "outputfile.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace {

const QString ProgramName = QStringLiteral("gps-analyzer");

QString usageText(const QCommandLineParser &parser)
{
    // The parser names the program after argv[0], or a placeholder before the application
    // object exists: the usage line always gives the program's own name.
    const QString text = parser.helpText();
    return QStringLiteral("Usage: %1 [options]").arg(ProgramName) + text.mid(text.indexOf(QLatin1Char('\n')));
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    const Options defaults;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("TCP/IP GPS Protocol Analyzer: captures what a GPS tracker sends to the IN port,\n"
                       "optionally relays it to an OUT server and captures the answers, and can send the\n"
                       "tracker one command. Each option presets a control of the window.\n"
                       "Exit status: 0 when the window is closed or on SIGINT or SIGTERM, 1 when a\n"
                       "failure ends the program, 2 for a wrong option.\n"
                       "gps-analyzer export --help: a capture folder's sessions as a pcap file.\n"
                       "gps-analyzer replay --help: plays a recorded session against a server.\n"
                       "gps-analyzer positions --help: the decoded positions of a capture folder."));

    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help and exits."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the version and exits."));
    const QCommandLineOption inPort(QStringLiteral("in-port"),
                                    QStringLiteral("IN port that the tracker connects to (default \"%1\").")
                                        .arg(defaults.inPort),
                                    QStringLiteral("TEXT"));
    const QCommandLineOption outPort(QStringLiteral("out-port"),
                                     QStringLiteral("Port of the OUT server (default \"%1\").").arg(defaults.outPort),
                                     QStringLiteral("TEXT"));
    const QCommandLineOption outHost(QStringLiteral("out-host"),
                                     QStringLiteral("Host of the OUT server (default \"%1\").").arg(defaults.outHost),
                                     QStringLiteral("TEXT"));
    const QCommandLineOption relay(QStringLiteral("relay"),
                                   QStringLiteral("Relays every chunk from the tracker to the OUT server."));
    const QCommandLineOption sendOnConnect(
        QStringLiteral("send-on-connect"),
        QStringLiteral("Sends the command as soon as the tracker connects (Enable Send Immediate)."));
    const QCommandLineOption command(
        QStringLiteral("command"),
        QStringLiteral("Command sent once to the tracker, followed by CR LF: on connect with "
                       "--send-on-connect, otherwise after the tracker's first chunk."),
        QStringLiteral("TEXT"));
    const QCommandLineOption commandType(
        QStringLiteral("command-type"),
        QStringLiteral("ASCII sends the command as typed; anything else (HEX) reads it as "
                       "comma-separated two-digit hexadecimal bytes (default \"%1\").")
            .arg(defaults.commandType),
        QStringLiteral("TEXT"));
    const QCommandLineOption captureDir(
        QStringLiteral("capture-dir"),
        QStringLiteral("Folder of the capture files (default %1).").arg(defaultCaptureFolder()),
        QStringLiteral("DIR"));
    const QCommandLineOption start(QStringLiteral("start"),
                                   QStringLiteral("Presses the start button once the window is shown."));
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral("Runs with no window and starts capturing at once: the pane lines go to "
                       "standard output, messages to standard error. Needs no display."));
    const QCommandLineOption listenAddress(
        QStringLiteral("listen-address"),
        QStringLiteral("Listens on this local address only (default: every address)."), QStringLiteral("ADDRESS"));
    const QCommandLineOption passAnswers(
        QStringLiteral("pass-answers"),
        QStringLiteral("With --relay: what the OUT server answers is captured, then sent on to the tracker."));
    const QCommandLineOption protocol(
        QStringLiteral("protocol"),
        QStringLiteral("Recognises the tracker's protocol and frames: %1.").arg(protocolOptionNames().join(QStringLiteral(", "))),
        QStringLiteral("NAME"));
    const QCommandLineOption autoAck(
        QStringLiteral("auto-ack"),
        QStringLiteral("Answers every intact frame as a tracking server does (with --protocol, else auto)."));
    const QCommandLineOption commandFrame(
        QStringLiteral("command-frame"),
        QStringLiteral("Sends the command as the payload of a device frame with its length and checksum: %1.")
            .arg(commandFrameKindNames().join(QStringLiteral(", "))),
        QStringLiteral("KIND"));
    const QCommandLineOption noCrLf(QStringLiteral("no-crlf"), QStringLiteral("Sends the command without CR LF."));
    const QCommandLineOption sessionIndex(
        QStringLiteral("session-index"),
        QStringLiteral("Records every event, with its time to the microsecond, in index.tsv of the capture "
                       "folder."));
    const QCommandLineOption decode(
        QStringLiteral("decode"),
        QStringLiteral("Decodes every intact frame: a POS line per position and a DEC line per other frame, "
                       "and positions.csv in the capture folder (with --protocol, else auto)."));
    parser.addOptions({help, version, inPort, outPort, outHost, relay, sendOnConnect, command, commandType,
                       captureDir, start, headless, listenAddress, passAnswers, protocol, autoAck, commandFrame,
                       noCrLf, sessionIndex, decode});

    CommandLine result;
    const auto exitWith = [&result](int status, const QString &text, bool toStandardError) {
        result.run = false;
        result.exitStatus = status;
        result.output = text.endsWith(QLatin1Char('\n')) ? text : text + QLatin1Char('\n');
        result.outputToStandardError = toStandardError;
        return result;
    };

    const bool parsed = parser.parse(arguments);
    if (!parsed)
        return exitWith(ExitStatus::Usage, ProgramName + QStringLiteral(": ") + parser.errorText() +
                                               QLatin1Char('\n') + usageText(parser),
                        true);
    if (!parser.positionalArguments().isEmpty())
        return exitWith(ExitStatus::Usage,
                        ProgramName + QStringLiteral(": unexpected argument '%1'.\n")
                                .arg(parser.positionalArguments().constFirst()) +
                            usageText(parser),
                        true);
    if (parser.isSet(help))
        return exitWith(ExitStatus::Success, usageText(parser), false);
    if (parser.isSet(version))
        return exitWith(ExitStatus::Success, ProgramName + QLatin1Char(' ') + QStringLiteral(GPSA_VERSION), false);

    Options &options = result.options;
    // A repeated option takes its last value, as in most Unix tools.
    const auto last = [&parser](const QCommandLineOption &option, const QString &fallback) {
        return parser.isSet(option) ? parser.values(option).constLast() : fallback;
    };
    options.inPort = last(inPort, defaults.inPort);
    options.outPort = last(outPort, defaults.outPort);
    options.outHost = last(outHost, defaults.outHost);
    options.relay = parser.isSet(relay);
    options.sendOnConnect = parser.isSet(sendOnConnect);
    options.armCommand = parser.isSet(command);
    options.command = last(command, QString());
    options.commandType = last(commandType, defaults.commandType);
    options.captureFolder = last(captureDir, defaultCaptureFolder());
    options.start = parser.isSet(start);
    options.headless = parser.isSet(headless);

    const auto usageError = [&](const QString &problem) {
        return exitWith(ExitStatus::Usage, ProgramName + QStringLiteral(": ") + problem + QLatin1Char('\n') +
                                               usageText(parser),
                        true);
    };
    CaptureFeatures &features = options.features;
    features.listenAddress = last(listenAddress, QString());
    features.passAnswers = parser.isSet(passAnswers);
    if (features.passAnswers && !options.relay)
        return usageError(QStringLiteral("--pass-answers passes the OUT server's answers on, which needs --relay."));
    if (parser.isSet(protocol)) {
        features.protocol = protocolChoiceFromName(last(protocol, QString()));
        if (!features.protocol)
            return usageError(QStringLiteral("unknown protocol '%1'; one of: %2.")
                                  .arg(last(protocol, QString()), protocolOptionNames().join(QStringLiteral(", "))));
    }
    features.acknowledge = parser.isSet(autoAck);
    features.appendCrLf = !parser.isSet(noCrLf);
    features.sessionIndex = parser.isSet(sessionIndex);
    features.decode = parser.isSet(decode);
    if (parser.isSet(commandFrame)) {
        const QString name = last(commandFrame, QString());
        const std::optional<CommandFrameKind> kind = commandFrameKindFromName(name);
        if (!kind)
            return usageError(QStringLiteral("unknown command frame '%1'; one of: %2.")
                                  .arg(name, commandFrameKindNames().join(QStringLiteral(", "))));
        const ComposedCommand payload = composeCommand(options.commandType, options.command);
        if (!payload.illegalElements.isEmpty())
            return usageError(QStringLiteral("the command's element '%1' is no hexadecimal byte.")
                                  .arg(payload.illegalElements.constFirst()));
        const CommandFrame frame = buildCommandFrame(*kind, payload.bytes);
        if (!frame.ok())
            return usageError(QStringLiteral("--command-frame %1: %2").arg(name.toLower(), frame.error));
        // The frame takes the place of the command, as the window's frame builder puts it.
        options.commandFrame = frame.bytes;
        options.command = commaSeparatedHex(frame.bytes);
        options.commandType = QStringLiteral("HEX");
        features.appendCrLf = false;
    }
    return result;
}

QStringList argumentList(int argc, const char *const *argv)
{
    QStringList arguments;
    arguments.reserve(argc);
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}
