#include "framing.h"

#include "hexdigits.h"

#include <algorithm>

namespace Framing {

int hexByteAt(QByteArrayView data, qsizetype at)
{
    if (at < 0 || at + 2 > data.size())
        return -1;
    return Hex::byteValue(quint8(data[at]), quint8(data[at + 1]));
}

int compareStart(QByteArrayView data, std::string_view literal)
{
    const qsizetype count = std::min(data.size(), qsizetype(literal.size()));
    if (QByteArrayView(literal.data(), count) != data.first(count))
        return -1;
    return count == qsizetype(literal.size()) ? 1 : 0;
}

FrameFit textUpTo(QByteArrayView data, qsizetype from, char terminator, qsizetype maximum,
                  std::span<const std::string_view> restarts)
{
    const qsizetype limit = std::min(data.size(), maximum);
    for (qsizetype i = from; i < limit; ++i) {
        const char c = data[i];
        if (c == terminator) {
            qsizetype end = i + 1;
            if (end < data.size() && data[end] == '\r')
                ++end;
            if (end < data.size() && data[end] == '\n')
                ++end;
            return whole(end);
        }
        if (!isPrintable(c))
            return none();
        for (const std::string_view restart : restarts) {
            if (c == restart.front() && compareStart(data.sliced(i), restart) > 0)
                return none();
        }
    }
    return data.size() < maximum ? partial() : none();
}

QByteArrayView textBody(QByteArrayView frame)
{
    while (!frame.isEmpty() && isLineEnd(frame.back()))
        frame.chop(1);
    return frame.isEmpty() ? frame : frame.chopped(1);
}

QString printableText(QByteArrayView bytes, qsizetype maximum)
{
    QString text;
    text.reserve(std::min(bytes.size(), maximum));
    for (const char c : bytes.first(std::min(bytes.size(), maximum)))
        text.append(isPrintable(c) ? QLatin1Char(c) : QLatin1Char('.'));
    return text;
}

QByteArrayView field(QByteArrayView body, int index)
{
    qsizetype start = 0;
    for (int i = 0; i < index; ++i) {
        const qsizetype comma = body.indexOf(',', start);
        if (comma < 0)
            return {};
        start = comma + 1;
    }
    const qsizetype comma = body.indexOf(',', start);
    return body.sliced(start, (comma < 0 ? body.size() : comma) - start);
}

} // namespace Framing
