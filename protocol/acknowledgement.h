#ifndef GPSA_ACKNOWLEDGEMENT_H
#define GPSA_ACKNOWLEDGEMENT_H

#include "trackerframe.h"

#include <QByteArray>
#include <span>

// The bytes a tracking server answers the frame with, as the device maker documents them;
// empty when the protocol defines no answer for the frame, and for a frame that is not
// intact (a bad checksum gets no answer, so that the device sends it again).
//   Teltonika: the IMEI gets 01, an AVL packet its record count as 4 bytes, big endian.
//   GT06: login, heartbeat, location and alarm get a packet with their protocol number and serial.
//   H02: the heartbeat "*HQ,<id>,HTBT,...#" gets "*HQ,<id>,HTBT#".
//   TK103: the login gets LOAD, the IMEI heartbeat ON, the "help me" alarm "**,imei:<imei>,E;".
//   Queclink: the heartbeat gets "+SACK:GTHBD,<version>,<count>$", a report "+SACK:<count>$".
//   Meitrack and NMEA: none.
[[nodiscard]] QByteArray acknowledgement(const TrackerFrame &frame);

// The answers to a chunk's frames, one after the other in the frames' order, as they go out in
// one write; how many frames they answer, and the first of those (-1: none).
struct Acknowledgements
{
    QByteArray bytes;
    int answered = 0;
    qsizetype first = -1;
};
[[nodiscard]] Acknowledgements acknowledgements(std::span<const TrackerFrame> frames);

#endif
