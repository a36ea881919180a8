#include "replayplan.h"

#include "sessionerror.h"
#include "sessionindex.h"

#include <QDir>

#include <algorithm>

ReplayPlan ReplayPlan::fromSession(const SessionIndex &index, int session)
{
    const qsizetype count = index.sessions().size();
    if (count == 0)
        throw SessionError(
            QStringLiteral("%1 holds no tracker connection to replay.").arg(QDir::toNativeSeparators(index.folder())));
    if (session < 0 || session > count)
        throw SessionError(QStringLiteral("There is no session %1: %2 holds %3.")
                               .arg(session)
                               .arg(QDir::toNativeSeparators(index.folder()))
                               .arg(count));
    return ofSession(index, index.sessions()[session == 0 ? count - 1 : session - 1]);
}

QList<ReplayPlan> ReplayPlan::fromLastRun(const SessionIndex &index)
{
    const ReplayPlan last = fromSession(index, 0); // fails as it does where there is no session
    const qsizetype run = index.sessions().constLast().run;
    QList<ReplayPlan> plans;
    qint64 firstUs = 0;
    for (const RecordedSession &session : index.sessions()) {
        if (session.run != run)
            continue;
        const qint64 connectUs = index.events()[session.connect].event.timeUs;
        if (plans.isEmpty())
            firstUs = connectUs;
        plans.append(ofSession(index, session));
        plans.last().startOffsetUs = std::max<qint64>(0, connectUs - firstUs);
    }
    return plans;
}

ReplayPlan ReplayPlan::ofSession(const SessionIndex &index, const RecordedSession &picked)
{
    const qint64 connectUs = index.events()[picked.connect].event.timeUs;
    ReplayPlan plan;
    plan.timed = index.isTimed();
    for (const qsizetype i : picked.events) {
        const RecordedEvent &recorded = index.events()[i];
        const qint64 offsetUs = std::max<qint64>(0, recorded.event.timeUs - connectUs);
        switch (recorded.event.kind) {
        case SessionEvent::Kind::In:
            plan.chunks.append({index.bytesOf(recorded), offsetUs});
            plan.bytes += plan.chunks.last().bytes.size();
            break;
        case SessionEvent::Kind::Error:
            plan.endsWithReset = true;
            [[fallthrough]];
        case SessionEvent::Kind::Disconnect:
            plan.endOffsetUs = offsetUs;
            break;
        default:
            break;
        }
    }
    return plan;
}
