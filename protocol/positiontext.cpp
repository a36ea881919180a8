#include "positiontext.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace PositionText {

namespace {

constexpr qint64 MsPerDay = 86'400'000;

} // namespace

Writer::Writer(QByteArray &out, qsizetype most) : m_out(out)
{
    const qsizetype start = out.size();
    out.resize(start + most);
    m_at = out.data() + start;
}

void Writer::integer(qint64 value)
{
    m_at = std::to_chars(m_at, m_at + NumberRoom, value).ptr;
}

void Writer::digits(qint64 value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        m_at[i] = char('0' + value % 10);
        value /= 10;
    }
    m_at += width;
}

void Writer::fixed(double value, int decimals, bool trim)
{
    static constexpr qint64 scales[] = {1, 10, 100, 1000, 10'000, 100'000, 1'000'000, 10'000'000};
    const double scaled = std::round(value * double(scales[decimals]));
    if (!std::isfinite(scaled) || std::abs(scaled) > 9e15) {
        put("nan");
        return;
    }
    qint64 units = qint64(scaled);
    if (units < 0) {
        put('-');
        units = -units;
    }
    qint64 fraction = units % scales[decimals];
    integer(units / scales[decimals]);
    while (trim && decimals > 0 && fraction % 10 == 0) {
        fraction /= 10;
        --decimals;
    }
    if (decimals == 0)
        return;
    put('.');
    digits(fraction, decimals);
}

int Writer::dateTime(qint64 ms)
{
    qint64 days = ms / MsPerDay;
    qint64 ofDay = ms % MsPerDay;
    if (ofDay < 0) {
        ofDay += MsPerDay;
        --days;
    }
    // The civil date of a day count, in 400-year eras of 146097 days.
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const qint64 dayOfEra = days - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 shiftedMonth = (5 * dayOfYear + 2) / 153;
    const qint64 month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    digits(std::clamp<qint64>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0), 0, 9999), 4);
    put('-');
    digits(month, 2);
    put('-');
    digits(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1, 2);
    put('T');
    const qint64 seconds = ofDay / 1000;
    digits(seconds / 3600, 2);
    put(':');
    digits(seconds / 60 % 60, 2);
    put(':');
    digits(seconds % 60, 2);
    return int(ofDay % 1000);
}

void Writer::fixTime(qint64 ms)
{
    const int rest = dateTime(ms);
    if (rest != 0) {
        put('.');
        digits(rest, 3);
    }
    put('Z');
}

void Writer::captureTime(qint64 us)
{
    const qint64 ms = us >= 0 ? us / 1000 : (us - 999) / 1000;
    const int millis = dateTime(ms);
    put('.');
    digits(millis * 1000LL + (us - ms * 1000), 6);
    put('Z');
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
    Writer(out, Writer::NumberRoom).fixed(degrees, 7, false);
}

void appendDecimal(QByteArray &out, double value)
{
    Writer(out, Writer::NumberRoom).fixed(value, 3, true);
}

void appendPositionLine(QByteArray &out, QByteArrayView protocol, QByteArrayView device, const PositionRecord &record)
{
    {
        Writer line(out, protocol.size() + device.size() + 8 * Writer::NumberRoom + Writer::TimeRoom);
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
            line.fixed(*record.latitude, 7, false);
            line.put(',');
            line.fixed(*record.longitude, 7, false);
        }
        const auto measure = [&line](const std::optional<double> &value, QByteArrayView before, QByteArrayView after) {
            if (!value)
                return;
            line.put(before);
            line.fixed(*value, 3, true);
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
        if (!record.fields.isEmpty())
            line.put(' ');
    }
    record.fields.appendJoined(out, ' ');
}

void appendFrameLine(QByteArray &out, QByteArrayView protocol, QByteArrayView device, QByteArrayView kind,
                     const DecodedFrame &frame)
{
    out.append(protocol);
    if (!device.isEmpty())
        out.append(' ').append(device);
    out.append(' ').append(kind);
    if (!frame.reason.isEmpty()) {
        out.append(" not decoded: ").append(frame.reason.toUtf8());
        return;
    }
    if (!frame.fields.isEmpty()) {
        out.append(' ');
        frame.fields.appendJoined(out, ' ');
    }
}

} // namespace PositionText
