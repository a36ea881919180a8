#include "commandline.h"

#include "commandcomposer.h"
#include "commandframe.h"
#include "liveviewservice.h"
#include "openfiles.h"
#include "outputfile.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <functional>
#include <optional>

namespace {

const QString ProgramName = QStringLiteral("gps-analyzer");
// A day: a longer idle time keeps every sender that ever sent.
constexpr int MostUdpIdleSeconds = 86400;

QString usageText(const QCommandLineParser &parser)
{
    // The parser names the program after argv[0], or a placeholder before the application
    // object exists: the usage line always gives the program's own name.
    const QString text = parser.helpText();
    return QStringLiteral("Usage: %1 [options]").arg(ProgramName) + text.mid(text.indexOf(QLatin1Char('\n')));
}

// What an option presets when it is given, from its value (empty for a switch); the text of a
// usage error, or an empty text.
using Preset = std::function<QString(Options &options, const QString &value)>;

struct OptionRow
{
    const char *name;
    QString help;
    const char *valueName; // nullptr for a switch
    Preset preset;
    bool repeatable = false; // each value presets in turn; otherwise the last one counts
};

// Presets that store the option's value, or tick a switch, of the options or of their features.
Preset text(QString Options::*member)
{
    return [member](Options &o, const QString &value) {
        o.*member = value;
        return QString();
    };
}

Preset tick(bool Options::*member)
{
    return [member](Options &o, const QString &) {
        o.*member = true;
        return QString();
    };
}

Preset tick(bool CaptureFeatures::*member)
{
    return [member](Options &o, const QString &) {
        o.features.*member = true;
        return QString();
    };
}

// The frame takes the place of the command, as the window's frame builder puts it.
QString presetCommandFrame(Options &o, const QString &name)
{
    const std::optional<CommandFrameKind> kind = commandFrameKindFromName(name);
    if (!kind)
        return QStringLiteral("unknown command frame '%1'; one of: %2.")
            .arg(name, commandFrameKindNames().join(QStringLiteral(", ")));
    const ComposedCommand payload = composeCommand(o.commandType, o.command);
    if (!payload.illegalElements.isEmpty())
        return QStringLiteral("the command's element '%1' is no hexadecimal byte.")
            .arg(payload.illegalElements.constFirst());
    const CommandFrame frame = buildCommandFrame(*kind, payload.bytes);
    if (!frame.ok())
        return QStringLiteral("--command-frame %1: %2").arg(name.toLower(), frame.error);
    o.command = commaSeparatedHex(frame.bytes);
    o.commandType = QStringLiteral("HEX");
    o.features.appendCrLf = false;
    return {};
}

QString presetMaxTrackers(Options &o, const QString &value)
{
    bool ok = false;
    o.features.maxTrackers = value.trimmed().toInt(&ok);
    if (ok && o.features.maxTrackers >= 1 && o.features.maxTrackers <= CaptureFeatures::MostTrackers)
        return {};
    return QStringLiteral("--max-trackers takes a number from 1 to %1.").arg(CaptureFeatures::MostTrackers);
}

QString presetUdpIdle(Options &o, const QString &value)
{
    bool ok = false;
    o.features.udpIdleSeconds = value.trimmed().toInt(&ok);
    if (ok && o.features.udpIdleSeconds >= 1 && o.features.udpIdleSeconds <= MostUdpIdleSeconds)
        return o.features.udp ? QString() : QStringLiteral("--udp-idle is the idle time of UDP peers, which needs --udp.");
    return QStringLiteral("--udp-idle takes a number of seconds from 1 to %1.").arg(MostUdpIdleSeconds);
}

QString presetMirror(Options &o, const QString &value)
{
    if (!isHostAndPort(value))
        return QStringLiteral("--mirror takes HOST:PORT, such as 127.0.0.1:5002.");
    if (o.features.mirrors.size() == CaptureFeatures::MostMirrors)
        return QStringLiteral("--mirror can be given up to %1 times.").arg(CaptureFeatures::MostMirrors);
    o.features.mirrors.append(value);
    return {};
}

QString presetWeb(Options &o, const QString &address)
{
    if (!LiveViewService::available())
        return QStringLiteral("--web: this build of gps-analyzer has no live view (Qt WebSockets was missing).");
    QString problem;
    o.web = WebAccess::parseAddress(address, &problem);
    return o.web ? QString() : QStringLiteral("--web: ") + problem + QLatin1Char('.');
}

QString presetWebToken(Options &o, const QString &token)
{
    if (!o.web)
        return QStringLiteral("--web-token goes with --web.");
    o.web->token = token;
    const QString problem = WebAccess::tokenProblem(token);
    return problem.isEmpty() ? QString() : QStringLiteral("--web-token: ") + problem + QLatin1Char('.');
}

// The options are tables of rows, in the order of the help, which is also the order in which
// they preset: a row that reads another option's preset stands below it (--pass-answers below
// --relay, --command-frame below --command and --command-type, --web-token below --web). A new
// option is a new row.

// The options that preset the window's controls, and how the program runs.
QList<OptionRow> controlOptions()
{
    const Options defaults;
    return {
        {"in-port", QStringLiteral("IN port that the tracker connects to (default \"%1\").").arg(defaults.inPort),
         "TEXT", text(&Options::inPort)},
        {"out-port", QStringLiteral("Port of the OUT server (default \"%1\").").arg(defaults.outPort), "TEXT",
         text(&Options::outPort)},
        {"out-host", QStringLiteral("Host of the OUT server (default \"%1\").").arg(defaults.outHost), "TEXT",
         text(&Options::outHost)},
        {"relay", QStringLiteral("Relays every chunk from the tracker to the OUT server."), nullptr,
         tick(&Options::relay)},
        {"send-on-connect",
         QStringLiteral("Sends the command as soon as the tracker connects (Enable Send Immediate)."), nullptr,
         tick(&Options::sendOnConnect)},
        {"command",
         QStringLiteral("Command sent once to the tracker, followed by CR LF: on connect with "
                        "--send-on-connect, otherwise after the tracker's first chunk."),
         "TEXT",
         [](Options &o, const QString &value) {
             o.command = value;
             o.armCommand = true;
             return QString();
         }},
        {"command-type",
         QStringLiteral("ASCII sends the command as typed; anything else (HEX) reads it as "
                        "comma-separated two-digit hexadecimal bytes (default \"%1\").")
             .arg(defaults.commandType),
         "TEXT", text(&Options::commandType)},
        {"capture-dir", QStringLiteral("Folder of the capture files (default %1).").arg(defaultCaptureFolder()), "DIR",
         text(&Options::captureFolder)},
        {"start", QStringLiteral("Presses the start button once the window is shown."), nullptr,
         tick(&Options::start)},
        {"headless",
         QStringLiteral("Runs with no window and starts capturing at once: the pane lines go to "
                        "standard output, messages to standard error. Needs no display."),
         nullptr, tick(&Options::headless)},
    };
}

// The options of the features beyond the window's controls. One table, a row per option, in
// the order of the help: longer than a screen, but read a row at a time.
QList<OptionRow> featureOptions()
{
    const QString protocolNames = protocolOptionNames().join(QStringLiteral(", "));
    return {
        {"listen-address", QStringLiteral("Listens on this local address only (default: every address)."),
         "ADDRESS",
         [](Options &o, const QString &value) {
             o.features.listenAddress = value;
             return QString();
         }},
        {"pass-answers",
         QStringLiteral("With --relay: what the OUT server answers is captured, then sent on to the tracker."),
         nullptr,
         [](Options &o, const QString &) {
             o.features.passAnswers = true;
             return o.relay ? QString()
                            : QStringLiteral("--pass-answers passes the OUT server's answers on, which needs --relay.");
         }},
        {"protocol", QStringLiteral("Recognises the tracker's protocol and frames: %1.").arg(protocolNames), "NAME",
         [protocolNames](Options &o, const QString &value) {
             o.features.protocol = protocolChoiceFromName(value);
             return o.features.protocol ? QString()
                                        : QStringLiteral("unknown protocol '%1'; one of: %2.").arg(value, protocolNames);
         }},
        {"auto-ack",
         QStringLiteral("Answers every intact frame as a tracking server does (with --protocol, else auto)."),
         nullptr, tick(&CaptureFeatures::acknowledge)},
        {"command-frame",
         QStringLiteral("Sends the command as the payload of a device frame with its length and checksum: %1.")
             .arg(commandFrameKindNames().join(QStringLiteral(", "))),
         "KIND", presetCommandFrame},
        {"no-crlf", QStringLiteral("Sends the command without CR LF."), nullptr,
         [](Options &o, const QString &) {
             o.features.appendCrLf = false;
             return QString();
         }},
        {"session-index",
         QStringLiteral("Records every event, with its time to the microsecond, in index.tsv of the capture "
                        "folder."),
         nullptr, tick(&CaptureFeatures::sessionIndex)},
        {"decode",
         QStringLiteral("Decodes every intact frame: a POS line per position and a DEC line per other frame, "
                        "and positions.csv in the capture folder (with --protocol, else auto)."),
         nullptr, tick(&CaptureFeatures::decode)},
        {"max-trackers",
         QStringLiteral("Serves up to N trackers at once (1 to %1; default 1, one at a time), each named in "
                        "its lines and, when relaying, over an OUT connection of its own.")
             .arg(CaptureFeatures::MostTrackers),
         "N", presetMaxTrackers},
        {"mirror",
         QStringLiteral("Sends every tracker chunk to this server too (up to %1 times); what it answers is "
                        "captured, never sent to the tracker.")
             .arg(CaptureFeatures::MostMirrors),
         "HOST:PORT", presetMirror, true},
        {"web",
         QStringLiteral("Serves a read-only live view of the panes to browsers on [ADDRESS:]PORT (the "
                        "address 127.0.0.1 unless given, 0.0.0.0 for every address) and prints the "
                        "address to open."),
         "[ADDRESS:]PORT", presetWeb},
        {"web-token",
         QStringLiteral("With --web: the token that every request needs (default: one made at the start)."), "TOKEN",
         presetWebToken},
        {"udp",
         QStringLiteral("Listens on the IN port for UDP too: each datagram is a chunk, each sender's address "
                        "and port a tracker; when relaying, sent over UDP from a socket per sender."),
         nullptr, tick(&CaptureFeatures::udp)},
        {"udp-idle",
         QStringLiteral("With --udp: a sender quiet for this many seconds is forgotten (default %1).")
             .arg(CaptureFeatures().udpIdleSeconds),
         "SECONDS", presetUdpIdle},
    };
}

// Every option given presets its part of the options, in the order of the rows; the first
// problem, or an empty text.
QString presetFromOptions(const QCommandLineParser &parser, const QList<OptionRow> &rows,
                          const QList<QCommandLineOption> &declared, Options &options)
{
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (!parser.isSet(declared.at(i)))
            continue;
        // A repeated option takes its last value, as in most Unix tools, unless it adds up.
        QStringList values = rows.at(i).valueName ? parser.values(declared.at(i)) : QStringList{QString()};
        if (!rows.at(i).repeatable)
            values = QStringList{values.constLast()};
        for (const QString &value : std::as_const(values)) {
            if (const QString problem = rows.at(i).preset(options, value); !problem.isEmpty())
                return problem;
        }
    }
    return {};
}

} // namespace

