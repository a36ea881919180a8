#ifndef GPSA_POSITIONTEXT_H
#define GPSA_POSITIONTEXT_H

#include "positionrecord.h"

#include <QByteArray>
#include <QByteArrayView>

// Decoded frames as text (UTF-8), written straight into byte arrays: a live capture writes a
// line for every record of thousands of frames a second.
namespace PositionText {

// "2019-06-10T10:04:46Z", with ".294" before the Z when the milliseconds are not zero.
void appendFixTime(QByteArray &out, qint64 ms);
// "2026-12-07T03:09:25.123456Z", as the session index writes its times.
void appendCaptureTime(QByteArray &out, qint64 us);
// Decimal degrees with 7 decimals: "54.6676016", "-8.5750650".
void appendCoordinate(QByteArray &out, double degrees);
// A measure with at most 3 decimals and no trailing zeros: "138", "41.485", "0.9".
void appendDecimal(QByteArray &out, double value);

// What a record says, for its pane line: "Teltonika 356307042441013 2019-06-10T10:04:46Z valid
// 54.6676016,25.2562916 alt 138 m 0 km/h 0° 6 sats io21=3 io1=1". What the record lacks is left
// out, the device too when there is none.
void appendPositionLine(QByteArray &out, QByteArrayView protocol, QByteArrayView device,
                        const PositionRecord &record);
// What a frame without records says: "GT06 123456789012345 login imei=123456789012345", or
// "Teltonika 356307042441013 AVL not decoded: record 3 of 4 cut short".
void appendFrameLine(QByteArray &out, QByteArrayView protocol, QByteArrayView device, QByteArrayView kind,
                     const DecodedFrame &frame);

} // namespace PositionText

#endif
