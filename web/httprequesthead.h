#ifndef GPSA_HTTPREQUESTHEAD_H
#define GPSA_HTTPREQUESTHEAD_H

#include <QByteArray>
#include <QList>

#include <optional>
#include <utility>

// The head of an HTTP/1.x request as the live view takes it: the request line and the header
// fields, without the empty line that ends them. Strict: a line that is not of the form, an
// obsolete folded line or a field name that is not a token makes the whole head malformed.
struct HttpRequestHead
{
    QByteArray method;
    QByteArray path;  // the target up to "?"
    QByteArray query; // after "?", still percent-encoded
    QList<std::pair<QByteArray, QByteArray>> fields; // names in lower case, values trimmed

    // Nothing for a malformed head.
    [[nodiscard]] static std::optional<HttpRequestHead> parse(QByteArrayView head);
    // The value of the first field of that name (lower case); empty when there is none.
    [[nodiscard]] QByteArray field(QByteArrayView name) const;
    [[nodiscard]] bool hasField(QByteArrayView name) const;
    // The value of a parameter of the query, or of a cookie; nothing when absent.
    [[nodiscard]] std::optional<QByteArray> queryItem(QByteArrayView name) const;
    [[nodiscard]] std::optional<QByteArray> cookie(QByteArrayView name) const;
    // Whether a comma-separated field holds the token, ignoring case ("Connection: keep-alive, Upgrade").
    [[nodiscard]] bool fieldHas(QByteArrayView name, QByteArrayView token) const;
};

#endif
