#ifndef GPSA_SUBCOMMANDLINE_H
#define GPSA_SUBCOMMANDLINE_H

#include <QString>
#include <QStringList>

class QCommandLineParser;
class QTextStream;

// What a subcommand's arguments ask for besides its options: to exit at once with a text and a
// status (--help, a usage error).
struct SubcommandExit
{
    bool exit = false;
    int status = 0;
    QString text; // ends with a line feed
    bool toStandardError = false;
};

// Parses "gps-analyzer NAME ARGS..." with a parser whose options the caller has added (--help is
// added here), and answers --help, unknown options, missing values and stray arguments. Needs no
// application object.
[[nodiscard]] SubcommandExit parseSubcommand(QCommandLineParser &parser, const QString &name,
                                             const QStringList &arguments);

// Exit status 2 with the message and the subcommand's usage.
[[nodiscard]] SubcommandExit subcommandUsageError(const QCommandLineParser &parser, const QString &name,
                                                  const QString &message);

// Prints the text of an exit that the arguments asked for (to standard output or error, as it
// says); false when they asked for none.
[[nodiscard]] bool printedExit(const SubcommandExit &exit, QTextStream &output, QTextStream &errors);

// A subcommand that needs no application object, whole: it reads its arguments, then runs, and
// returns the exit status (2 for a wrong option).
using Subcommand = int (*)(const QStringList &arguments, QTextStream &output, QTextStream &errors);
// main() of such a subcommand: the program's arguments, standard output and standard error.
[[nodiscard]] int subcommandMain(int argc, char **argv, Subcommand command);

// A whole number from minimum to maximum, or nothing.
[[nodiscard]] bool readCount(const QString &text, qint64 minimum, qint64 maximum, qint64 &value);

#endif
