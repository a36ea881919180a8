#include "checksums.h"

#include <array>

namespace {

// The table of a reflected CRC-16: the remainder of each byte value, shifted out low bit first.
constexpr std::array<std::uint16_t, 256> reflectedTable(std::uint16_t reflectedPolynomial)
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        std::uint16_t remainder = std::uint16_t(value);
        for (int bit = 0; bit < 8; ++bit)
            remainder = (remainder & 1) ? std::uint16_t((remainder >> 1) ^ reflectedPolynomial)
                                        : std::uint16_t(remainder >> 1);
        table[value] = remainder;
    }
    return table;
}

// 0xA001 and 0x8408 are 0x8005 and 0x1021 with their bits in reverse order.
constexpr auto IbmTable = reflectedTable(0xA001);
constexpr auto X25Table = reflectedTable(0x8408);

std::uint16_t reflectedCrc(const std::array<std::uint16_t, 256> &table, std::uint16_t crc,
                           QByteArrayView bytes)
{
    for (const char byte : bytes)
        crc = std::uint16_t((crc >> 8) ^ table[(crc ^ std::uint8_t(byte)) & 0xFF]);
    return crc;
}

} // namespace

std::uint16_t crc16Ibm(QByteArrayView bytes)
{
    return reflectedCrc(IbmTable, 0, bytes);
}

std::uint16_t crc16X25(QByteArrayView bytes)
{
    return reflectedCrc(X25Table, 0xFFFF, bytes) ^ 0xFFFF;
}

std::uint8_t nmeaChecksum(QByteArrayView bytes)
{
    std::uint8_t sum = 0;
    for (const char byte : bytes)
        sum ^= std::uint8_t(byte);
    return sum;
}

std::uint8_t meitrackChecksum(QByteArrayView bytes)
{
    unsigned sum = 0;
    for (const char byte : bytes)
        sum += std::uint8_t(byte);
    return std::uint8_t(sum);
}
