#ifndef GPSA_CHECKSUMS_H
#define GPSA_CHECKSUMS_H

#include <QByteArrayView>

#include <cstdint>

// CRC-16/IBM, also called CRC-16/ARC: reflected polynomial 0x8005, initial value 0, no final
// XOR. "123456789" gives 0xBB3D. Teltonika's AVL and Codec 12 frames carry it.
[[nodiscard]] std::uint16_t crc16Ibm(QByteArrayView bytes);

// CRC-16/X-25, the CRC-ITU of GT06 (Concox) frames: reflected polynomial 0x1021, initial
// value 0xFFFF, final XOR 0xFFFF. "123456789" gives 0x906E.
[[nodiscard]] std::uint16_t crc16X25(QByteArrayView bytes);

// NMEA 0183: the XOR of the given characters, which are those between '$' and '*'.
[[nodiscard]] std::uint8_t nmeaChecksum(QByteArrayView bytes);

// Meitrack: the sum of the given bytes modulo 256; a frame sums everything from "$$" up to
// and including the '*'.
[[nodiscard]] std::uint8_t meitrackChecksum(QByteArrayView bytes);

#endif
