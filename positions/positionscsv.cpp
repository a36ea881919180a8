#include "positionscsv.h"

#include "positiontext.h"

#include <QDir>

namespace PositionsCsv {

namespace {

void appendCell(QByteArray &out, QByteArrayView value)
{
    const bool quoted = value.contains(',') || value.contains('"') || value.contains('\r') || value.contains('\n');
    if (!quoted) {
        out.append(value);
        return;
    }
    out.append('"');
    for (const char c : value) {
        if (c == '"')
            out.append('"');
        out.append(c);
    }
    out.append('"');
}

template <typename T, typename Append>
void appendOptional(QByteArray &out, const std::optional<T> &value, Append append)
{
    out.append(',');
    if (value)
        append(out, *value);
}

} // namespace

void appendLine(QByteArray &out, const PositionRow &row)
{
    if (row.number != 0)
        out.append(QByteArray::number(row.number));
    out.append(',');
    if (row.timeUs >= 0)
        PositionText::appendCaptureTime(out, row.timeUs);
    out.append(',');
    appendCell(out, row.peer.toUtf8());
    out.append(',');
    appendCell(out, row.device.toUtf8());
    out.append(',').append(protocolName(row.protocol).toLatin1()).append(',');
    appendCell(out, row.message.toUtf8());
    const PositionRecord &record = row.record;
    appendOptional(out, record.fixTimeMs, PositionText::appendFixTime);
    out.append(record.valid ? ",1" : ",0");
    appendOptional(out, record.latitude, PositionText::appendCoordinate);
    appendOptional(out, record.longitude, PositionText::appendCoordinate);
    appendOptional(out, record.altitudeM, PositionText::appendDecimal);
    appendOptional(out, record.speedKmh, PositionText::appendDecimal);
    appendOptional(out, record.courseDeg, PositionText::appendDecimal);
    appendOptional(out, record.satellites, [](QByteArray &text, int count) { text.append(QByteArray::number(count)); });
    out.append(',');
    appendCell(out, record.fields.joined(';'));
    out.append("\r\n");
}

} // namespace PositionsCsv

PositionsCsvFile::PositionsCsvFile(const QString &folder) : m_file(QDir(folder).filePath(FileName))
{
    if (m_file.wasEmpty())
        m_file.write(PositionsCsv::Header.toByteArray());
}

void PositionsCsvFile::record(std::span<const PositionRow> rows)
{
    m_lines.resize(0);
    for (const PositionRow &row : rows)
        PositionsCsv::appendLine(m_lines, row);
    m_file.write(m_lines);
}
