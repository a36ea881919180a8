// Return-path capture: what the OUT server sends is recorded, never passed on.

#include "captureengine.h"

#include "capturefiles.h"
#include "socketendpoint.h"

void CaptureEngine::sckOUT_DataArrival(qint32 /*bytesTotal: everything waiting is read*/)
{
    captureChunk(*m_sckOUT, m_sckOUT->remotePort(), CaptureFiles::ReturnAsciiTag, CaptureFiles::ReturnHexTag);
}
