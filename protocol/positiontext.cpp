#include "positiontext.h"

#include "civildate.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace PositionText {

namespace {

constexpr qint64 MsPerDay = 86'400'000;

// "00" to "99": two digits at a time halve the divisions. The helpers below are local so that
// they are inlined (a library built position-independent calls its exported functions).
constexpr std::array<char, 200> DigitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[std::size_t(2 * i)] = char('0' + i / 10);
        pairs[std::size_t(2 * i + 1)] = char('0' + i % 10);
    }
    return pairs;
}();

// Two digits of a value below 100.
char *pair(char *at, unsigned value)
{
    std::memcpy(at, &DigitPairs[2 * value], 2);
    return at + 2;
}

// The `Width` digits of a value below 10^Width, with leading zeros.
template <int Width>
char *digits(char *at, unsigned value)
{
    for (int left = Width; left >= 2; left -= 2) {
        pair(at + left - 2, value % 100);
        value /= 100;
    }
    if constexpr (Width % 2 == 1)
        at[0] = char('0' + value);
    return at + Width;
}

// value * 10^Decimals rounded, with the decimal point put back; the trailing zeros of the
// fraction dropped when `Trim`.
template <int Decimals, bool Trim>
char *fixed(char *at, double value)
{
    constexpr unsigned scale = [] {
        unsigned power = 1;
        for (int i = 0; i < Decimals; ++i)
            power *= 10;
        return power;
    }();
    const double scaled = value * double(scale);
    if (!(std::abs(scaled) <= 9e15)) { // infinite or not a number too
        std::memcpy(at, "nan", 3);
        return at + 3;
    }
    // Rounded half away from zero as std::round does, without its call: below 2^53 the
    // truncation and the rest are exact.
    qint64 units = qint64(scaled);
    const double rest = scaled - double(units);
    units += rest >= 0.5 ? 1 : rest <= -0.5 ? -1 : 0;
    if (units < 0)
        *at++ = '-';
    const quint64 magnitude = quint64(units < 0 ? -units : units);
    at = std::to_chars(at, at + Writer::NumberRoom, magnitude / scale).ptr;
    const auto fraction = unsigned(magnitude % scale);
    if constexpr (Trim) {
        if (fraction == 0)
            return at;
        *at++ = '.';
        at = digits<Decimals>(at, fraction);
        while (at[-1] == '0')
            --at;
        return at;
    } else {
        *at++ = '.';
        return digits<Decimals>(at, fraction);
    }
}

// "2019-06-10T" of a day count since 1970.
char *date(char *at, qint64 days)
{
    const CivilDate::Date civil = CivilDate::dateOf(days);
    const auto year = unsigned(std::clamp<qint64>(civil.year, 0, 9999));
    at = pair(pair(at, year / 100), year % 100);
    *at++ = '-';
    at = pair(at, unsigned(civil.month));
    *at++ = '-';
    at = pair(at, unsigned(civil.day));
    *at++ = 'T';
    return at;
}

} // namespace

Writer::Writer(QByteArray &out, qsizetype most) : m_out(out)
{
    const qsizetype start = out.size();
    out.resize(start + most);
    m_at = out.data() + start;
    m_end = out.data() + out.size();
}

void Writer::grow(qsizetype most)
{
    const qsizetype written = m_at - m_out.data();
    // All the room the array has, so that the next lines need no call; it grows by half or more.
    m_out.resize(std::max(written + most, m_out.capacity()));
    m_at = m_out.data() + written;
    m_end = m_out.data() + m_out.size();
}

void Writer::integer(qint64 value)
{
    m_at = std::to_chars(m_at, m_at + NumberRoom, value).ptr;
}

void Writer::coordinate(double degrees)
{
    m_at = fixed<7, false>(m_at, degrees);
}

void Writer::measure(double value)
{
    // A whole value (most altitudes, speeds, courses) as an integer: 20 instructions less.
    if (std::abs(value) < 1e12 && double(qint64(value)) == value)
        integer(qint64(value));
    else
        m_at = fixed<3, true>(m_at, value);
}

int Writer::dateTime(qint64 ms)
{
    qint64 days = ms / MsPerDay;
    qint64 ofDay = ms % MsPerDay;
    if (ofDay < 0) {
        ofDay += MsPerDay;
        --days;
    }
    if (days != m_day) {
        date(m_date.data(), days);
        m_day = days;
    }
    std::memcpy(m_at, m_date.data(), m_date.size());
    m_at += m_date.size();
    const auto seconds = unsigned(ofDay / 1000);
    m_at = pair(m_at, seconds / 3600);
    put(':');
    m_at = pair(m_at, seconds / 60 % 60);
    put(':');
    m_at = pair(m_at, seconds % 60);
    return int(ofDay % 1000);
}

