#ifndef GPSA_CAPTUREFILES_H
#define GPSA_CAPTUREFILES_H

#include <QByteArray>
#include <QString>

// Names and contents of the capture files, the two renderings of a chunk, and the lines
// that a capture puts at the top of the data pane.
namespace CaptureFiles {

// Tags of the data-pane lines; each is 14 characters long, bar the illegal-element tag.
inline constexpr QLatin1StringView InAsciiTag{":  IN (ASCII):"};
inline constexpr QLatin1StringView InHexTag{":  IN (HEXAD):"};
inline constexpr QLatin1StringView ReturnAsciiTag{":  -> (ASCII):"};
inline constexpr QLatin1StringView ReturnHexTag{":  -> (HEXAD):"};
inline constexpr QLatin1StringView CommandAsciiTag{": OUT (ASCII):"};
inline constexpr QLatin1StringView CommandHexTag{": OUT (HEXAD):"};
inline constexpr QLatin1StringView IllegalElementTag{": ILLEGAL (HEXAD):"};
// An acknowledgement sent in a server's place, and a mirror server's answer.
inline constexpr QLatin1StringView AckAsciiTag{": ACK (ASCII):"};
inline constexpr QLatin1StringView AckHexTag{": ACK (HEXAD):"};
inline constexpr QLatin1StringView MirrorAsciiTag{":  M> (ASCII):"};
inline constexpr QLatin1StringView MirrorHexTag{":  M> (HEXAD):"};

inline constexpr QLatin1StringView LineEnd{"\r\n"};

static_assert(InAsciiTag.size() == 14 && InHexTag.size() == 14 && ReturnAsciiTag.size() == 14 &&
              ReturnHexTag.size() == 14 && CommandAsciiTag.size() == 14 && CommandHexTag.size() == 14 &&
              MirrorAsciiTag.size() == 14 && MirrorHexTag.size() == 14);

// A tag that names the tracker before its rendering, ":  IN 127.0.0.1:40312 (ASCII):", or
// before the colon of a tag without one, ": POS 127.0.0.1:40312: ".
[[nodiscard]] QByteArray trackerTag(QLatin1StringView tag, const QString &tracker);

// The capture number with leading zeros to at least four digits, never cut: 0001, 10000.
[[nodiscard]] QString captureNumber(qint32 counter);

// x<number>_<port>.dat, x<number>_<port>.log and x<number>_err<port>.log, without a folder.
[[nodiscard]] QString dataFile(qint32 counter, int port);
[[nodiscard]] QString lengthLog(qint32 counter, int port);
[[nodiscard]] QString errorLog(qint32 counter, int port);

// folder/x<number>_<port>.dat and folder/x<number>_<port>.log.
[[nodiscard]] QString dataFileName(const QString &folder, qint32 counter, int port);
[[nodiscard]] QString lengthLogName(const QString &folder, qint32 counter, int port);
// folder/x<number>_err<port>.log, with no underscore between "_err" and the port.
[[nodiscard]] QString errorLogName(const QString &folder, qint32 counter, int port);

// The length log's one line: a blank, the length in decimal, a blank, CR LF.
[[nodiscard]] QByteArray lengthLine(qsizetype length);

// Two characters per byte: the value in uppercase hexadecimal, right-aligned in a field of
// two, so 0x0A gives " A" and 0xFF gives "FF".
[[nodiscard]] QString hexRendering(const QByteArray &chunk);

// The chunk's characters (byte value = character code), every NUL shown as a blank.
[[nodiscard]] QString asciiRendering(const QByteArray &chunk);

// Timestamp, tag, payload and CR LF, joined with nothing between them.
[[nodiscard]] QString paneLine(const QString &timestamp, QLatin1StringView tag, const QString &payload);

// paneLine() of the chunk's ASCII and hex renderings, built in one pass into one allocation:
// a chunk of a mebibyte is not copied once more for its line.
[[nodiscard]] QString asciiLine(const QString &timestamp, QLatin1StringView tag, const QByteArray &chunk);
[[nodiscard]] QString hexLine(const QString &timestamp, QLatin1StringView tag, const QByteArray &chunk);

} // namespace CaptureFiles

#endif
