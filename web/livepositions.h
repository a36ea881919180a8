#ifndef GPSA_LIVEPOSITIONS_H
#define GPSA_LIVEPOSITIONS_H

#include "livepart.h"
#include "positionrecorder.h"

#include <QJsonObject>
#include <QList>

#include <deque>
#include <span>

// The decoded positions for the live page ("positions"): the rows of the window's positions
// table, and what the page needs to draw each device's track.
//
// It keeps the newest KeptRows rows, for the downloads and to bring a viewer up to date with the
// newest SnapshotRows, and while someone watches the count of rows since the last message. A
// change message carries at most BatchRows of them, the newest, and counts the older ones it
// leaves out.
//
// Messages: {"type": "positions", "rows": [ROW, ...]} newest first, where ROW is {"cells": [the
// table's texts], "point": [LONGITUDE, LATITUDE, FIX TIME ms or null]}, the point only for a valid
// record with coordinates (a point of its device's track); a snapshot has "clear": true and
// "columns": [the headings]; a change message that left rows out has "skipped": N.
class LivePositions final : public LivePart
{
public:
    LivePositions() : LivePart(QStringLiteral("positions")) {}

    void append(std::span<const PositionRow> rows);
    // Every row kept, oldest first.
    [[nodiscard]] QList<PositionRow> rows() const { return {m_rows.begin(), m_rows.end()}; }

    [[nodiscard]] QJsonObject snapshot() const override;
    [[nodiscard]] std::optional<QJsonObject> takeChanges() override;
    void setWatched(bool watched) override;

    static constexpr qsizetype KeptRows = 10'000;
    static constexpr qsizetype SnapshotRows = 1'000;
    static constexpr qsizetype BatchRows = 1'000;

private:
    // The newest `count` rows, newest first.
    [[nodiscard]] QJsonArray newest(qsizetype count) const;

    std::deque<PositionRow> m_rows;
    qsizetype m_newRows = 0;
    qint64 m_skipped = 0;
};

#endif
