#include "checksums.h"

#include <array>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define GPSA_CLMUL_CRC 1
#endif

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

std::uint16_t tableCrc(const Tables &t, std::uint16_t crc, QByteArrayView bytes)
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

#ifdef GPSA_CLMUL_CRC
// x^n modulo the polynomial (given with its x^16 term), and a remainder with its bits reversed
// in 64, as carry-less multiplication of reflected operands wants it.
constexpr std::uint64_t reflectedPower(unsigned n, std::uint32_t polynomial)
{
    std::uint32_t remainder = 1;
    for (unsigned i = 0; i < n; ++i) {
        remainder <<= 1;
        if (remainder & 0x10000)
            remainder ^= polynomial;
    }
    std::uint64_t reflected = 0;
    for (int degree = 0; degree < 16; ++degree)
        reflected |= std::uint64_t(remainder >> degree & 1) << (63 - degree);
    return reflected;
}

// Folding by carry-less multiplication: sixteen bytes at a time are folded into the next
// sixteen (the remainder does not change modulo the polynomial), and the last sixteen are
// reduced with one more multiplication and eight table lookups. The product of two reflected
// 64-bit operands stands one bit off a reflected 128-bit one, hence x^191 and x^127 rather than
// x^192 and x^128.

// x moved ahead by the distance that `by` stands for, onto next.
__attribute__((target("pclmul,sse2"))) inline __m128i fold(__m128i x, __m128i by, __m128i next)
{
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, by, 0x00), _mm_clmulepi64_si128(x, by, 0x11)), next);
}

// Byte shuffles that move sixteen bytes by 0 to 15 places, read at an offset: 0x80 clears.
constexpr std::array<std::uint8_t, 48> ShiftTable = [] {
    std::array<std::uint8_t, 48> table{};
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = i >= 16 && i < 32 ? std::uint8_t(i - 16) : 0x80;
    return table;
}();

template <std::uint32_t Polynomial>
__attribute__((target("pclmul,ssse3"))) std::uint16_t foldedCrc(const Tables &t, std::uint16_t crc, QByteArrayView bytes)
{
    static constexpr std::uint64_t High = reflectedPower(191, Polynomial);
    static constexpr std::uint64_t Low = reflectedPower(127, Polynomial);
    static constexpr std::uint64_t High2 = reflectedPower(319, Polynomial);
    static constexpr std::uint64_t Low2 = reflectedPower(255, Polynomial);
    static constexpr std::uint64_t Last = reflectedPower(80, Polynomial) >> 47;
    const auto *p = reinterpret_cast<const std::uint8_t *>(bytes.data());
    const qsizetype size = bytes.size();
    const __m128i k = _mm_set_epi64x(qint64(Low), qint64(High));
    const auto load = [](const std::uint8_t *at) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at)); };
    // A starting value works as the same bits XORed into the first sixteen of the message.
    __m128i x = _mm_xor_si128(load(p), _mm_cvtsi32_si128(crc));
    qsizetype at = 16;
    if (size >= 64) {
        // Two independent chains, each folded 32 bytes ahead, so that one multiplication's
        // latency is spent on the other's; then the first is folded into the second.
        const __m128i k2 = _mm_set_epi64x(qint64(Low2), qint64(High2));
        __m128i y = load(p + 16);
        for (at = 32; size - at >= 32; at += 32) {
            x = fold(x, k2, load(p + at));
            y = fold(y, k2, load(p + at + 16));
        }
        x = fold(x, k, y);
    }
    for (; size - at >= 16; at += 16)
        x = fold(x, k, load(p + at));
    // Zero bytes before a message change nothing of a CRC that starts at zero: x and the rest,
    // padded in front to 32 bytes, are two blocks, and the first is folded into the second.
    // The rest is the end of the last sixteen bytes of the message.
    const qsizetype rest = size - at;
    const __m128i toFirst = load(ShiftTable.data() + rest);
    const __m128i toSecond = load(ShiftTable.data() + 16 + rest);
    const __m128i restPlaces = _mm_cmplt_epi8(toSecond, _mm_setzero_si128()); // where 0x80 clears
    const __m128i second =
        _mm_or_si128(_mm_shuffle_epi8(x, toSecond), _mm_and_si128(restPlaces, load(p + size - 16)));
    x = fold(_mm_shuffle_epi8(x, toFirst), k, second);
    // The last sixteen bytes, L then H (eight bytes each), leave the remainder of L x^80 + H x^16.
    // One multiplication makes that the remainder of ten bytes, L (x^80 mod P) + H x^16: the
    // first eight go through the tables, the last two are already reduced.
    const __m128i ten = _mm_xor_si128(_mm_clmulepi64_si128(x, _mm_cvtsi64_si128(qint64(Last)), 0x00),
                                      _mm_srli_si128(x, 8));
    const auto eight = std::uint64_t(_mm_cvtsi128_si64(ten));
    auto remainder = std::uint16_t(_mm_extract_epi16(ten, 4));
    for (int i = 0; i < 8; ++i)
        remainder ^= t[std::size_t(7 - i)][(eight >> (8 * i)) & 0xFF];
    return remainder;
}

const bool CarryLessMultiply = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
#endif

template <std::uint32_t Polynomial>
std::uint16_t reflectedCrc(const Tables &t, std::uint16_t crc, QByteArrayView bytes)
{
#ifdef GPSA_CLMUL_CRC
    if (CarryLessMultiply && bytes.size() >= 32)
        return foldedCrc<Polynomial>(t, crc, bytes);
#endif
    return tableCrc(t, crc, bytes);
}

} // namespace

std::uint16_t crc16Ibm(QByteArrayView bytes)
{
    return reflectedCrc<0x18005>(IbmTables, 0, bytes);
}

std::uint16_t crc16X25(QByteArrayView bytes)
{
    return reflectedCrc<0x11021>(X25Tables, 0xFFFF, bytes) ^ 0xFFFF;
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
