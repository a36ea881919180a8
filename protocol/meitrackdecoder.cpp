// Meitrack trackers (MEITRACK GPRS Protocol, section "Tracker command AAA: GPRS data report"):
// "$$<data identifier><length>,<IMEI>,AAA,<event code>,<latitude>,<longitude>,<yymmddhhmmss>,
// <A|V>,<satellites>,<GSM signal>,<speed km/h>,<course>,<HDOP>,<altitude m>,<mileage m>,
// <run time s>,<MCC|MNC|LAC|cell id>,<IO state>,<analog inputs>,...*<checksum>\r\n": latitude
// and longitude in decimal degrees (south and west negative), the time in UTC. Other commands
// are the device's answers to the server's: their name and the rest of the text.

#include "decoding.h"

namespace Decoding {

void decodeMeitrack(const TrackerFrame &frame, DecodedFrame &out)
{
    // Everything before the '*', its checksum and CR LF.
    FrameReader whole(frame.bytes);
    FrameReader body(whole.bytes(whole.remaining() - 5));
    body.skipFields(2); // "$$<identifier><length>" and the IMEI
    const QByteArrayView command = body.field();
    if (command == "CCC" || command == "CCE")
        fail(QStringLiteral("no layout known for Meitrack binary report %1").arg(QString::fromLatin1(command)));
    if (command != "AAA") {
        out.fields.add("command", command);
        out.fields.add("response", body.rest());
        return;
    }
    const QByteArrayView event = body.field();
    const QByteArrayView latitude = body.field(), longitude = body.field();
    const QByteArrayView stamp = body.field(), validity = body.field();
    const QByteArrayView satellites = body.field(), gsm = body.field();
    const QByteArrayView speed = body.field(), course = body.field(), hdop = body.field();
    const QByteArrayView altitude = body.field(), mileage = body.field(), runTime = body.field();
    PositionRecord &record = out.addRecord();
    if (stamp.size() != 12)
        fail(QStringLiteral("time '%1' is no yymmddhhmmss").arg(QString::fromLatin1(stamp)));
    record.fixTimeMs = dateAndTime(stamp.first(6), stamp.sliced(6), true);
    record.valid = validity == "A";
    record.latitude = requiredNumber(latitude, "latitude");
    record.longitude = requiredNumber(longitude, "longitude");
    record.satellites = count(satellites, "satellites", 99);
    record.speedKmh = number(speed, "speed");
    record.courseDeg = number(course, "course");
    record.altitudeM = number(altitude, "altitude");
    FieldList &fields = record.fields;
    fields.add("event", event);
    fields.add("gsm", gsm);
    fields.add("hdop", hdop);
    fields.add("mileage", mileage);
    fields.add("runtime", runTime);
    if (body.hasField())
        fields.add("cell", body.field());
    if (body.hasField())
        fields.add("io", body.field());
}

} // namespace Decoding
