#include "framedecoder.h"

#include "civildate.h"
#include "decoding.h"
#include "hexdigits.h"
#include "positiontext.h"

#include <charconv>
#include <cmath>

void FieldList::makeRoom(qsizetype most)
{
    QByteArray text(std::max<qsizetype>(2 * (m_size + most), 64), Qt::Uninitialized);
    std::memcpy(text.data(), m_text.constData(), std::size_t(m_size));
    m_text = std::move(text);
}

void FieldList::add(std::string_view name, QByteArrayView value)
{
    char *at = startPair(name, value.size());
    for (const char c : value) {
        *at++ = c >= 0x20 && c <= 0x7E ? c : '.';
        m_commaOrQuote = m_commaOrQuote || c == ',' || c == '"';
    }
    endPair(at);
}

void FieldList::add(std::string_view name, qint64 value)
{
    char *at = startPair(name, 20);
    endPair(std::to_chars(at, at + 20, value).ptr);
}

void FieldList::addUnsigned(std::string_view name, quint64 value)
{
    char *at = startPair(name, 20);
    endPair(std::to_chars(at, at + 20, value).ptr);
}

void FieldList::addDecimal(std::string_view name, double value)
{
    QByteArray text;
    PositionText::appendDecimal(text, value);
    add(name, text);
}

void FieldList::addHex(std::string_view name, quint64 value, int digits)
{
    int width = std::max(digits, 1);
    while (width < 16 && value >> (4 * width) != 0)
        ++width;
    char *at = startPair(name, 2 + width);
    *at++ = '0';
    *at++ = 'x';
    for (int shift = 4 * (width - 1); shift >= 0; shift -= 4)
        *at++ = Hex::Digits[(value >> shift) & 15];
    endPair(at);
}

QByteArray FieldList::joined(char separator) const
{
    QByteArray out;
    appendJoined(out, separator);
    return out;
}

void FieldList::appendJoined(QByteArray &out, char separator) const
{
    PositionText::Writer(out, m_size).fields(*this, separator);
}

QByteArrayView FieldList::value(std::string_view name) const
{
    const QByteArrayView all = text();
    for (qsizetype start = 0; start < all.size();) {
        qsizetype end = all.indexOf(Separator, start);
        end = end < 0 ? all.size() : end;
        const QByteArrayView pair = all.sliced(start, end - start);
        if (pair.startsWith(QByteArrayView(name.data(), qsizetype(name.size()))) &&
            pair.size() > qsizetype(name.size()) && pair[qsizetype(name.size())] == '=')
            return pair.sliced(qsizetype(name.size()) + 1);
        start = end + 1;
    }
    return {};
}

void DecodedFrame::clear()
{
    fields.clear();
    reason.clear();
    m_count = 0;
}

PositionRecord &DecodedFrame::addRecord()
{
    if (m_count == m_records.size())
        m_records.emplace_back();
    PositionRecord &record = m_records[m_count++];
    FieldList fields = std::move(record.fields);
    fields.clear();
    record = PositionRecord{};
    record.fields = std::move(fields);
    return record;
}

void DecodedFrame::fail(const QString &why)
{
    clear();
    // A reason may quote the frame: its control characters would break the line it goes into.
    reason = why;
    for (QChar &c : reason)
        c = c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F) ? QLatin1Char('.') : c;
}

void decodeFrame(const TrackerFrame &frame, DecodedFrame &out)
{
    out.clear();
    if (!frame.intact()) {
        out.fail(QStringLiteral("not intact"));
        return;
    }
    try {
        switch (frame.protocol) {
        case TrackerProtocol::Teltonika:
            Decoding::decodeTeltonika(frame, out);
            break;
        case TrackerProtocol::GT06:
            Decoding::decodeGt06(frame, out);
            break;
        case TrackerProtocol::H02:
            Decoding::decodeH02(frame, out);
            break;
        case TrackerProtocol::Meitrack:
            Decoding::decodeMeitrack(frame, out);
            break;
        case TrackerProtocol::TK103:
            Decoding::decodeTk103(frame, out);
            break;
        case TrackerProtocol::Queclink:
            Decoding::decodeQueclink(frame, out);
            break;
        case TrackerProtocol::NMEA:
            Decoding::decodeNmea(frame, out);
            break;
        }
        // A position off the globe is no position.
        for (const PositionRecord &record : out.records()) {
            if (std::abs(record.latitude.value_or(0)) > 90 || std::abs(record.longitude.value_or(0)) > 180)
                Decoding::fail(QStringLiteral("position %1,%2 off the globe")
                                   .arg(*record.latitude, 0, 'f', 7)
                                   .arg(*record.longitude, 0, 'f', 7));
        }
    } catch (const FrameReader::CutShort &) {
        out.fail(QStringLiteral("cut short"));
    } catch (const Decoding::Failure &failure) {
        out.fail(failure.reason);
    }
}

