#ifndef GPSA_FUZZINPUT_H
#define GPSA_FUZZINPUT_H

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Operator text from fuzz input: the first byte picks how the rest becomes text, so that
// plain Latin-1 text, UTF-8 and arbitrary UTF-16 (unpaired surrogates included) all occur.
inline QString fuzzText(const uint8_t *data, size_t size)
{
    if (size == 0)
        return {};
    const char *rest = reinterpret_cast<const char *>(data + 1);
    const qsizetype length = qsizetype(size - 1);
    switch (data[0] % 3) {
    case 0:
        return QString::fromLatin1(rest, length);
    case 1:
        return QString::fromUtf8(rest, length);
    default:
        return QString(reinterpret_cast<const QChar *>(rest), length / 2);
    }
}

// A property does not hold: say which, and stop so that the fuzzer keeps the input.
[[noreturn]] inline void propertyFails(const char *what)
{
    std::fprintf(stderr, "property does not hold: %s\n", what);
    std::abort();
}

inline void require(bool holds, const char *what)
{
    if (!holds)
        propertyFails(what);
}

#endif
