#include "httprequesthead.h"

#include <QUrl>

namespace {

bool isToken(QByteArrayView text)
{
    static constexpr QByteArrayView extra("!#$%&'*+-.^_`|~");
    for (const char c : text) {
        if (!(QChar::isLetterOrNumber(char16_t(quint8(c))) && quint8(c) < 0x80) && !extra.contains(c))
            return false;
    }
    return !text.isEmpty();
}

bool isVisible(QByteArrayView text)
{
    for (const char c : text) {
        if (quint8(c) <= 0x20 || quint8(c) == 0x7F)
            return false;
    }
    return !text.isEmpty();
}

} // namespace

std::optional<HttpRequestHead> HttpRequestHead::parse(QByteArrayView head)
{
    const QList<QByteArray> lines = head.toByteArray().split('\n');
    HttpRequestHead request;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (!line.endsWith('\r') && i + 1 < lines.size())
            return std::nullopt;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.contains('\r') || line.contains('\0'))
            return std::nullopt;
        if (i == 0) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() != 3 || !isToken(parts[0]) || !parts[1].startsWith('/') || !isVisible(parts[1]) ||
                (parts[2] != "HTTP/1.1" && parts[2] != "HTTP/1.0"))
                return std::nullopt;
            request.method = parts[0];
            const qsizetype question = parts[1].indexOf('?');
            request.path = question < 0 ? parts[1] : parts[1].left(question);
            request.query = question < 0 ? QByteArray() : parts[1].mid(question + 1);
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !isToken(QByteArrayView(line).first(colon)))
            return std::nullopt;
        request.fields.append({line.left(colon).toLower(), line.mid(colon + 1).trimmed()});
    }
    return request;
}

QByteArray HttpRequestHead::field(QByteArrayView name) const
{
    for (const auto &[key, value] : fields) {
        if (key == name)
            return value;
    }
    return {};
}

bool HttpRequestHead::hasField(QByteArrayView name) const
{
    return std::any_of(fields.begin(), fields.end(), [name](const auto &f) { return f.first == name; });
}

std::optional<QByteArray> HttpRequestHead::queryItem(QByteArrayView name) const
{
    for (const QByteArray &item : query.split('&')) {
        const qsizetype equals = item.indexOf('=');
        if (equals >= 0 && QByteArrayView(item).first(equals) == name)
            return QByteArray::fromPercentEncoding(item.mid(equals + 1).replace('+', ' '));
    }
    return std::nullopt;
}

std::optional<QByteArray> HttpRequestHead::cookie(QByteArrayView name) const
{
    for (const auto &[key, value] : fields) {
        if (key != "cookie")
            continue;
        for (const QByteArray &pair : value.split(';')) {
            const QByteArray item = pair.trimmed();
            const qsizetype equals = item.indexOf('=');
            if (equals >= 0 && QByteArrayView(item).first(equals) == name)
                return item.mid(equals + 1);
        }
    }
    return std::nullopt;
}

bool HttpRequestHead::fieldHas(QByteArrayView name, QByteArrayView token) const
{
    for (const QByteArray &part : field(name).split(',')) {
        if (part.trimmed().compare(token, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}
