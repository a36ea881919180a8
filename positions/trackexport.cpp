#include "trackexport.h"

#include "positionscsv.h"
#include "positiontext.h"

#include <algorithm>
#include <limits>

namespace {

QByteArray csv(const QList<PositionRow> &rows)
{
    QByteArray out = PositionsCsv::Header.toByteArray();
    for (const PositionRow &row : rows)
        PositionsCsv::appendLine(out, row);
    return out;
}

void appendJsonString(QByteArray &out, const QString &text)
{
    out.append('"');
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            out.append('\\').append(c);
        else if (quint8(c) < 0x20)
            out.append(QByteArray("\\u00") + QByteArray::number(quint8(c), 16).rightJustified(2, '0'));
        else
            out.append(c);
    }
    out.append('"');
}

template <typename T, typename Append>
void appendJsonValue(QByteArray &out, const char *name, const std::optional<T> &value, Append append)
{
    out.append(",\"").append(name).append("\":");
    if (value)
        append(out, *value);
    else
        out.append("null");
}

void appendPosition(QByteArray &out, const PositionRecord &record, char separator)
{
    PositionText::appendCoordinate(out, *record.longitude);
    out.append(separator);
    PositionText::appendCoordinate(out, *record.latitude);
}

void appendFeature(QByteArray &out, const PositionRow &row)
{
    const PositionRecord &record = row.record;
    out.append("{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[");
    appendPosition(out, record, ',');
    out.append("]},\"properties\":{\"number\":").append(QByteArray::number(row.number));
    out.append(",\"time\":");
    if (row.timeUs >= 0)
        PositionText::appendCaptureTime(out.append('"'), row.timeUs), out.append('"');
    else
        out.append("null");
    const auto string = [&out](const char *name, const QString &value) {
        out.append(",\"").append(name).append("\":");
        appendJsonString(out, value);
    };
    string("peer", row.peer);
    string("device", row.device);
    string("protocol", protocolName(row.protocol));
    string("message", row.message);
    appendJsonValue(out, "fix_time", record.fixTimeMs, [](QByteArray &text, qint64 ms) {
        PositionText::appendFixTime(text.append('"'), ms);
        text.append('"');
    });
    out.append(",\"valid\":").append(record.valid ? "true" : "false");
    appendJsonValue(out, "altitude_m", record.altitudeM, PositionText::appendDecimal);
    appendJsonValue(out, "speed_kmh", record.speedKmh, PositionText::appendDecimal);
    appendJsonValue(out, "course_deg", record.courseDeg, PositionText::appendDecimal);
    appendJsonValue(out, "satellites", record.satellites,
                    [](QByteArray &text, int count) { text.append(QByteArray::number(count)); });
    string("fields", QString::fromLatin1(record.fields.joined(';')));
    out.append("}}");
}

QByteArray geoJson(const QList<PositionRow> &rows)
{
    QByteArray out = "{\"type\":\"FeatureCollection\",\"features\":[";
    const char *separator = "\n";
    for (const PositionRow &row : rows) {
        if (row.record.latitude && row.record.longitude) {
            appendFeature(out.append(separator), row);
            separator = ",\n";
        }
    }
    for (const QList<const PositionRow *> &track : tracksOf(rows)) {
        if (track.size() < 2)
            continue;
        out.append(separator).append("{\"type\":\"Feature\",\"geometry\":{\"type\":\"LineString\",\"coordinates\":[");
        for (const PositionRow *point : track)
            appendPosition(out.append(point == track.front() ? "[" : ",["), point->record, ','), out.append(']');
        out.append("]},\"properties\":{\"device\":");
        appendJsonString(out, track.front()->device);
        out.append(",\"protocol\":");
        appendJsonString(out, protocolName(track.front()->protocol));
        out.append("}}");
        separator = ",\n";
    }
    return out.append("\n]}\n");
}

QByteArray xmlEscaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

// The record's speed and course, for the text of a point.
QByteArray motionText(const PositionRecord &record)
{
    QByteArray text;
    if (record.speedKmh)
        PositionText::appendDecimal(text, *record.speedKmh), text.append(" km/h");
    if (record.courseDeg)
        PositionText::appendDecimal(text.append(text.isEmpty() ? "" : ", "), *record.courseDeg), text.append("\xC2\xB0");
    return text;
}

