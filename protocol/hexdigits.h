#ifndef GPSA_HEXDIGITS_H
#define GPSA_HEXDIGITS_H

#include <QByteArray>
#include <QByteArrayView>

// Hexadecimal digits as every part of the program writes and reads them: upper case when
// written, either case when read.
namespace Hex {

// The digit of each value from 0 to 15.
inline constexpr char Digits[] = "0123456789ABCDEF";

// The value of a hexadecimal digit (0-9, a-f, A-F), or -1 for any other character.
[[nodiscard]] constexpr int digitValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// The byte that two hexadecimal digits give, or -1 when either is no digit.
[[nodiscard]] constexpr int byteValue(char16_t high, char16_t low)
{
    const int h = digitValue(high);
    const int l = digitValue(low);
    return h < 0 || l < 0 ? -1 : h * 16 + l;
}

// Two digits per byte, with the separator between bytes unless it is NUL: "01,0A".
[[nodiscard]] QByteArray upper(QByteArrayView bytes, char separator = '\0');

} // namespace Hex

#endif
