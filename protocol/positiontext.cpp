#include "positiontext.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace PositionText {

namespace {

constexpr qint64 MsPerDay = 86'400'000;

void appendDigits(QByteArray &out, qint64 value, int width)
{
    char digits[20];
    for (int i = width - 1; i >= 0; --i) {
        digits[i] = char('0' + value % 10);
        value /= 10;
    }
    out.append(digits, width);
}

void appendInteger(QByteArray &out, qint64 value)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end - digits);
}

// "2019-06-10T10:04:46" of a time in ms since 1970; returns the milliseconds left over.
int appendDateTime(QByteArray &out, qint64 ms)
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
    const qint64 day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const qint64 month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    const qint64 year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    appendDigits(out, std::clamp<qint64>(year, 0, 9999), 4);
    out.append('-');
    appendDigits(out, month, 2);
    out.append('-');
    appendDigits(out, day, 2);
    out.append('T');
    const qint64 seconds = ofDay / 1000;
    appendDigits(out, seconds / 3600, 2);
    out.append(':');
    appendDigits(out, seconds / 60 % 60, 2);
    out.append(':');
    appendDigits(out, seconds % 60, 2);
    return int(ofDay % 1000);
}

// value * 10^decimals, rounded, written with the decimal point put back; trailing zeros of the
// fraction dropped when `trim`.
void appendFixed(QByteArray &out, double value, int decimals, bool trim)
{
    static constexpr double scales[] = {1, 10, 100, 1000, 1e4, 1e5, 1e6, 1e7};
    const double scaled = std::round(value * scales[decimals]);
    if (!std::isfinite(scaled) || std::abs(scaled) > 9e15) {
        out.append("nan");
        return;
    }
    qint64 units = qint64(scaled);
    if (units < 0) {
        out.append('-');
        units = -units;
    }
    const qint64 whole = units / qint64(scales[decimals]);
    qint64 fraction = units % qint64(scales[decimals]);
    appendInteger(out, whole);
    if (trim) {
        while (decimals > 0 && fraction % 10 == 0) {
            fraction /= 10;
            --decimals;
        }
    }
    if (decimals == 0)
        return;
    out.append('.');
    appendDigits(out, fraction, decimals);
}

} // namespace

void appendFixTime(QByteArray &out, qint64 ms)
{
    const int rest = appendDateTime(out, ms);
    if (rest != 0) {
        out.append('.');
        appendDigits(out, rest, 3);
    }
    out.append('Z');
}

void appendCaptureTime(QByteArray &out, qint64 us)
{
    const qint64 ms = us >= 0 ? us / 1000 : (us - 999) / 1000;
    const int millis = appendDateTime(out, ms);
    out.append('.');
    appendDigits(out, millis * 1000LL + (us - ms * 1000), 6);
    out.append('Z');
}

void appendCoordinate(QByteArray &out, double degrees)
{
    appendFixed(out, degrees, 7, false);
}

void appendDecimal(QByteArray &out, double value)
{
    appendFixed(out, value, 3, true);
}

void appendPositionLine(QByteArray &out, QByteArrayView protocol, QByteArrayView device, const PositionRecord &record)
{
    out.append(protocol);
    if (!device.isEmpty())
        out.append(' ').append(device);
    if (record.fixTimeMs) {
        out.append(' ');
        appendFixTime(out, *record.fixTimeMs);
    }
    out.append(record.valid ? " valid" : " invalid");
    if (record.latitude && record.longitude) {
        out.append(' ');
        appendCoordinate(out, *record.latitude);
        out.append(',');
        appendCoordinate(out, *record.longitude);
    }
    if (record.altitudeM) {
        out.append(" alt ");
        appendDecimal(out, *record.altitudeM);
        out.append(" m");
    }
    if (record.speedKmh) {
        out.append(' ');
        appendDecimal(out, *record.speedKmh);
        out.append(" km/h");
    }
    if (record.courseDeg) {
        out.append(' ');
        appendDecimal(out, *record.courseDeg);
        out.append("\xC2\xB0"); // the degree sign
    }
    if (record.satellites) {
        out.append(' ');
        appendInteger(out, *record.satellites);
        out.append(" sats");
    }
    if (!record.fields.isEmpty()) {
        out.append(' ');
        record.fields.appendJoined(out, ' ');
    }
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
