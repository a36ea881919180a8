// Queclink trackers (Queclink "@Track Air Interface Protocol" of the GL200, GL300 and GV300
// families, section "Position related report", +RESP:GTFRI): "+RESP:<report>,<protocol version>,
// <IMEI>,<device name>,...,<number>,{<GPS accuracy>,<speed km/h>,<azimuth>,<altitude m>,
// <longitude>,<latitude>,<GPS UTC time yyyymmddhhmmss>,<MCC>,<MNC>,<LAC>,<cell id>,<reserved>}
// x number,...,<send time>,<count number>$". What stands between the device name and the number
// differs between models, so the first position is found by its shape: a 14-digit time after
// two decimal coordinates. GPS accuracy 0 means no fix: the last known position is repeated.
// +BUFF reports are the same, buffered; +ACK frames acknowledge the server's commands.

#include "decoding.h"
#include "framing.h"

#include <QList>

#include <cmath>

namespace Decoding {

namespace {

constexpr qsizetype BlockFields = 12;

bool isTime(QByteArrayView field)
{
    return field.size() == 14 && digitsAt(field, 0, 7) >= 0 && digitsAt(field, 7, 7) >= 0;
}

bool isCoordinate(QByteArrayView field, double limit)
{
    bool ok = false;
    const double value = field.toDouble(&ok);
    return ok && field.contains('.') && std::abs(value) <= limit;
}

// The index of the first position's GPS time; -1 when the report holds none.
qsizetype firstTime(const QList<QByteArrayView> &fields)
{
    for (qsizetype i = 8; i < fields.size(); ++i) {
        if (isTime(fields[i]) && isCoordinate(fields[i - 1], 90) && isCoordinate(fields[i - 2], 180))
            return i;
    }
    return -1;
}

qint64 reportTime(QByteArrayView field)
{
    return utcMs(digitsAt(field, 0, 4), digitsAt(field, 4, 2), digitsAt(field, 6, 2), digitsAt(field, 8, 2),
                 digitsAt(field, 10, 2), digitsAt(field, 12, 2));
}

void readPosition(const QList<QByteArrayView> &fields, qsizetype at, PositionRecord &record)
{
    const std::optional<double> accuracy = number(fields[at - 6], "GPS accuracy");
    record.valid = accuracy && *accuracy > 0;
    record.speedKmh = number(fields[at - 5], "speed");
    record.courseDeg = number(fields[at - 4], "azimuth");
    record.altitudeM = number(fields[at - 3], "altitude");
    record.longitude = requiredNumber(fields[at - 2], "longitude");
    record.latitude = requiredNumber(fields[at - 1], "latitude");
    record.fixTimeMs = reportTime(fields[at]);
    FieldList &out = record.fields;
    out.add("accuracy", fields[at - 6]);
    for (const auto &[name, offset] : {std::pair{"mcc", 1}, {"mnc", 2}, {"lac", 3}, {"cid", 4}}) {
        if (!fields[at + offset].isEmpty())
            out.add(name, fields[at + offset]);
    }
}

} // namespace

void decodeQueclink(const TrackerFrame &frame, DecodedFrame &out)
{
    FrameReader body(Framing::textBody(frame.bytes));
    QList<QByteArrayView> fields;
    while (body.hasField())
        fields.append(body.field());
    const QByteArrayView head = fields.constFirst();
    const QByteArrayView report = head.sliced(head.indexOf(':') + 1);
    const QByteArrayView countNumber = fields.constLast();
    const qsizetype first = head.startsWith("+ACK:") ? -1 : firstTime(fields);
    if (first < 0) {
        out.fields.add("report", report);
        out.fields.add("count", countNumber);
        return;
    }
    const int positions = count(fields[first - 7], "number of positions", int(fields.size() / BlockFields)).value_or(0);
    if (positions < 1)
        fail(QStringLiteral("no number of positions"));
    for (int i = 0; i < positions; ++i) {
        const qsizetype at = first + i * BlockFields;
        // Each block up to its cell id.
        if (at + 4 >= fields.size() || !isTime(fields[at]))
            fail(QStringLiteral("position %1 of %2 cut short").arg(i + 1).arg(positions));
        PositionRecord &record = out.addRecord();
        readPosition(fields, at, record);
        record.fields.add("report", report);
        record.fields.add("count", countNumber);
    }
}

} // namespace Decoding
