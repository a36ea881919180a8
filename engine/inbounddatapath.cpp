// Inbound data path and relay: every chunk that the tracker sends is captured, gives the
// armed command its turn, and goes unchanged to the OUT server when relaying.

#include "captureengine.h"

#include "capturefiles.h"
#include "datetimetext.h"
#include "outputfile.h"
#include "platformerror.h"
#include "socketendpoint.h"

void CaptureEngine::sckAccept_DataArrival(qint16 index, qint32 /*bytesTotal: everything waiting is read*/)
{
    const QByteArray chunk = captureChunk(sckAccept(index), m_sckListen->localPort(), CaptureFiles::InAsciiTag,
                                          CaptureFiles::InHexTag);

    SendUserCommand(index);

    try {
        if (m_controls.value(Control::Check3) == CheckValue::Ticked) {
            m_sckOUT->SendData(chunk);
            holdTrackerForRelay(index);
        }
    } catch (const PlatformError &error) {
        endAfterMessage(error.description(), QStringLiteral("Error sending to output socket!"));
    }
}

QByteArray CaptureEngine::captureChunk(SocketEndpoint &source, int port, QLatin1StringView asciiTag,
                                       QLatin1StringView hexTag)
{
    OutputFile dataFile;
    dataFile.open(CaptureFiles::dataFileName(m_captureFolder, m_state.CaptureCounter, port), OutputFile::Mode::Raw);
    OutputFile lengthLog;
    lengthLog.open(CaptureFiles::lengthLogName(m_captureFolder, m_state.CaptureCounter, port),
                   OutputFile::Mode::Text);

    const QByteArray chunk = source.GetData();
    dataFile.write(chunk);
    lengthLog.write(CaptureFiles::lengthLine(chunk.size()));

    m_controls.prependToDataPane(CaptureFiles::asciiLine(DateTimeText::now(), asciiTag, chunk));
    m_controls.prependToDataPane(CaptureFiles::hexLine(DateTimeText::now(), hexTag, chunk));

    dataFile.close();
    lengthLog.close();
    advanceCaptureCounter();
    return chunk;
}
