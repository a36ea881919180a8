#ifndef GPSA_POSITIONSCSV_H
#define GPSA_POSITIONSCSV_H

#include "outputfile.h"
#include "positionrecorder.h"
#include "positiontext.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>

#include <optional>

// The decoded positions as CSV (RFC 4180: CR LF line ends, a value with a comma, quote or line
// end in quotes, quotes doubled), one line per record under the header; empty cells for what the
// protocol lacks. Times are UTC ISO 8601 with Z, the capture's to the microsecond; coordinates
// have 7 decimals; the fields are the record's name=value pairs joined by ';'.
namespace PositionsCsv {

inline constexpr QByteArrayView Header{"number,time,peer,device,protocol,message,fix_time,valid,latitude,"
                                       "longitude,altitude_m,speed_kmh,course_deg,satellites,fields\r\n"};

void appendLine(QByteArray &out, const PositionRow &row);

// The same, keeping the cells that a chunk's rows share (number, time, peer, device, protocol,
// message): a line's first hundred bytes copied instead of written anew.
class LineWriter final
{
public:
    void append(QByteArray &out, const PositionRow &row);
    // The same through a writer, which makes room for it.
    void write(PositionText::Writer &out, const PositionRow &row);

private:
    // The cells before fix_time, with a comma after each, and the values they were made of.
    struct Start
    {
        qint32 number = 0;
        qint64 timeUs = -1;
        QString peer, device, message;
        TrackerProtocol protocol = TrackerProtocol::NMEA;
        QByteArray cells;
    };
    const QByteArray &startOf(const PositionRow &row);

    std::optional<Start> m_start;
};

} // namespace PositionsCsv

// positions.csv of a capture folder, open for appending for one run: created with its header
// when missing, and a later run appends to it. Each chunk's records go out in one write.
class PositionsCsvFile final : public PositionRecorder
{
public:
    static constexpr QLatin1StringView FileName{"positions.csv"};

    explicit PositionsCsvFile(const QString &folder);

    void record(std::span<const PositionRow> rows) override;

private:
    OutputFile m_file;
    PositionsCsv::LineWriter m_writer;
    QByteArray m_lines;
};

#endif
