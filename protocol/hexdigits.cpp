#include "hexdigits.h"

namespace Hex {

QByteArray upper(QByteArrayView bytes, char separator)
{
    QByteArray text;
    text.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        if (separator != '\0' && !text.isEmpty())
            text += separator;
        text += Digits[quint8(c) >> 4];
        text += Digits[quint8(c) & 15];
    }
    return text;
}

} // namespace Hex
