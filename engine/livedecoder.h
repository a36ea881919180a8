#ifndef GPSA_LIVEDECODER_H
#define GPSA_LIVEDECODER_H

#include "framedecoder.h"
#include "positionrecorder.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <span>
#include <vector>

// What one tracker connection's frames say, as they are captured: everything the decoding keeps
// from one chunk to the next (the device the connection named, the room of the decoded frames),
// in one object that lives as long as the connection.
class LiveDecoder final
{
public:
    static constexpr QByteArrayView PositionTag{": POS: "};
    static constexpr QByteArrayView FrameTag{": DEC: "};

    // named: several trackers are served at once, and the tags name this one
    // (": POS 127.0.0.1:40312: ").
    explicit LiveDecoder(QString peer, bool named = false);

    // Decodes a chunk's intact frames: each record becomes a line "<PositionTag><what it says>\r\n"
    // of lines() and a row of rows(); a frame without records but with fields or a reason becomes
    // one line with FrameTag. Both replace those of the last chunk.
    void decode(std::span<const TrackerFrame> frames, qint32 number, qint64 timeUs);
    [[nodiscard]] const QByteArray &lines() const { return m_lines; }
    [[nodiscard]] std::span<const PositionRow> rows() const { return {m_rows.data(), m_rowCount}; }

private:
    QString m_peer;
    QByteArray m_positionTag;
    QByteArray m_frameTag;
    QString m_device;
    QByteArray m_deviceText;
    QString m_kind;
    QByteArray m_kindText;
    std::array<QByteArray, std::size(AllTrackerProtocols)> m_protocolNames;
    DecodedFrame m_decoded;
    QByteArray m_lines;
    // The rows of the last chunk are its first m_rowCount; the others are kept for their room.
    std::vector<PositionRow> m_rows;
    std::size_t m_rowCount = 0;
};

#endif
