// The renderings of a chunk: the hex rendering has two characters per byte and reads back
// to the same bytes; the ASCII rendering has one character per byte, the byte itself, with
// a blank for NUL; the length log's line carries the chunk's length.

#include "capturefiles.h"
#include "fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray chunk(reinterpret_cast<const char *>(data), qsizetype(size));

    const QString hex = CaptureFiles::hexRendering(chunk);
    require(hex.size() == 2 * chunk.size(), "hex: two characters per byte");
    const QLatin1StringView digits("0123456789ABCDEF");
    QByteArray readBack;
    for (qsizetype i = 0; i < hex.size(); i += 2) {
        const qsizetype high = hex[i] == QLatin1Char(' ') ? 0 : digits.indexOf(hex[i]);
        const qsizetype low = digits.indexOf(hex[i + 1]);
        require(high >= 0 && low >= 0, "hex: uppercase digits, or a blank in front of one digit");
        require(hex[i] != QLatin1Char('0'), "hex: no leading zero");
        readBack += char(high * 16 + low);
    }
    require(readBack == chunk, "hex: reads back to the chunk");

    const QString ascii = CaptureFiles::asciiRendering(chunk);
    require(ascii.size() == chunk.size(), "ASCII: one character per byte");
    for (qsizetype i = 0; i < chunk.size(); ++i) {
        const auto byte = static_cast<unsigned char>(chunk[i]);
        require(ascii[i].unicode() == (byte == 0 ? u' ' : char16_t(byte)), "ASCII: the byte itself, NUL as blank");
    }

    const QByteArray lengthLine = CaptureFiles::lengthLine(chunk.size());
    require(lengthLine == ' ' + QByteArray::number(chunk.size()) + " \r\n", "length log: blank, length, blank, CR LF");
    return 0;
}
