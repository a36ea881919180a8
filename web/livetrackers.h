#ifndef GPSA_LIVETRACKERS_H
#define GPSA_LIVETRACKERS_H

#include "livepart.h"
#include "trackertable.h"

#include <QHash>
#include <QJsonArray>
#include <QMetaObject>
#include <QPointer>

// The connected trackers for the live page ("trackers"): the rows of the window's trackers table,
// cell for cell as its model gives them, told as often as that model tells its changes (at most
// every TrackerTable::RefreshMs).
//
// Messages: {"type": "trackers", "rows": [[CELL, ...], ...]} in the order the trackers connected,
// texts as the window shows them and counts as numbers; a row's first cell, the tracker's address
// and port, names it. A snapshot has "clear": true and "columns": [the headings] and every row; a
// change message has the rows that joined or changed since the last message and, when some
// left, "gone": [their names].
class LiveTrackers final : public LivePart
{
public:
    LiveTrackers() : LivePart(QStringLiteral("trackers")) {}
    ~LiveTrackers() override;
    LiveTrackers(const LiveTrackers &) = delete;
    LiveTrackers &operator=(const LiveTrackers &) = delete;

    // The table to show; it may go first (nothing is shown from then on).
    void follow(const TrackerTable &table);

    [[nodiscard]] QJsonObject snapshot() const override;
    [[nodiscard]] std::optional<QJsonObject> takeChanges() override;
    void setWatched(bool watched) override;

private:
    [[nodiscard]] QJsonArray cells(int row) const;
    // The rows as they are now, by name.
    [[nodiscard]] QHash<QString, TrackerRow> rowsNow() const;

    QPointer<const TrackerTable> m_table;
    QMetaObject::Connection m_tableChanged;
    bool m_changed = false;
    QHash<QString, TrackerRow> m_told; // what the viewers were last told, by name
};

#endif
