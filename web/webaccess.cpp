#include "webaccess.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <array>

namespace WebAccess {

std::optional<WebSettings> parseAddress(const QString &text, QString *error)
{
    static const QRegularExpression form(QStringLiteral(R"(^(?:(\[[0-9A-Fa-f:.]+\]|[0-9.]+):)?(\d{1,5})$)"));
    const QRegularExpressionMatch match = form.match(text);
    bool number = false;
    const uint port = match.hasMatch() ? match.captured(2).toUInt(&number) : 0;
    if (!number || port > 65535) {
        *error = QStringLiteral("expected [ADDRESS:]PORT, such as 8080 or 0.0.0.0:8080, not \"%1\"").arg(text);
        return std::nullopt;
    }
    WebSettings settings;
    settings.port = quint16(port);
    if (QString address = match.captured(1); !address.isEmpty()) {
        if (address.startsWith(QLatin1Char('[')))
            address = address.mid(1, address.size() - 2);
        if (!settings.address.setAddress(address)) {
            *error = QStringLiteral("\"%1\" is not an IP address").arg(address);
            return std::nullopt;
        }
    }
    return settings;
}

QString tokenProblem(const QString &token)
{
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9._~-]{16,256}$"));
    if (form.match(token).hasMatch())
        return {};
    return QStringLiteral("a token is 16 to 256 letters, digits and \"-._~\"");
}

QString makeToken()
{
    std::array<quint32, 6> words{};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray bytes(reinterpret_cast<const char *>(words.data()), qsizetype(sizeof words));
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

bool sameToken(QByteArrayView presented, QByteArrayView expected)
{
    // Digests of equal length compared without an early exit: neither the position of the
    // first difference nor the presented length shows in the time taken.
    const QByteArray a = QCryptographicHash::hash(presented, QCryptographicHash::Sha256);
    const QByteArray b = QCryptographicHash::hash(expected, QCryptographicHash::Sha256);
    unsigned difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= unsigned(quint8(a[i]) ^ quint8(b[i]));
    return difference == 0 && !expected.isEmpty();
}

} // namespace WebAccess
