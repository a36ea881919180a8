#ifndef GPSA_REPLAYPLAN_H
#define GPSA_REPLAYPLAN_H

#include <QByteArray>
#include <QList>

class SessionIndex;
struct RecordedSession;

// A tracker chunk to replay, and when the tracker sent it: microseconds after its connect.
struct ReplayChunk
{
    QByteArray bytes;
    qint64 offsetUs = 0;
};

// What a replay sends on each of its connections: one recorded session's tracker chunks (its in
// events) in order, held once and shared by every connection.
struct ReplayPlan
{
    QList<ReplayChunk> chunks;
    qint64 endOffsetUs = 0;     // the session's disconnect or error after its connect; 0: unknown
    bool endsWithReset = false; // the tracker's connection ended in an error
    bool timed = true;          // false: no times were recorded, every chunk goes at once
    qint64 bytes = 0;
    qint64 startOffsetUs = 0;   // of one of a run's connections: its connect after the run's first


    // session: from 1; 0 takes the last session of the index. Throws a SessionError when there is
    // no such session or a chunk cannot be read.
    [[nodiscard]] static ReplayPlan fromSession(const SessionIndex &index, int session);
    // Every tracker connection of the index's last run, each as its own tracker, with its start.
    [[nodiscard]] static QList<ReplayPlan> fromLastRun(const SessionIndex &index);

private:
    [[nodiscard]] static ReplayPlan ofSession(const SessionIndex &index, const RecordedSession &session);
};

#endif
