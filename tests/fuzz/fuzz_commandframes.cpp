// The command frame builders: any payload builds or is refused with a reason, never both;
// a built frame's lengths and checksums agree with its payload (the CRCs checked against
// plain bitwise ones), and the frame splitter reads a binary frame back as one intact frame.

#include "commandframe.h"
#include "framesplitter.h"
#include "fuzzinput.h"

#include <QtEndian>

#include <algorithm>

namespace {

// CRC-16 one bit at a time, reflected: the definition the table-driven CRCs must agree with.
quint16 bitwiseCrc(QByteArrayView bytes, quint16 reflectedPolynomial, quint16 crc)
{
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ reflectedPolynomial) : quint16(crc >> 1);
    }
    return crc;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const CommandFrameKind kind = CommandFrameKind(data[0] % 3);
    const QByteArray payload(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const CommandFrame frame = buildCommandFrame(kind, payload);
    require(frame.ok() != frame.bytes.isEmpty(), "either bytes or a reason");
    QByteArrayView text = payload;
    if (kind == CommandFrameKind::NMEA && text.startsWith('$'))
        text = text.sliced(1);
    if (text.isEmpty() || text.size() > maximumPayload(kind)) {
        require(!frame.ok(), "an empty or too long payload is refused");
        return 0;
    }
    if (!frame.ok()) {
        const auto unsupported = [](char c) {
            return c == '$' || c == '*' || quint8(c) < 0x20 || quint8(c) > 0x7E;
        };
        require(kind == CommandFrameKind::NMEA && std::any_of(text.begin(), text.end(), unsupported),
                "only NMEA refuses, and only characters it cannot carry");
        return 0;
    }

    const QByteArray &bytes = frame.bytes;
    const auto bigEndian = [&bytes](qsizetype at) { return qFromBigEndian<quint32>(bytes.constData() + at); };
    const qsizetype n = payload.size();
    switch (kind) {
    case CommandFrameKind::Codec12:
        require(bytes.size() == n + 20 && bigEndian(0) == 0 && bigEndian(4) == n + 8 && bigEndian(11) == n &&
                    bytes.sliced(15, n) == payload,
                "codec 12: the payload and the lengths");
        require(bigEndian(n + 16) == bitwiseCrc(bytes.sliced(8, n + 8), 0xA001, 0), "codec 12: CRC-16/IBM");
        break;
    case CommandFrameKind::GT06:
        require(quint8(bytes[2]) == bytes.size() - 5 && quint8(bytes[4]) == n + 4 &&
                    bytes.sliced(9, n) == payload,
                "gt06: the payload and the lengths");
        require(qFromBigEndian<quint16>(bytes.constData() + n + 11) ==
                    quint16(~bitwiseCrc(bytes.sliced(2, n + 9), 0x8408, 0xFFFF)),
                "gt06: CRC-ITU");
        break;
    case CommandFrameKind::NMEA: {
        quint8 sum = 0;
        for (const char c : text)
            sum ^= quint8(c);
        const QByteArray checksum = QByteArray::number(sum, 16).toUpper().rightJustified(2, '0');
        require(bytes == '$' + text.toByteArray() + '*' + checksum + "\r\n",
                "nmea: the sentence and its XOR");
        return 0;
    }
    }
    // The splitter reads a Codec 12 or GT06 frame back.
    const TrackerProtocol protocol =
        kind == CommandFrameKind::GT06 ? TrackerProtocol::GT06 : TrackerProtocol::Teltonika;
    const FrameSplitter::Result read = FrameSplitter(ProtocolChoice::only(protocol)).feed(bytes);
    require(read.frames.size() == 1 && read.frames.front().bytes == bytes && read.frames.front().intact(),
            "the splitter reads the frame back intact");
    return 0;
}