ControlPresets controlPresets(const Options &options)
{
    const auto tick = [](bool on) { return on ? CheckValue::Ticked : CheckValue::Clear; };
    return {{{Control::InPort, options.inPort},
             {Control::OutPort, options.outPort},
             {Control::OutHost, options.outHost},
             {Control::Command, options.command},
             {Control::CommandType, options.commandType}},
            {{Control::RelaySwitch, tick(options.relay)},
             {Control::SendOnConnect, tick(options.sendOnConnect)},
             {Control::AutoSend, tick(options.armCommand)}}};
}

CommandLine parseCommandLine(const QStringList &arguments)
{
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
    parser.addOptions({help, version});
    const QList<OptionRow> rows = controlOptions() + featureOptions();
    QList<QCommandLineOption> declared;
    for (const OptionRow &row : rows) {
        declared.append(QCommandLineOption(QLatin1StringView(row.name), row.help,
                                          row.valueName ? QLatin1StringView(row.valueName) : QString()));
        parser.addOption(declared.constLast());
    }

    CommandLine result;
    const auto exitWith = [&result](int status, const QString &text, bool toStandardError) {
        result.run = false;
        result.exitStatus = status;
        result.output = text.endsWith(QLatin1Char('\n')) ? text : text + QLatin1Char('\n');
        result.outputToStandardError = toStandardError;
        return result;
    };
    const auto usageError = [&](const QString &problem) {
        return exitWith(ExitStatus::Usage,
                        ProgramName + QStringLiteral(": ") + problem + QLatin1Char('\n') + usageText(parser), true);
    };

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'.").arg(parser.positionalArguments().constFirst()));
    if (parser.isSet(help))
        return exitWith(ExitStatus::Success, usageText(parser), false);
    if (parser.isSet(version))
        return exitWith(ExitStatus::Success, ProgramName + QLatin1Char(' ') + QStringLiteral(GPSA_VERSION), false);

    result.options.captureFolder = defaultCaptureFolder();
    QString problem = presetFromOptions(parser, rows, declared, result.options);
    if (problem.isEmpty())
        problem = openFilesProblem(result.options.features, result.options.relay);
    if (!problem.isEmpty())
        return usageError(problem);
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
