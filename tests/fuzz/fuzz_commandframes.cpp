// The command frame builders: any payload builds or is refused with a reason, never both;
// a built frame's lengths and checksums agree with its payload (the CRCs checked against
// plain bitwise ones), and the frame splitter reads a binary frame back as one intact frame.

#include "commandframe.h"
#include "framesplitter.h"
#include "fuzzinput.h"

namespace {

// CRC-16 one bit at a time, reflected: the definition the table-driven CRCs must agree with.
quint16 bitwiseCrc(QByteArrayView bytes, quint16 reflectedPolynomial, quint16 crc, quint16 finalXor)
{
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ reflectedPolynomial) : quint16(crc >> 1);
    }
    return crc ^ finalXor;
}

quint32 bigEndian(QByteArrayView bytes, qsizetype at)
{
    return quint32(quint8(bytes[at])) << 24 | quint32(quint8(bytes[at + 1])) << 16 |
           quint32(quint8(bytes[at + 2])) << 8 | quint8(bytes[at + 3]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    static const CommandFrameKind kinds[] = {CommandFrameKind::Codec12, CommandFrameKind::GT06,
                                             CommandFrameKind::NMEA};
    const CommandFrameKind kind = kinds[data[0] % 3];
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
        require(kind == CommandFrameKind::NMEA, "only NMEA refuses characters");
        bool unsupported = false;
        for (const char c : text)
            unsupported = unsupported || c == '$' || c == '*' || quint8(c) < 0x20 || quint8(c) > 0x7E;
        require(unsupported, "NMEA refuses only characters it cannot carry");
        return 0;
    }

    const QByteArray &bytes = frame.bytes;
    switch (kind) {
    case CommandFrameKind::Codec12: {
        require(bytes.size() == payload.size() + 20, "codec 12: twenty bytes around the payload");
        const QByteArrayView packetData = QByteArrayView(bytes).sliced(8, bytes.size() - 12);
        require(bigEndian(bytes, 0) == 0 && bigEndian(bytes, 4) == quint32(packetData.size()),
                "codec 12: data length");
        require(bigEndian(bytes, 11) == quint32(payload.size()) &&
                    bytes.sliced(15, payload.size()) == payload,
                "codec 12: the payload and its length");
        require(bigEndian(bytes, bytes.size() - 4) == bitwiseCrc(packetData, 0xA001, 0, 0),
                "codec 12: CRC-16/IBM");
        break;
    }
    case CommandFrameKind::GT06:
        require(quint8(bytes[2]) == bytes.size() - 5 && quint8(bytes[4]) == payload.size() + 4,
                "gt06: lengths");
        require(bytes.sliced(9, payload.size()) == payload, "gt06: the payload");
        require((quint8(bytes[bytes.size() - 4]) << 8 | quint8(bytes[bytes.size() - 3])) ==
                    bitwiseCrc(QByteArrayView(bytes).sliced(2, bytes.size() - 6), 0x8408, 0xFFFF, 0xFFFF),
                "gt06: CRC-ITU");
        break;
    case CommandFrameKind::NMEA: {
        quint8 sum = 0;
        for (const char c : text)
            sum ^= quint8(c);
        const QByteArray checksum = QByteArray::number(sum, 16).toUpper().rightJustified(2, '0');
        require(bytes == '$' + text.toByteArray() + '*' + checksum + "\r\n",
                "nmea: the sentence and its XOR");
        break;
    }
    }
    // The splitter reads a Codec 12 or GT06 frame back.
    if (kind != CommandFrameKind::NMEA) {
        const TrackerProtocol protocol =
            kind == CommandFrameKind::GT06 ? TrackerProtocol::GT06 : TrackerProtocol::Teltonika;
        const FrameSplitter::Result result = FrameSplitter(ProtocolChoice::only(protocol)).feed(bytes);
        require(result.frames.size() == 1 && result.frames.first().bytes == bytes &&
                    result.frames.first().intact(),
                "the splitter reads the frame back intact");
    }
    return 0;
}
