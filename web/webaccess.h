#ifndef GPSA_WEBACCESS_H
#define GPSA_WEBACCESS_H

#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include <optional>

// Where the live web view listens and the token that every request to it needs.
struct WebSettings
{
    QHostAddress address{QHostAddress::LocalHost};
    quint16 port = 0;
    // Empty: one is made at the start.
    QString token;
};

namespace WebAccess {

// "[ADDRESS:]PORT" (an IPv6 address in brackets): the address 127.0.0.1 unless given. Nothing,
// with the reason in error, for a malformed text.
[[nodiscard]] std::optional<WebSettings> parseAddress(const QString &text, QString *error);
// Why a token given on the command line cannot be used; empty when it can. A token goes into a
// URL as it is: 16 to 256 letters, digits and "-._~".
[[nodiscard]] QString tokenProblem(const QString &token);
// A new token of 192 bits from the system's random source, URL-safe.
[[nodiscard]] QString makeToken();
// Whether a token presented equals the expected one, in a time that depends on neither.
[[nodiscard]] bool sameToken(QByteArrayView presented, QByteArrayView expected);

} // namespace WebAccess

#endif
