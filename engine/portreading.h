#ifndef GPSA_PORTREADING_H
#define GPSA_PORTREADING_H

#include <QString>

// Reads a number from an operator's text the way the platform reads any number: blanks,
// tabs and line feeds are dropped wherever they stand, then the longest leading number is
// taken (sign, digits, fraction, exponent; or &H hexadecimal and &O octal); a text that does
// not begin with a number reads as 0. Throws an overflow PlatformError for a number too
// large for a double.
[[nodiscard]] double readNumber(const QString &text);

// readNumber() rounded to a whole number, a half going to the even neighbour. Throws an
// overflow PlatformError when the value lies beyond the signed 32-bit range.
[[nodiscard]] qint32 readPortNumber(const QString &text);

#endif