void Writer::fixTime(qint64 ms)
{
    const int millis = dateTime(ms);
    if (millis != 0) {
        put('.');
        m_at = digits<3>(m_at, unsigned(millis));
    }
    put('Z');
}

void Writer::captureTime(qint64 us)
{
    const qint64 ms = us >= 0 ? us / 1000 : (us - 999) / 1000;
    const int millis = dateTime(ms);
    put('.');
    m_at = digits<6>(m_at, unsigned(millis * 1000 + (us - ms * 1000)));
    put('Z');
}

// Eight bytes at a time: 140 instructions for the 30-odd bytes of a Teltonika record's fields,
// 350 byte by byte.
void Writer::fields(const FieldList &fields, char separator)
{
    constexpr quint64 Ones = 0x0101'0101'0101'0101;
    constexpr quint64 Separators = Ones * quint8(FieldList::Separator);
    const quint64 swap = Ones * quint8(FieldList::Separator ^ separator);
    const char *from = fields.text().data();
    const char *const end = from + fields.text().size();
    for (; end - from >= 8; from += 8, m_at += 8) {
        quint64 word = 0;
        std::memcpy(&word, from, 8);
        // The top bit of each byte that is the separator, and of no other byte.
        const quint64 x = word ^ Separators;
        const quint64 matches = ~(((x & Ones * 0x7F) + Ones * 0x7F) | x | Ones * 0x7F);
        word ^= (matches >> 7) * 0xFF & swap;
        std::memcpy(m_at, &word, 8);
    }
    for (; from != end; ++from)
        put(*from == FieldList::Separator ? separator : *from);
}

void appendFixTime(QByteArray &out, qint64 ms)
{
    Writer(out, Writer::TimeRoom).fixTime(ms);
}

void appendCaptureTime(QByteArray &out, qint64 us)
{
    Writer(out, Writer::TimeRoom).captureTime(us);
}

void appendCoordinate(QByteArray &out, double degrees)
{
    Writer(out, Writer::NumberRoom).coordinate(degrees);
}

void appendDecimal(QByteArray &out, double value)
{
    Writer(out, Writer::NumberRoom).measure(value);
}

qsizetype positionLineRoom(QByteArrayView protocol, QByteArrayView device, const PositionRecord &record)
{
    return protocol.size() + device.size() + 8 * Writer::NumberRoom + Writer::TimeRoom + record.fields.text().size();
}

void appendPositionLine(QByteArray &out, QByteArrayView protocol, QByteArrayView device, const PositionRecord &record)
{
    Writer line(out, positionLineRoom(protocol, device, record));
    writePositionLine(line, protocol, device, record);
}

void writePositionLine(Writer &line, QByteArrayView protocol, QByteArrayView device, const PositionRecord &record)
{
    line.put(protocol);
    if (!device.isEmpty()) {
        line.put(' ');
        line.put(device);
    }
    if (record.fixTimeMs) {
        line.put(' ');
        line.fixTime(*record.fixTimeMs);
    }
    line.put(record.valid ? QByteArrayView(" valid") : QByteArrayView(" invalid"));
    if (record.latitude && record.longitude) {
        line.put(' ');
        line.coordinate(*record.latitude);
        line.put(',');
        line.coordinate(*record.longitude);
    }
    const auto measure = [&line](const std::optional<double> &value, QByteArrayView before, QByteArrayView after) {
        if (!value)
            return;
        line.put(before);
        line.measure(*value);
        line.put(after);
    };
    measure(record.altitudeM, " alt ", " m");
    measure(record.speedKmh, " ", " km/h");
    measure(record.courseDeg, " ", "\xC2\xB0"); // the degree sign
    if (record.satellites) {
        line.put(' ');
        line.integer(*record.satellites);
        line.put(" sats");
    }
    if (!record.fields.isEmpty()) {
        line.put(' ');
        line.fields(record.fields, ' ');
    }
}

void appendFrameLine(QByteArray &out, QByteArrayView protocol, QByteArrayView device, QByteArrayView kind,
                     const DecodedFrame &frame)
{
    Writer line(out);
    writeFrameLine(line, protocol, device, kind, frame);
}

void writeFrameLine(Writer &line, QByteArrayView protocol, QByteArrayView device, QByteArrayView kind,
                    const DecodedFrame &frame)
{
    const QByteArray reason = frame.reason.toUtf8();
    line.reserve(protocol.size() + device.size() + kind.size() + reason.size() + frame.fields.text().size() + 20);
    line.put(protocol);
    if (!device.isEmpty()) {
        line.put(' ');
        line.put(device);
    }
    line.put(' ');
    line.put(kind);
    if (!reason.isEmpty()) {
        line.put(" not decoded: ");
        line.put(reason);
        return;
    }
    if (!frame.fields.isEmpty()) {
        line.put(' ');
        line.fields(frame.fields, ' ');
    }
}

} // namespace PositionText
