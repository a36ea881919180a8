// Return-path capture: what the OUT server sends is recorded; it goes on to the tracker only
// when answers are passed through.

#include "captureengine.h"

#include "capturefiles.h"
#include "socketendpoint.h"
#include "streamsocket.h"

void CaptureEngine::sckOUT_DataArrival(TrackerSession *owner, qint32 /*bytesTotal: everything waiting is read*/)
{
    // With several trackers relaying, each connection's answers are its tracker's.
    const QLatin1StringView ascii = owner ? owner->tag(CaptureFiles::ReturnAsciiTag) : CaptureFiles::ReturnAsciiTag;
    const QLatin1StringView hex = owner ? owner->tag(CaptureFiles::ReturnHexTag) : CaptureFiles::ReturnHexTag;
    answerCaptured(owner, captureChunk([&] { return owner ? owner->relay->readAll() : m_sckOUT->GetData(); },
                                       m_sckOUT->remotePort(), ascii, hex));
}
