#include "subcommandline.h"

#include "commandline.h"

#include <QCommandLineParser>
#include <QTextStream>

#include <cstdio>

namespace {

const QString ProgramName = QStringLiteral("gps-analyzer");

QString usageText(const QCommandLineParser &parser, const QString &name)
{
    const QString text = parser.helpText();
    return QStringLiteral("Usage: %1 %2 [options]").arg(ProgramName, name) + text.mid(text.indexOf(QLatin1Char('\n')));
}

SubcommandExit exitWith(int status, const QString &text, bool toStandardError)
{
    return {true, status, text.endsWith(QLatin1Char('\n')) ? text : text + QLatin1Char('\n'), toStandardError};
}

} // namespace

SubcommandExit subcommandUsageError(const QCommandLineParser &parser, const QString &name, const QString &message)
{
    return exitWith(ExitStatus::Usage,
                    QStringLiteral("%1 %2: %3\n").arg(ProgramName, name, message) + usageText(parser, name), true);
}

SubcommandExit parseSubcommand(QCommandLineParser &parser, const QString &name, const QStringList &arguments)
{
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help and exits."));
    parser.addOption(help);
    // The subcommand's name is not one of its arguments.
    QStringList own = arguments;
    if (own.size() > 1)
        own.removeAt(1);
    if (!parser.parse(own))
        return subcommandUsageError(parser, name, parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return subcommandUsageError(
            parser, name, QStringLiteral("unexpected argument '%1'.").arg(parser.positionalArguments().constFirst()));
    if (parser.isSet(help))
        return exitWith(ExitStatus::Success, usageText(parser, name), false);
    return {};
}

bool readCount(const QString &text, qint64 minimum, qint64 maximum, qint64 &value)
{
    bool ok = false;
    const qint64 read = text.toLongLong(&ok);
    if (!ok || read < minimum || read > maximum)
        return false;
    value = read;
    return true;
}

int subcommandMain(int argc, char **argv, Subcommand command)
{
    QTextStream output(stdout);
    QTextStream errors(stderr);
    return command(argumentList(argc, argv), output, errors);
}

bool printedExit(const SubcommandExit &exit, QTextStream &output, QTextStream &errors)
{
    if (exit.exit)
        (exit.toStandardError ? errors : output) << exit.text;
    return exit.exit;
}
