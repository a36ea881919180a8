#include "positionscsv.h"

#include "positiontext.h"

#include <QDir>

namespace PositionsCsv {

namespace {

QByteArray cell(QByteArrayView value)
{
    const bool quoted = value.contains(',') || value.contains('"') || value.contains('\r') || value.contains('\n');
    if (!quoted)
        return value.toByteArray();
    QByteArray out = "\"";
    for (const char c : value)
        out.append(c == '"' ? QByteArrayView("\"\"") : QByteArrayView(&c, 1));
    return out.append('"');
}

// The same text: the same data (a chunk's rows share it), or equal.
bool same(const QString &a, const QString &b)
{
    return (a.constData() == b.constData() && a.size() == b.size()) || a == b;
}

} // namespace

const QByteArray &LineWriter::startOf(const PositionRow &row)
{
    if (m_start && m_start->number == row.number && m_start->timeUs == row.timeUs &&
        m_start->protocol == row.protocol && same(m_start->peer, row.peer) && same(m_start->device, row.device) &&
        same(m_start->message, row.message))
        return m_start->cells;
    m_start = Start{row.number, row.timeUs, row.peer, row.device, row.message, row.protocol, {}};
    QByteArray &cells = m_start->cells;
    if (row.number != 0)
        cells.setNum(row.number);
    cells.append(',');
    if (row.timeUs >= 0)
        PositionText::appendCaptureTime(cells, row.timeUs);
    cells.append(',').append(cell(row.peer.toUtf8())).append(',').append(cell(row.device.toUtf8())).append(',');
    cells.append(protocolName(row.protocol).toLatin1()).append(',').append(cell(row.message.toUtf8())).append(',');
    return cells;
}

void LineWriter::append(QByteArray &out, const PositionRow &row)
{
    PositionText::Writer line(out);
    write(line, row);
}

void LineWriter::write(PositionText::Writer &line, const PositionRow &row)
{
    using PositionText::Writer;
    const PositionRecord &record = row.record;
    const QByteArray &start = startOf(row);
    const QByteArrayView fields = record.fields.text();
    const bool quoted = record.fields.hasCommaOrQuote();
    const QByteArray quotedFields = quoted ? cell(record.fields.joined(';')) : QByteArray();
    line.reserve(start.size() + Writer::TimeRoom + 7 * Writer::NumberRoom + fields.size() + quotedFields.size());
    line.put(start);
    if (record.fixTimeMs)
        line.fixTime(*record.fixTimeMs);
    line.put(record.valid ? QByteArrayView(",1") : QByteArrayView(",0"));
    for (const auto &coordinate : {record.latitude, record.longitude}) {
        line.put(',');
        if (coordinate)
            line.coordinate(*coordinate);
    }
    for (const auto &measure : {record.altitudeM, record.speedKmh, record.courseDeg}) {
        line.put(',');
        if (measure)
            line.measure(*measure);
    }
    line.put(',');
    if (record.satellites)
        line.integer(*record.satellites);
    line.put(',');
    if (quoted)
        line.put(quotedFields);
    else
        line.fields(record.fields, ';');
    line.put("\r\n");
}

void appendLine(QByteArray &out, const PositionRow &row)
{
    LineWriter().append(out, row);
}

} // namespace PositionsCsv

PositionsCsvFile::PositionsCsvFile(const QString &folder)
{
    m_file.open(QDir(folder).filePath(FileName), OutputFile::Mode::Append);
    if (m_file.size() == 0)
        m_file.write(PositionsCsv::Header.toByteArray());
}

void PositionsCsvFile::record(std::span<const PositionRow> rows)
{
    m_lines.resize(0);
    {
        PositionText::Writer lines(m_lines);
        for (const PositionRow &row : rows)
            m_writer.write(lines, row);
    }
    m_file.write(m_lines);
}
