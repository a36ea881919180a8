// Inbound data path and relay: every chunk that the tracker sends is captured, gives the
// armed command its turn, and goes unchanged to the OUT server when relaying.

#include "captureengine.h"

#include "capturefiles.h"
#include "outputfile.h"
#include "platformerror.h"
#include "socketendpoint.h"
#include "streamsocket.h"

void CaptureEngine::sckAccept_DataArrival(qint16 index, qint32 /*bytesTotal: everything waiting is read*/)
{
    TrackerSession &tracker = *sessionAt(index);
    const Capture capture = captureChunk([&] { return sckAccept(index).GetData(); }, m_sckListen->localPort(),
                                         tracker.tag(CaptureFiles::InAsciiTag), tracker.tag(CaptureFiles::InHexTag));
    trackerChunkCaptured(tracker, capture);

    SendUserCommand(tracker);

    try {
        if (m_controls.value(Control::RelaySwitch) == CheckValue::Ticked)
            relayChunk(tracker, capture.chunk);
    } catch (const PlatformError &error) {
        endAfterMessage(error.description(), QStringLiteral("Error sending to output socket!"));
    }
}

void CaptureEngine::relayChunk(TrackerSession &tracker, const QByteArray &chunk)
{
    if (!tracker.relay) {
        m_sckOUT->SendData(chunk);
        holdTrackerForRelay(tracker);
        return;
    }
    // A tracker's own relay that fails closes that tracker and ends nothing else.
    try {
        tracker.relay->write(chunk);
    } catch (const PlatformError &error) {
        trackerRelayEnded(tracker, error.description());
        return;
    }
    holdTrackerForRelay(tracker);
}

CaptureEngine::Capture CaptureEngine::captureChunk(const std::function<QByteArray()> &read, int port,
                                                   QLatin1StringView asciiTag, QLatin1StringView hexTag)
{
    const QString dataName = CaptureFiles::dataFile(m_state.CaptureCounter, port);
    OutputFile dataFile;
    dataFile.open(m_outputFolder, dataName, OutputFile::Mode::Raw);
    OutputFile lengthLog;
    lengthLog.open(m_outputFolder, CaptureFiles::lengthLog(m_state.CaptureCounter, port), OutputFile::Mode::Text);

    const QByteArray chunk = read();
    const qint64 readAt = sessionClockUs();
    dataFile.write(chunk);
    lengthLog.write(CaptureFiles::lengthLine(chunk.size()));

    m_controls.prependChunkLines(asciiTag, hexTag, chunk);

    dataFile.close();
    lengthLog.close();
    const qint32 number = m_state.CaptureCounter;
    advanceCaptureCounter();
    return {chunk, number, dataName, readAt};
}