namespace Decoding {

void fail(const QString &reason)
{
    throw Failure{reason};
}

std::optional<double> number(QByteArrayView text, const char *what)
{
    if (text.isEmpty())
        return std::nullopt;
    const char *begin = text.data() + (text.front() == '+' ? 1 : 0);
    double value = 0;
    const auto [end, error] = std::from_chars(begin, text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        fail(QStringLiteral("%1 '%2' is no number").arg(QLatin1StringView(what), QString::fromLatin1(text)));
    return value;
}

double requiredNumber(QByteArrayView text, const char *what)
{
    const std::optional<double> value = number(text, what);
    if (!value)
        fail(QStringLiteral("%1 missing").arg(QLatin1StringView(what)));
    return *value;
}

std::optional<int> count(QByteArrayView text, const char *what, int most)
{
    const std::optional<double> value = number(text, what);
    if (value && (*value < 0 || *value > most || *value != std::trunc(*value)))
        fail(QStringLiteral("%1 '%2' is no count").arg(QLatin1StringView(what), QString::fromLatin1(text)));
    return value ? std::optional<int>(int(*value)) : std::nullopt;
}

int digitsAt(QByteArrayView text, qsizetype from, int count)
{
    if (from < 0 || from + count > text.size())
        return -1;
    int value = 0;
    for (const char c : text.sliced(from, count)) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<double> degreesMinutes(QByteArrayView value, QByteArrayView hemisphere, const char *what)
{
    if (value.isEmpty())
        return std::nullopt;
    const double raw = requiredNumber(value, what);
    const double degrees = std::trunc(raw / 100);
    const double minutes = raw - degrees * 100;
    const bool negative = hemisphere == "S" || hemisphere == "W";
    if (!negative && hemisphere != "N" && hemisphere != "E")
        fail(QStringLiteral("%1 hemisphere '%2' is none of N, S, E, W")
                 .arg(QLatin1StringView(what), QString::fromLatin1(hemisphere)));
    if (raw < 0 || minutes >= 60)
        fail(QStringLiteral("%1 '%2' is no ddmm.mmmm").arg(QLatin1StringView(what), QString::fromLatin1(value)));
    const double result = degrees + minutes / 60;
    return negative ? -result : result;
}

void readLatitudeLongitude(FrameReader &body, PositionRecord &record)
{
    const QByteArrayView latitude = body.field(), north = body.field();
    const QByteArrayView longitude = body.field(), east = body.field();
    record.latitude = degreesMinutes(latitude, north, "latitude");
    record.longitude = degreesMinutes(longitude, east, "longitude");
}

void readRmcFix(FrameReader &body, PositionRecord &record)
{
    record.valid = body.field() == "A";
    readLatitudeLongitude(body, record);
    if (const std::optional<double> knots = number(body.field(), "speed"))
        record.speedKmh = *knots * KmhPerKnot;
}

qint64 utcMs(int year, int month, int day, int hour, int minute, int second, int ms)
{
    static constexpr int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    if (month < 1 || month > 12 || day < 1 || day > monthDays[month - 1] || (month == 2 && day == 29 && !leap) ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60)
        fail(QStringLiteral("no such date and time: %1-%2-%3 %4:%5:%6")
                 .arg(year)
                 .arg(month, 2, 10, QLatin1Char('0'))
                 .arg(day, 2, 10, QLatin1Char('0'))
                 .arg(hour, 2, 10, QLatin1Char('0'))
                 .arg(minute, 2, 10, QLatin1Char('0'))
                 .arg(second, 2, 10, QLatin1Char('0')));
    return CivilDate::daysSince1970(year, month, day) * MsPerDay + ((hour * 60 + minute) * 60 + second) * 1000LL + ms;
}

qint64 timeOfDayMs(QByteArrayView text)
{
    const int hour = digitsAt(text, 0, 2), minute = digitsAt(text, 2, 2), second = digitsAt(text, 4, 2);
    if (hour < 0 || minute < 0 || second < 0 || hour > 23 || minute > 59 || second > 60)
        return -1;
    int ms = 0;
    if (text.size() > 6) {
        // A fraction of any length; milliseconds are kept.
        if (text[6] != '.' || text.size() == 7)
            return -1;
        for (qsizetype i = 7, scale = 100; i < text.size(); ++i, scale /= 10) {
            if (text[i] < '0' || text[i] > '9')
                return -1;
            ms += int(scale) * (text[i] - '0');
        }
    }
    return ((hour * 60 + minute) * 60 + second) * 1000LL + ms;
}

std::optional<qint64> dateAndTime(QByteArrayView date, QByteArrayView time, bool yearFirst)
{
    if (date.isEmpty() || time.isEmpty())
        return std::nullopt;
    const qint64 ofDay = timeOfDayMs(time);
    const int first = digitsAt(date, 0, 2), month = digitsAt(date, 2, 2), last = digitsAt(date, 4, 2);
    if (ofDay < 0 || date.size() != 6 || first < 0 || month < 0 || last < 0)
        fail(QStringLiteral("date '%1' or time '%2' unreadable").arg(QString::fromLatin1(date), QString::fromLatin1(time)));
    return utcMs(fullYear(yearFirst ? first : last), month, yearFirst ? last : first, 0, 0, 0) + ofDay;
}

} // namespace Decoding
