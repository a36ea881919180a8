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

using Tables = std::array<std::array<std::uint16_t, 256>, 16>;

// Slicing by sixteen: table k gives the remainder of a byte followed by k zero bytes, so that
// sixteen bytes take sixteen independent lookups instead of a chain of sixteen.
constexpr Tables slicingTables(std::uint16_t reflectedPolynomial)
{
    Tables tables{};
    tables[0] = reflectedTable(reflectedPolynomial);
    for (std::size_t k = 1; k < tables.size(); ++k)
        for (unsigned value = 0; value < 256; ++value)
            tables[k][value] = std::uint16_t((tables[k - 1][value] >> 8) ^ tables[0][tables[k - 1][value] & 0xFF]);
    return tables;
}

// 0xA001 and 0x8408 are 0x8005 and 0x1021 with their bits in reverse order.
constexpr Tables IbmTables = slicingTables(0xA001);
constexpr Tables X25Tables = slicingTables(0x8408);

std::uint16_t reflectedCrc(const Tables &t, std::uint16_t crc, QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const std::uint8_t *>(bytes.data());
    const auto *const end = p + bytes.size();
    for (; end - p >= 16; p += 16) {
        const unsigned x = crc ^ (unsigned(p[0]) | unsigned(p[1]) << 8);
        crc = std::uint16_t(t[15][x & 0xFF] ^ t[14][x >> 8] ^ t[13][p[2]] ^ t[12][p[3]] ^ t[11][p[4]] ^
                            t[10][p[5]] ^ t[9][p[6]] ^ t[8][p[7]] ^ t[7][p[8]] ^ t[6][p[9]] ^ t[5][p[10]] ^
                            t[4][p[11]] ^ t[3][p[12]] ^ t[2][p[13]] ^ t[1][p[14]] ^ t[0][p[15]]);
    }
    for (; p < end; ++p)
        crc = std::uint16_t((crc >> 8) ^ t[0][(crc ^ *p) & 0xFF]);
    return crc;
}

} // namespace

std::uint16_t crc16Ibm(QByteArrayView bytes)
{
    return reflectedCrc(IbmTables, 0, bytes);
}

std::uint16_t crc16X25(QByteArrayView bytes)
{
    return reflectedCrc(X25Tables, 0xFFFF, bytes) ^ 0xFFFF;
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
