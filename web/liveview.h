#ifndef GPSA_LIVEVIEW_H
#define GPSA_LIVEVIEW_H

#include "livepane.h"
#include "livepositions.h"
#include "livetrackers.h"
#include "panewatcher.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <utility>
#include <vector>

class CaptureEngine;

// What the live page shows: its parts (the two panes, and the tables of the features that run:
// the connected trackers once the program serves several at once, the decoded positions once it
// decodes) and the messages that keep a viewer up to date.
//
// The changes of every part go out as one message per part: at the end of the engine's handler
// that made them when the last messages went out BatchInterval ago or longer, otherwise once that
// interval has passed. A chunk's two lines therefore reach the viewers together, at once when
// trackers are quiet, and a flood costs the capture a few messages a second. Nothing is rendered
// while nobody watches.
class LiveView final : public QObject, public PaneWatcher
{
    Q_OBJECT

public:
    explicit LiveView(QObject *parent = nullptr);
    ~LiveView() override;

    [[nodiscard]] LivePane &log() { return m_log; }
    [[nodiscard]] LivePane &data() { return m_data; }
    [[nodiscard]] LivePositions &positions() { return m_positions; }
    [[nodiscard]] LiveTrackers &trackers() { return m_trackers; }
    // Shows a part after those shown already; viewers that watch learn of it at once.
    void showPart(LivePart &part);
    // Shows a part once `condition` holds: at once, or at the end of the first of the engine's
    // handlers after which it does.
    void showWhen(LivePart &part, std::function<bool()> condition);
    [[nodiscard]] bool shows(const LivePart &part) const { return m_parts.contains(&part); }
    // The tables of the features the engine runs, each shown once its feature is on (the
    // positions also from their first row). Asks the engine at eventHandled(): it must live
    // while that is called.
    void follow(const CaptureEngine &engine);

    // The messages that bring a viewer up to date: {"type": "hello", "parts": [TYPES]} followed
    // by a snapshot of each part, each as compact JSON.
    [[nodiscard]] QList<QByteArray> snapshot() const;
    // Someone watches, or nobody does any more.
    void setWatched(bool watched);
    // Sends what waits now: before a new viewer gets its snapshot, which already holds it.
    void publishWaitingChanges() { publishChanges(); }

    void appendToLog(const QString &line) override { m_log.append(line); }
    void prependToLog(const QString &line) override { m_log.prepend(line); }
    void replaceLog(const QString &text) override { m_log.replace(text); }
    void prependToDataPane(const QString &line) override { m_data.prepend(line); }
    void prependChunkLine(const QString &timestamp, QLatin1StringView tag, const QByteArray &chunk,
                          Rendering rendering) override
    {
        m_data.prependChunkLine(timestamp, tag, chunk, rendering);
    }
    void positionsDecoded(std::span<const PositionRow> rows) override;
    void eventHandled() override;

    static constexpr std::chrono::milliseconds BatchInterval{100};

signals:
    // One message for every viewer, as compact JSON.
    void published(const QByteArray &message);

private:
    [[nodiscard]] QByteArray hello() const;
    void changesWait();
    void publishChanges();

    LivePane m_log;
    LivePane m_data;
    LivePositions m_positions;
    LiveTrackers m_trackers;
    QList<LivePart *> m_parts;
    std::vector<std::pair<LivePart *, std::function<bool()>>> m_waitingParts;
    bool m_watched = false;
    bool m_changesWait = false;
    QElapsedTimer m_sinceLastMessages;
    QTimer m_timer;
};

#endif
