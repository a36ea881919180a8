#ifndef GPSA_HEXDIGIT_H
#define GPSA_HEXDIGIT_H

#include <QChar>

// The value of a hexadecimal digit (0-9, a-f, A-F), or -1 for any other character.
[[nodiscard]] constexpr int hexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

#endif
