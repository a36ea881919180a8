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

    explicit LiveDecoder(QString peer);

    // Decodes a chunk's intact frames: each record becomes a line "<PositionTag><what it says>\r\n"
    // in `lines` and a row in `rows`; a frame without records but with fields or a reason becomes
    // one line with FrameTag. Both are replaced; the rows of the last call are reused.
    void decode(std::span<const TrackerFrame> frames, qint32 number, qint64 timeUs, QByteArray &lines,
                std::vector<PositionRow> &rows);

private:
    QString m_peer;
    QString m_device;
    QByteArray m_deviceText;
    QString m_kind;
    QByteArray m_kindText;
    std::array<QByteArray, std::size(AllTrackerProtocols)> m_protocolNames;
    DecodedFrame m_decoded;
};

#endif
