#ifndef GPSA_TRACKERSESSION_H
#define GPSA_TRACKERSESSION_H

#include "framesplitter.h"
#include "trackerlink.h"
#include "trackertable.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>

#include <chrono>
#include <memory>
#include <utility>
#include <vector>

class LiveDecoder;
class StreamSocket;

// Everything one tracker connection holds, from its accept to its end: the link to the tracker,
// its own connection to the OUT server when it has one, its copies to the mirror servers, its
// frames and their decoding, the armed command it has had, and its row of the operator's table.
// What carries the tracker's bytes is its link's affair: a session needs no TCP socket.
struct TrackerSession
{
    // Time a relay or mirror connection has, once the tracker has gone, to send what is queued.
    static constexpr std::chrono::milliseconds FinishWithin{10000};

    // slot: the tracker's endpoint, 0 for a tracker that has none; named: several trackers are
    // served at once, and the session's lines carry its address and port.
    TrackerSession(qint16 slot, std::unique_ptr<TrackerLink> link, bool named);
    // Lets its relay and mirror connections finish on their own.
    ~TrackerSession();
    TrackerSession(const TrackerSession &) = delete;
    TrackerSession &operator=(const TrackerSession &) = delete;

    // "127.0.0.1:40312"
    [[nodiscard]] const QString &peer() const { return row.peer; }
    // The tracker as the connection log names it: its address, and its port when named.
    [[nodiscard]] QString name() const { return named ? row.peer : link->peerAddress(); }
    // A pane tag as this tracker's lines carry it: the tag itself, or when named with the
    // tracker's address and port before the rendering (":  IN 127.0.0.1:40312 (ASCII):").
    [[nodiscard]] QLatin1StringView tag(QLatin1StringView tag) const;

    // A server that gets a copy of every chunk over a connection of this session; a stream
    // that is null has been dropped, and every chunk since counts as missed.
    struct Mirror
    {
        QString server; // "HOST:PORT"
        quint16 port = 0;
        StreamSocket *stream = nullptr;
        qint64 missed = 0;
    };

    const qint16 slot;
    const std::unique_ptr<TrackerLink> link;
    const bool named;
    TrackerRow row;

    std::unique_ptr<FrameSplitter> frames;
    FrameSplitter::Result split;
    bool protocolAnnounced = false;
    // Its frames decoded, while decoding is on.
    std::unique_ptr<LiveDecoder> decoder;
    // The armed command (type and text) it has had, while that stays armed for every tracker.
    QString commandHad;
    // Held until its relay catches up.
    bool held = false;
    // Its own connection to the OUT server; null when it relays over the one connection.
    StreamSocket *relay = nullptr;
    std::vector<Mirror> mirrors;

private:
    mutable std::vector<std::pair<QLatin1StringView, QByteArray>> m_tags;
};

#endif
