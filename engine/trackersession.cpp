#include "trackersession.h"

#include "capturefiles.h"
#include "livedecoder.h"
#include "sessionrecorder.h"
#include "streamsocket.h"

TrackerSession::TrackerSession(qint16 slot, std::unique_ptr<TrackerLink> link, bool named)
    : slot(slot)
    , link(std::move(link))
    , named(named)
{
    row.peer = this->link->peerAddress() + QLatin1Char(':') + QString::number(this->link->peerPort());
    row.connectedUs = sessionClockUs();
}

TrackerSession::~TrackerSession()
{
    if (relay)
        relay->finishLater(FinishWithin);
    for (const Mirror &mirror : mirrors) {
        if (mirror.stream)
            mirror.stream->finishLater(FinishWithin);
    }
}

QLatin1StringView TrackerSession::tag(QLatin1StringView tag) const
{
    if (!named)
        return tag;
    for (const auto &[plain, withTracker] : m_tags) {
        if (plain == tag)
            return QLatin1StringView(withTracker);
    }
    m_tags.emplace_back(tag, CaptureFiles::trackerTag(tag, row.peer));
    return QLatin1StringView(m_tags.back().second);
}
