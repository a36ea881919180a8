// Inbound data path and relay: every chunk that the tracker sends is captured, gives the
// armed command its turn, and goes unchanged to the OUT server when relaying.

#include "captureengine.h"

#include "capturefiles.h"
#include "outputfile.h"
#include "platformerror.h"
#include "socketendpoint.h"

void CaptureEngine::sckAccept_DataArrival(qint16 index, qint32 /*bytesTotal: everything waiting is read*/)
{
    const Capture capture = captureChunk(sckAccept(index), m_sckListen->localPort(), CaptureFiles::InAsciiTag,
                                         CaptureFiles::InHexTag);
    trackerChunkCaptured(index, capture);

    SendUserCommand(index);

    try {
        if (m_controls.value(Control::RelaySwitch) == CheckValue::Ticked) {
            m_sckOUT->SendData(capture.chunk);
            holdTrackerForRelay(index);
        }
    } catch (const PlatformError &error) {
        endAfterMessage(error.description(), QStringLiteral("Error sending to output socket!"));
    }
}

CaptureEngine::Capture CaptureEngine::captureChunk(SocketEndpoint &source, int port, QLatin1StringView asciiTag,
                                                   QLatin1StringView hexTag)
{
    const QString dataName = CaptureFiles::dataFile(m_state.CaptureCounter, port);
    OutputFile dataFile;
    dataFile.open(m_outputFolder, dataName, OutputFile::Mode::Raw);
    OutputFile lengthLog;
    lengthLog.open(m_outputFolder, CaptureFiles::lengthLog(m_state.CaptureCounter, port), OutputFile::Mode::Text);

    const QByteArray chunk = source.GetData();
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
