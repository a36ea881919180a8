#ifndef GPSA_POSITIONTEXT_H
#define GPSA_POSITIONTEXT_H

#include "positionrecord.h"

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstring>
#include <limits>

// Decoded frames as text (UTF-8), written straight into byte arrays: a live capture writes a
// line for every record of thousands of frames a second.
namespace PositionText {

// Writes into the end of a byte array through a plain pointer, after making room for at most
// `most` bytes at once (reserve() makes more); the array ends where the writing did once the
// writer goes. Appending piece by piece through QByteArray took 20 000 instructions a Teltonika
// record's pane line, this 800.
class Writer final
{
public:
    explicit Writer(QByteArray &out, qsizetype most = 0);
    ~Writer() { m_out.resize(m_at - m_out.data()); }
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    // Room for `most` bytes more than written so far: what is written next must fit in it.
    void reserve(qsizetype most)
    {
        if (m_end - m_at < most)
            grow(most);
    }

    void put(char c) { *m_at++ = c; }
    void put(QByteArrayView text)
    {
        std::memcpy(m_at, text.data(), std::size_t(text.size()));
        m_at += text.size();
    }
    void integer(qint64 value);
    // Decimal degrees with 7 decimals: "54.6676016", "-8.5750650".
    void coordinate(double degrees);
    // A measure with at most 3 decimals and no trailing zeros: "138", "41.485", "0.9".
    void measure(double value);
    // "2019-06-10T10:04:46Z", with ".294" before the Z when the milliseconds are not zero.
    void fixTime(qint64 ms);
    // "2026-12-07T03:09:25.123456Z".
    void captureTime(qint64 us);
    // The pairs joined by `separator`, in FieldList::text().size() bytes.
    void fields(const FieldList &fields, char separator);

    // The most bytes each writes.
    static constexpr qsizetype NumberRoom = 32;
    static constexpr qsizetype TimeRoom = 40;

private:
    void grow(qsizetype most);
    // "2019-06-10T10:04:46" of a time in ms since 1970; returns the milliseconds of its second.
    int dateTime(qint64 ms);

    QByteArray &m_out;
    char *m_at;
    char *m_end;
    // The date of the last time written, "2019-06-10T", kept for the next of the same day: the
    // records of a chunk mostly share theirs. Working it out each time took 100 instructions more.
    qint64 m_day = std::numeric_limits<qint64>::min();
    std::array<char, 11> m_date{};
};

// "2019-06-10T10:04:46Z", with ".294" before the Z when the milliseconds are not zero.
void appendFixTime(QByteArray &out, qint64 ms);
// "2026-12-07T03:09:25.123456Z", as the session index writes its times.
void appendCaptureTime(QByteArray &out, qint64 us);
// Decimal degrees with 7 decimals: "54.6676016", "-8.5750650".
void appendCoordinate(QByteArray &out, double degrees);
// A measure with at most 3 decimals and no trailing zeros: "138", "41.485", "0.9".
void appendDecimal(QByteArray &out, double value);

// The most bytes writePositionLine() writes.
[[nodiscard]] qsizetype positionLineRoom(QByteArrayView protocol, QByteArrayView device, const PositionRecord &record);
// What a record says, for its pane line: "Teltonika 356307042441013 2019-06-10T10:04:46Z valid
// 54.6676016,25.2562916 alt 138 m 0 km/h 0° 6 sats io21=3 io1=1". What the record lacks is left
// out, the device too when there is none.
void appendPositionLine(QByteArray &out, QByteArrayView protocol, QByteArrayView device,
                        const PositionRecord &record);
// The same through a writer, which has made positionLineRoom() for it.
void writePositionLine(Writer &out, QByteArrayView protocol, QByteArrayView device, const PositionRecord &record);
// What a frame without records says: "GT06 123456789012345 login imei=123456789012345", or
// "Teltonika 356307042441013 AVL not decoded: record 3 of 4 cut short".
void appendFrameLine(QByteArray &out, QByteArrayView protocol, QByteArrayView device, QByteArrayView kind,
                     const DecodedFrame &frame);
// The same through a writer, which makes room for it.
void writeFrameLine(Writer &out, QByteArrayView protocol, QByteArrayView device, QByteArrayView kind,
                    const DecodedFrame &frame);

} // namespace PositionText

#endif
