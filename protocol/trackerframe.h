#ifndef GPSA_TRACKERFRAME_H
#define GPSA_TRACKERFRAME_H

#include "trackerprotocol.h"

#include <QByteArrayView>
#include <QString>

// One frame of a tracker's byte stream, as FrameSplitter found it.
struct TrackerFrame
{
    TrackerFrame() = default;
    TrackerFrame(TrackerProtocol protocol, QByteArrayView bytes)
        : protocol(protocol)
        , bytes(bytes)
    {
    }

    TrackerProtocol protocol = TrackerProtocol::NMEA;
    // The frame's bytes exactly as they arrived, where they lie in the bytes that the splitter's
    // result holds: valid while that result (or a copy of it) is neither emptied nor gone.
    QByteArrayView bytes;
    // What the frame is: "IMEI", "AVL", "login", "heartbeat", "location", "alarm", "status",
    // "response", "command", "message", "ping"; for NMEA the sentence's address ("GPRMC").
    QString kind;
    // The protocol's own name of the message where it is worth showing beside the kind: the
    // Queclink report ("GTFRI"), the Meitrack command ("AAA"), the H02 type ("V1"), the TK103
    // keyword ("help me"), a GT06 protocol number without a kind ("0x94"), the Teltonika codec
    // ("codec 12") other than codec 8. Printable ASCII only.
    QString message;
    // The device identifier the frame carries: the IMEI, or the H02 device id; empty when none.
    QString deviceId;
    // False when the frame's checksum or CRC does not match its bytes.
    bool checksumOk = true;
    // Teltonika: false when the two record counts of the packet differ.
    bool countsAgree = true;
    // Teltonika AVL packets: the record count.
    int records = 0;
    // The frame came in a datagram of its own (UDP), which for Teltonika frames it differently.
    bool datagram = false;

    // A whole frame that a server would accept: its checksum and counts agree.
    [[nodiscard]] bool intact() const { return checksumOk && countsAgree; }

    // A short line for the session index: "GT06 login", "Teltonika AVL 4 records",
    // "Teltonika IMEI", "NMEA GPRMC", "Queclink location (GTFRI)".
    [[nodiscard]] QString summary() const;
};

#endif
