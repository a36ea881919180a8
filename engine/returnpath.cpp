// Return-path capture: what the OUT server sends is recorded; it goes on to the tracker only
// when answers are passed through.

#include "captureengine.h"

#include "capturefiles.h"
#include "socketendpoint.h"

void CaptureEngine::sckOUT_DataArrival(qint32 /*bytesTotal: everything waiting is read*/)
{
    answerCaptured(
        captureChunk(*m_sckOUT, m_sckOUT->remotePort(), CaptureFiles::ReturnAsciiTag, CaptureFiles::ReturnHexTag));
}
