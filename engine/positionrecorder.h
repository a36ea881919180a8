#ifndef GPSA_POSITIONRECORDER_H
#define GPSA_POSITIONRECORDER_H

#include "positionrecord.h"
#include "trackerprotocol.h"

#include <QString>

#include <span>

// One decoded position with what the capture knows of it: a line of positions.csv, a row of
// the window's positions.
struct PositionRow
{
    qint32 number = 0;  // the capture number of the chunk that completed the frame; 0: none
    qint64 timeUs = -1; // when that chunk was read, UTC microseconds since 1970; -1: unknown
    QString peer;       // the tracker, "127.0.0.1:40312"
    QString device;     // its identifier (IMEI, H02 id); empty when none is known
    TrackerProtocol protocol = TrackerProtocol::NMEA;
    QString message;    // the frame's kind: "AVL", "location", "alarm", "GPRMC"
    PositionRecord record;
};

// Takes the decoded positions of a run, a chunk's at a time; a failure to record throws a
// PlatformError, which ends the run like a failed capture file.
class PositionRecorder
{
public:
    virtual ~PositionRecorder() = default;
    virtual void record(std::span<const PositionRow> rows) = 0;
};

#endif
