#include "positionscsv.h"

#include "positiontext.h"

#include <QDir>

#include <array>

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

} // namespace

const QByteArray &LineWriter::Cell::of(const QString &value)
{
    if (value.constData() != text.constData() || value.size() != text.size() || cell.isNull()) {
        text = value;
        cell = PositionsCsv::cell(value.toUtf8());
    }
    return cell;
}

void LineWriter::append(QByteArray &out, const PositionRow &row)
{
    const PositionRecord &record = row.record;
    const QByteArray &peer = m_peer.of(row.peer), &device = m_device.of(row.device), &message = m_message.of(row.message);
    {
        using PositionText::Writer;
        Writer line(out, peer.size() + device.size() + message.size() + 2 * Writer::TimeRoom + 8 * Writer::NumberRoom);
        if (row.number != 0)
            line.integer(row.number);
        line.put(',');
        if (row.timeUs >= 0)
            line.captureTime(row.timeUs);
        line.put(',');
        line.put(peer);
        line.put(',');
        line.put(device);
        line.put(',');
        static const std::array names = [] {
            std::array<QByteArray, std::size(AllTrackerProtocols)> all;
            for (const TrackerProtocol protocol : AllTrackerProtocols)
                all[std::size_t(protocol)] = protocolName(protocol).toLatin1();
            return all;
        }();
        line.put(names[std::size_t(row.protocol)]);
        line.put(',');
        line.put(message);
        line.put(',');
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
    }
    const QByteArrayView text = record.fields.text();
    if (text.contains(',') || text.contains('"'))
        out.append(cell(record.fields.joined(';')));
    else
        record.fields.appendJoined(out, ';');
    out.append("\r\n");
}

void appendLine(QByteArray &out, const PositionRow &row)
{
    LineWriter().append(out, row);
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
        m_writer.append(m_lines, row);
    m_file.write(m_lines);
}
