// The operator command composer: any command text composes without a crash; in hex mode the
// bytes are exactly the legal elements (two hexadecimal digits) in order, and every other
// element is listed as illegal, in order.

#include "commandcomposer.h"
#include "fuzzinput.h"

#include <QStringList>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the type text: the exact word selects ASCII mode, anything else hex.
    static const QString types[] = {QStringLiteral("ASCII"), QStringLiteral("HEX"), QStringLiteral("ascii"),
                                    QString()};
    const QString &type = types[data[0] % 4];
    const QString text = fuzzText(data + 1, size - 1);

    const ComposedCommand command = composeCommand(type, text);

    if (type == QLatin1StringView("ASCII")) {
        require(!command.hexMode, "only the exact word selects ASCII mode");
        require(command.bytes.size() == text.size(), "ASCII mode: one byte per character");
        require(command.bytes == text.toLatin1(), "ASCII mode: the text itself");
        require(command.illegalElements.isEmpty(), "ASCII mode has no elements");
        return 0;
    }

    require(command.hexMode, "any other type text selects hex mode");
    QString stripped = text;
    stripped.remove(QLatin1Char(' '));
    const QStringList elements = stripped.isEmpty() ? QStringList() : stripped.split(QLatin1Char(','));
    const auto isHexDigit = [](QChar c) { return QLatin1StringView("0123456789abcdefABCDEF").contains(c); };
    QByteArray legal;
    QStringList illegal;
    for (const QString &element : elements) {
        if (element.size() == 2 && isHexDigit(element[0]) && isHexDigit(element[1]))
            legal += QByteArray::fromHex(element.toLatin1());
        else
            illegal.append(element);
    }
    require(command.bytes == legal, "hex mode: the bytes are the legal elements in order");
    require(command.illegalElements == illegal, "hex mode: every other element is illegal, in order");
    require(command.bytes.size() + command.illegalElements.size() == elements.size(),
            "hex mode: every element is either a byte or illegal");
    return 0;
}