QByteArray gpx(const QList<PositionRow> &rows)
{
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gpx version=\"1.1\" creator=\"gps-analyzer\" "
                     "xmlns=\"http://www.topografix.com/GPX/1/1\">\n";
    for (const QList<const PositionRow *> &track : tracksOf(rows)) {
        out.append(" <trk><name>").append(xmlEscaped(track.front()->device)).append("</name><desc>");
        out.append(protocolName(track.front()->protocol).toLatin1()).append("</desc><trkseg>\n");
        for (const PositionRow *point : track) {
            const PositionRecord &record = point->record;
            out.append("  <trkpt lat=\"");
            PositionText::appendCoordinate(out, *record.latitude);
            PositionText::appendCoordinate(out.append("\" lon=\""), *record.longitude);
            out.append("\">");
            if (record.altitudeM)
                PositionText::appendDecimal(out.append("<ele>"), *record.altitudeM), out.append("</ele>");
            if (record.fixTimeMs)
                PositionText::appendFixTime(out.append("<time>"), *record.fixTimeMs), out.append("</time>");
            if (const QByteArray motion = motionText(record); !motion.isEmpty())
                out.append("<desc>").append(motion).append("</desc>");
            if (record.satellites)
                out.append("<sat>").append(QByteArray::number(*record.satellites)).append("</sat>");
            out.append("</trkpt>\n");
        }
        out.append(" </trkseg></trk>\n");
    }
    return out.append("</gpx>\n");
}

QByteArray kml(const QList<PositionRow> &rows)
{
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">"
                     "<Document><name>gps-analyzer positions</name>\n";
    for (const QList<const PositionRow *> &track : tracksOf(rows)) {
        out.append("<Placemark><name>").append(xmlEscaped(track.front()->device)).append("</name><LineString><coordinates>");
        for (const PositionRow *point : track)
            appendPosition(out.append(point == track.front() ? "" : " "), point->record, ',');
        out.append("</coordinates></LineString></Placemark>\n");
    }
    for (const PositionRow &row : rows) {
        const PositionRecord &record = row.record;
        if (!record.latitude || !record.longitude)
            continue;
        out.append("<Placemark><name>").append(xmlEscaped(row.device)).append("</name><description>");
        out.append(record.valid ? "valid" : "invalid");
        if (const QByteArray motion = motionText(record); !motion.isEmpty())
            out.append(", ").append(motion);
        out.append(' ').append(xmlEscaped(QString::fromLatin1(record.fields.joined(' '))));
        out.append("</description>");
        if (record.fixTimeMs)
            PositionText::appendFixTime(out.append("<TimeStamp><when>"), *record.fixTimeMs), out.append("</when></TimeStamp>");
        appendPosition(out.append("<Point><coordinates>"), record, ',');
        out.append("</coordinates></Point></Placemark>\n");
    }
    return out.append("</Document></kml>\n");
}

} // namespace

std::optional<TrackFormat> trackFormatFromName(QStringView name)
{
    const QStringList names = trackFormatNames();
    const qsizetype at = names.indexOf(name.toString().toLower());
    return at < 0 ? std::nullopt : std::optional<TrackFormat>(TrackFormat(at));
}

QStringList trackFormatNames()
{
    return {QStringLiteral("csv"), QStringLiteral("geojson"), QStringLiteral("gpx"), QStringLiteral("kml")};
}

QByteArray exportTrack(const QList<PositionRow> &rows, TrackFormat format)
{
    switch (format) {
    case TrackFormat::Csv:
        return csv(rows);
    case TrackFormat::GeoJson:
        return geoJson(rows);
    case TrackFormat::Gpx:
        return gpx(rows);
    case TrackFormat::Kml:
        break;
    }
    return kml(rows);
}

QList<QList<const PositionRow *>> tracksOf(const QList<PositionRow> &rows)
{
    QStringList devices;
    QList<QList<std::pair<qint64, const PositionRow *>>> tracks;
    QList<qint64> lastTime;
    for (const PositionRow &row : rows) {
        const PositionRecord &record = row.record;
        if (!record.valid || !record.latitude || !record.longitude)
            continue;
        qsizetype at = devices.indexOf(row.device);
        if (at < 0) {
            at = devices.size();
            devices.append(row.device);
            tracks.emplace_back();
            lastTime.append(std::numeric_limits<qint64>::min());
        }
        lastTime[at] = record.fixTimeMs.value_or(lastTime[at]);
        tracks[at].append({lastTime[at], &row});
    }
    QList<QList<const PositionRow *>> result;
    for (auto &track : tracks) {
        std::stable_sort(track.begin(), track.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        QList<const PositionRow *> points;
        for (const auto &[time, row] : std::as_const(track))
            points.append(row);
        result.append(points);
    }
    return result;
}
