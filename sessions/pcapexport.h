#ifndef GPSA_PCAPEXPORT_H
#define GPSA_PCAPEXPORT_H

#include <QString>

class SessionIndex;

// Recorded sessions as a pcap file that Wireshark and tshark open (link type RAW, IPv4 or IPv6
// and TCP with correct checksums).
//
// Each tracker connection is one TCP stream between the tracker's address and port and the
// address it connected to (the connect line's note) on the IN port: the handshake at the
// connect, a segment (split at 1460 bytes) for each chunk the tracker sent, and for each
// command, ack and passed answer in the other direction, acknowledged by the receiver, and a
// FIN exchange at the disconnect or a reset by the tracker at an error. A connection still open
// at the end of the index stays open. When a run relays, the relay is one more stream, from the
// analyzer's port RelayPortBase + the run's position in the index - 1 to the OUT server: every in
// chunk to the server, every out chunk back; it opens at the run's listen line (with one session
// picked, at that session's start) and stays open, since the index does not say when the
// program ended. Packets carry the index's times.
namespace PcapExport {

inline constexpr quint16 RelayPortBase = 49152;

// session: the number of one tracker connection, from 1, or 0 for all. The file is written
// beside target under a temporary name and renamed at the end, so that a failure, which throws
// a SessionError, leaves nothing behind.
void write(const SessionIndex &index, int session, const QString &target);

} // namespace PcapExport

#endif
