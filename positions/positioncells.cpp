#include "positioncells.h"

#include "positiontext.h"

namespace PositionCells {

namespace {

template <typename T, typename Append>
QString text(const std::optional<T> &value, Append append)
{
    QByteArray out;
    if (value)
        append(out, *value);
    return QString::fromLatin1(out);
}

} // namespace

const QStringList &headings()
{
    static const QStringList names{
        QStringLiteral("Number"),     QStringLiteral("Time (UTC)"), QStringLiteral("Device"),
        QStringLiteral("Protocol"),   QStringLiteral("Message"),    QStringLiteral("Fix time"),
        QStringLiteral("Fix"),        QStringLiteral("Latitude"),   QStringLiteral("Longitude"),
        QStringLiteral("Altitude m"), QStringLiteral("km/h"),       QStringLiteral("Course °"),
        QStringLiteral("Satellites"), QStringLiteral("Fields")};
    return names;
}

QString text(const PositionRow &row, int column)
{
    const PositionRecord &r = row.record;
    switch (column) {
    case Number:
        return row.number == 0 ? QString() : QString::number(row.number);
    case Time:
        return text(row.timeUs >= 0 ? std::optional(row.timeUs) : std::nullopt, PositionText::appendCaptureTime);
    case Device:
        return row.device;
    case Protocol:
        return protocolName(row.protocol);
    case Message:
        return row.message;
    case FixTime:
        return text(r.fixTimeMs, PositionText::appendFixTime);
    case Valid:
        return r.valid ? QStringLiteral("valid") : QStringLiteral("invalid");
    case Latitude:
        return text(r.latitude, PositionText::appendCoordinate);
    case Longitude:
        return text(r.longitude, PositionText::appendCoordinate);
    case Altitude:
        return text(r.altitudeM, PositionText::appendDecimal);
    case Speed:
        return text(r.speedKmh, PositionText::appendDecimal);
    case Course:
        return text(r.courseDeg, PositionText::appendDecimal);
    case Satellites:
        return r.satellites ? QString::number(*r.satellites) : QString();
    default:
        return QString::fromLatin1(r.fields.joined(' '));
    }
}

} // namespace PositionCells
