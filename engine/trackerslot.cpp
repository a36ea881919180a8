// Tracker connection slot: one tracker at a time, its connect and disconnect lines, the
// command on connect, and the record of a socket error on the tracker's connection.

#include "captureengine.h"

#include "capturefiles.h"
#include "datetimetext.h"
#include "outputfile.h"
#include "socketendpoint.h"

qint16 CaptureEngine::GetFreeSocket() const
{
    // Slot 1 alone with one tracker at a time; with several, the first free slot.
    for (std::size_t slot = 1; slot < m_state.SlotInUse.size(); ++slot) {
        if (!m_state.SlotInUse[slot])
            return qint16(slot);
    }
    return 0;
}

void CaptureEngine::sckListen_ConnectionRequest(qint32 requestID)
{
    const qint16 slot = GetFreeSocket();
    if (slot == 0) {
        requestDeclined(requestID);
        return; // declined: the endpoint ends the request once this returns
    }
    // Taken before the accept, so that a request arriving during the yield is declined.
    m_state.SlotInUse[slot] = true;
    sckAccept(slot).Accept(requestID);
    trackerAccepted(slot);

    // The tracker's first chunk, its close or another request may be handled here. With several
    // trackers there is no yield: a thousand connecting at once would nest a thousand handlers.
    if (!servesMany())
        yieldOnce();

    m_controls.appendToLog(QStringLiteral("Tracker ") + trackerName(slot) + QStringLiteral(" connected.\r\n"));
    // A tracker that left while it was being accepted gets nothing: the switches stay as they
    // are, and the command goes to the next tracker. With several trackers the switch stays
    // ticked for every one that connects.
    if (m_controls.value(Control::SendOnConnect) == CheckValue::Ticked && trackerConnected(slot)) {
        SendUserCommand(*sessionAt(slot));
        if (!servesMany())
            m_controls.setValue(Control::SendOnConnect, CheckValue::Clear);
    }
}

void CaptureEngine::sckAccept_Close(qint16 index)
{
    m_state.SlotInUse[std::size_t(index)] = false;
    // The address is read before the endpoint closes.
    m_controls.appendToLog(QStringLiteral("Tracker ") + trackerName(index) + QStringLiteral(" disconnected.\r\n"));
    sckAccept(index).Close();
    if (!m_trackerFailing)
        trackerLeft(index, 0, 0, {});
}

void CaptureEngine::sckAccept_Error(qint16 index, qint16 number, const QString &description)
{
    // Date and time are taken apart here, so the time shows even at midnight.
    const QDateTime now = QDateTime::currentDateTime();
    m_controls.prependToDataPane(DateTimeText::shortDate(now.date()) + QLatin1Char(' ') +
                                 DateTimeText::longTime(now.time()) + QStringLiteral(": Socket ID:") +
                                 QString::number(index) + QStringLiteral(" Status ") + QString::number(number) +
                                 QStringLiteral(": ") + description + CaptureFiles::LineEnd);

    m_trackerFailing = true;
    sckAccept_Close(index);
    m_trackerFailing = false;

    OutputFile log;
    log.open(m_outputFolder, CaptureFiles::errorLog(m_state.CaptureCounter, m_sckListen->localPort()),
             OutputFile::Mode::Text);
    log.write(description.toLatin1() + "\r\n");
    log.close();

    trackerLeft(index, m_state.CaptureCounter, number, description);
    advanceCaptureCounter();
}
