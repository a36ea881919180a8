#ifndef GPSA_POSITIONCELLS_H
#define GPSA_POSITIONCELLS_H

#include "positionrecorder.h"

#include <QString>
#include <QStringList>

// The table of decoded positions as the operator reads it, in the window's positions table and on
// the live page: its columns, their headings, and the text of each cell as positions.csv writes
// the value (empty where the protocol lacks it; the fields joined by spaces).
namespace PositionCells {

enum Column { Number, Time, Device, Protocol, Message, FixTime, Valid, Latitude, Longitude, Altitude, Speed,
              Course, Satellites, Fields, ColumnCount };

[[nodiscard]] const QStringList &headings();
[[nodiscard]] QString text(const PositionRow &row, int column);

} // namespace PositionCells

#endif
