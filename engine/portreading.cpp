#include "portreading.h"

#include "hexdigits.h"
#include "platformerror.h"

#include <cfenv>
#include <cmath>
#include <limits>

namespace {

double readRadix(const QString &text, int start, int radix)
{
    double value = 0;
    for (int i = start; i < text.size(); ++i) {
        const int digit = Hex::digitValue(text.at(i).unicode());
        if (digit < 0 || digit >= radix)
            break;
        value = value * radix + digit;
    }
    // Like a decimal number, one too large for a double is refused rather than read as infinite.
    if (!std::isfinite(value))
        throw PlatformError(ErrorNumber::Overflow, QStringLiteral("Overflow"));
    return value;
}

} // namespace

double readNumber(const QString &text)
{
    QString s;
    s.reserve(text.size());
    for (const QChar c : text) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n'))
            s.append(c);
    }

    if (s.size() >= 2 && s.at(0) == QLatin1Char('&')) {
        const QChar kind = s.at(1).toUpper();
        if (kind == QLatin1Char('H'))
            return readRadix(s, 2, 16);
        if (kind == QLatin1Char('O'))
            return readRadix(s, 2, 8);
        return 0;
    }

    auto isDigit = [&](int i) { return i < s.size() && s.at(i) >= QLatin1Char('0') && s.at(i) <= QLatin1Char('9'); };
    int i = 0;
    if (i < s.size() && (s.at(i) == QLatin1Char('+') || s.at(i) == QLatin1Char('-')))
        ++i;
    const int mantissaStart = i;
    while (isDigit(i))
        ++i;
    bool digits = i > mantissaStart;
    if (i < s.size() && s.at(i) == QLatin1Char('.')) {
        const int fractionStart = ++i;
        while (isDigit(i))
            ++i;
        digits = digits || i > fractionStart;
    }
    if (!digits)
        return 0;
    int end = i;
    if (i < s.size() && (s.at(i).toUpper() == QLatin1Char('E') || s.at(i).toUpper() == QLatin1Char('D'))) {
        int j = i + 1;
        if (j < s.size() && (s.at(j) == QLatin1Char('+') || s.at(j) == QLatin1Char('-')))
            ++j;
        const int exponentStart = j;
        while (isDigit(j))
            ++j;
        if (j > exponentStart)
            end = j;
    }
    QString number = s.left(end);
    number.replace(QLatin1Char('d'), QLatin1Char('e')).replace(QLatin1Char('D'), QLatin1Char('e'));
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (ok)
        return value;
    // Out of a double's range: a magnitude too small reads as zero, one too large is refused.
    bool mantissaOk = false;
    const double mantissa = number.left(i).toDouble(&mantissaOk);
    const double exponent = end > i ? number.mid(i + 1).toDouble() : 0;
    if (mantissaOk && (mantissa == 0 || std::log10(std::fabs(mantissa)) + exponent < 0))
        return 0;
    throw PlatformError(ErrorNumber::Overflow, QStringLiteral("Overflow"));
}

qint32 readPortNumber(const QString &text)
{
    const double value = readNumber(text);
    const int previous = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(previous);
    if (!(rounded >= double(std::numeric_limits<qint32>::min()) &&
          rounded <= double(std::numeric_limits<qint32>::max())))
        throw PlatformError(ErrorNumber::Overflow, QStringLiteral("Overflow"));
    return qint32(rounded);
}
