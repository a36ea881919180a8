#ifndef GPSA_DECODING_H
#define GPSA_DECODING_H

// Inside the protocol library: each protocol's decoder and the helpers they share.

#include "framereader.h"
#include "positionrecord.h"
#include "trackerframe.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace Decoding {

// Thrown by a decoder for content it cannot read; its caller makes it the frame's reason.
struct Failure
{
    QString reason;
};
[[noreturn]] void fail(const QString &reason);

// Each fills `out` (empty on entry) from an intact frame of its protocol; throws Failure or
// FrameReader::CutShort.
void decodeTeltonika(const TrackerFrame &frame, DecodedFrame &out);
void decodeGt06(const TrackerFrame &frame, DecodedFrame &out);
void decodeH02(const TrackerFrame &frame, DecodedFrame &out);
void decodeMeitrack(const TrackerFrame &frame, DecodedFrame &out);
void decodeTk103(const TrackerFrame &frame, DecodedFrame &out);
void decodeQueclink(const TrackerFrame &frame, DecodedFrame &out);
void decodeNmea(const TrackerFrame &frame, DecodedFrame &out);

inline constexpr double KmhPerKnot = 1.852;

// A decimal number with an optional sign and fraction; nothing for an empty text, Failure
// naming `what` for anything else.
[[nodiscard]] std::optional<double> number(QByteArrayView text, const char *what);
// The same, required.
[[nodiscard]] double requiredNumber(QByteArrayView text, const char *what);
// A whole number from 0 to `most`; nothing for an empty text, Failure for anything else.
[[nodiscard]] std::optional<int> count(QByteArrayView text, const char *what, int most);
// The value of `count` decimal digits at `from`, or -1.
[[nodiscard]] int digitsAt(QByteArrayView text, qsizetype from, int count);
// Degrees and minutes, "ddmm.mmmm" or "dddmm.mmmm", with the hemisphere letter N, S, E or W:
// decimal degrees, south and west negative; nothing when the value is empty.
[[nodiscard]] std::optional<double> degreesMinutes(QByteArrayView value, QByteArrayView hemisphere,
                                                   const char *what);
// "<ddmm.mm>,<N|S>,<dddmm.mm>,<E|W>" into the record's latitude and longitude.
void readLatitudeLongitude(FrameReader &body, PositionRecord &record);
// "<A|V>,<ddmm.mm>,<N|S>,<dddmm.mm>,<E|W>,<speed in knots>", as NMEA's RMC lays them out after
// its time of day, and H02 and TK103 after theirs.
void readRmcFix(FrameReader &body, PositionRecord &record);
// Milliseconds since 1970 of a UTC date and time; Failure for a date or time that does not exist.
[[nodiscard]] qint64 utcMs(int year, int month, int day, int hour, int minute, int second, int ms = 0);
// "hhmmss" or "hhmmss.sss": milliseconds into the day; -1 when it is not such a time.
[[nodiscard]] qint64 timeOfDayMs(QByteArrayView text);
// "ddmmyy" (or "yymmdd" when yearFirst) and "hhmmss[.sss]" as a fix time; nothing when either is
// empty, Failure when either is no date or time.
[[nodiscard]] std::optional<qint64> dateAndTime(QByteArrayView date, QByteArrayView time, bool yearFirst = false);
inline constexpr qint64 MsPerDay = 86'400'000;
// A two-digit year in the window that GPS receivers use, 1980 to 2079.
[[nodiscard]] constexpr int fullYear(int twoDigits)
{
    return twoDigits < 80 ? 2000 + twoDigits : 1900 + twoDigits;
}

} // namespace Decoding

#endif
