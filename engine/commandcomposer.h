#ifndef GPSA_COMMANDCOMPOSER_H
#define GPSA_COMMANDCOMPOSER_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// The operator command, composed from the command text and the type chosen for it.
struct ComposedCommand
{
    bool hexMode = false;
    // The command's bytes, without the CR LF that follows them on the wire.
    QByteArray bytes;
    // Hex mode: the elements that are not two hexadecimal digits, blanks removed, in order.
    QStringList illegalElements;
};

// Only the exact type text "ASCII" selects ASCII mode, where the command is the text itself;
// any other type text selects hex mode, where the text, blanks removed, is split at every
// comma and each element of two hexadecimal digits gives one byte.
[[nodiscard]] ComposedCommand composeCommand(const QString &typeText, const QString &commandText);

// Bytes as hex mode reads them back: two upper-case hexadecimal digits each, separated by commas.
[[nodiscard]] QString commaSeparatedHex(const QByteArray &bytes);

#endif
