// NMEA 0183 sentences (NMEA 0183 standard, sentences RMC and GGA):
//   RMC: <hhmmss.ss>,<A|V>,<ddmm.mm>,<N|S>,<dddmm.mm>,<E|W>,<speed in knots>,<course true>,
//        <ddmmyy>,<magnetic variation>,<E|W>[,<mode>]
//   GGA: <hhmmss.ss>,<ddmm.mm>,<N|S>,<dddmm.mm>,<E|W>,<fix quality, 0 none>,<satellites in use>,
//        <HDOP>,<altitude>,M,<geoid separation>,M,<age of differential data>,<station>
// GGA carries no date, so its record has no fix time; its UTC time of day is a field. Other
// sentences give their address only.

#include "decoding.h"

namespace Decoding {

namespace {

void decodeRmc(FrameReader &body, PositionRecord &record)
{
    const QByteArrayView time = body.field();
    readRmcFix(body, record);
    record.courseDeg = number(body.field(), "course");
    record.fixTimeMs = dateAndTime(body.field(), time);
    const QByteArrayView variation = body.hasField() ? body.field() : QByteArrayView();
    const QByteArrayView side = body.hasField() ? body.field() : QByteArrayView();
    if (const std::optional<double> degrees = number(variation, "magnetic variation"))
        record.fields.addDecimal("magvar", side == "W" ? -*degrees : *degrees);
}

void decodeGga(FrameReader &body, PositionRecord &record)
{
    const QByteArrayView time = body.field();
    readLatitudeLongitude(body, record);
    const QByteArrayView quality = body.field(), satellites = body.field(), hdop = body.field();
    const QByteArrayView altitude = body.field();
    body.skipFields(); // the altitude's unit, metres
    const QByteArrayView separation = body.field();
    const std::optional<double> fix = number(quality, "fix quality");
    record.valid = fix && *fix > 0;
    record.satellites = count(satellites, "satellites", 99);
    record.altitudeM = number(altitude, "altitude");
    record.fields.add("utc", time);
    record.fields.add("quality", quality);
    record.fields.add("hdop", hdop);
    if (!separation.isEmpty())
        record.fields.add("geoid", separation);
}

} // namespace

void decodeNmea(const TrackerFrame &frame, DecodedFrame &out)
{
    // Between the '$' and the '*' with its checksum and CR LF.
    FrameReader whole(frame.bytes);
    whole.skip(1);
    FrameReader body(whole.bytes(whole.remaining() - 5));
    const QByteArrayView address = body.field();
    if (address.size() == 5 && address.endsWith("RMC"))
        return decodeRmc(body, out.addRecord());
    if (address.size() == 5 && address.endsWith("GGA"))
        return decodeGga(body, out.addRecord());
    out.fields.add("sentence", address);
}

} // namespace Decoding
