#include "captureengine.h"

#include "endpointarray.h"
#include "platformerror.h"
#include "socketendpoint.h"
#include "streamsocket.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <limits>

CaptureEngine::CaptureEngine(Controls &controls, QString captureFolder, QObject *parent)
    : QObject(parent)
    , m_controls(controls)
    , m_captureFolder(std::move(captureFolder))
    , m_sckListen(new SocketEndpoint(this))
    , m_sckAccept(new EndpointArray(this))
    , m_sckOUT(new SocketEndpoint(this))
    , m_trackerTable(new TrackerTable(this))
{
    m_sckOUT->setRemoteHost(QStringLiteral("127.0.0.1"));

    connect(m_sckListen, &SocketEndpoint::connectionRequest, this,
            [this](qint32 requestID) { runHandler([&] { sckListen_ConnectionRequest(requestID); }); });
    connect(m_sckAccept, &EndpointArray::dataArrival, this, [this](qint16 index, qint32 bytesTotal) {
        runHandler([&] { sckAccept_DataArrival(index, bytesTotal); });
    });
    connect(m_sckAccept, &EndpointArray::closed, this,
            [this](qint16 index) { runHandler([&] { sckAccept_Close(index); }); });
    connect(m_sckAccept, &EndpointArray::errorOccurred, this,
            [this](qint16 index, qint16 number, const QString &description) {
                runHandler([&] { sckAccept_Error(index, number, description); });
            });
    connect(m_sckOUT, &SocketEndpoint::dataArrival, this,
            [this](qint32 bytesTotal) { runHandler([&] { sckOUT_DataArrival(nullptr, bytesTotal); }); });
    const auto releaseSlotTracker = [this] { releaseTracker(sessionAt(1)); };
    connect(m_sckOUT, &SocketEndpoint::bytesSent, this, releaseSlotTracker);
    connect(m_sckOUT, &SocketEndpoint::closed, this, releaseSlotTracker);
    connect(m_sckOUT, &SocketEndpoint::errorOccurred, this, releaseSlotTracker);
}

CaptureEngine::~CaptureEngine()
{
    // Closing the window, SIGINT and SIGTERM end the program here: what is queued for the
    // tracker or the OUT server still goes out.
    m_sckListen->Close();
    finishEndpoints();
}

void CaptureEngine::finishEndpoints()
{
    const QDeadlineTimer deadline(FlushTimeout);
    if (m_sckAccept->exists(1))
        (*m_sckAccept)(1).finish(deadline);
    for (std::size_t slot = 2; slot < m_sessions.size(); ++slot) {
        if (m_sessions[slot])
            sckAccept(qint16(slot)).finish(deadline);
    }
    for (const auto &session : m_sessions) {
        if (session && session->relay)
            session->relay->flush(deadline);
    }
    m_sckOUT->finish(deadline);
}

namespace {
// Thrown to leave a handler once the end of the program has been asked for.
struct ProgramEnded
{
};
} // namespace

void CaptureEngine::runHandler(const std::function<void()> &handler)
{
    if (m_ended)
        return;
    try {
        handler();
        writeRecords();
    } catch (const ProgramEnded &) {
    } catch (const PlatformError &error) {
        try {
            endAfterError(error);
        } catch (const ProgramEnded &) {
        }
    }
    m_controls.eventHandled();
}

void CaptureEngine::endAfterError(const PlatformError &error)
{
    m_ended = true;
    writeRecordsBeforeTheEnd();
    m_controls.reportError(error.number(), error.description());
    endProgram();
}

void CaptureEngine::endAfterMessage(const QString &prompt, const QString &title)
{
    // No further event is handled while the message waits for the operator: the program
    // ends once it is dismissed.
    m_ended = true;
    writeRecordsBeforeTheEnd();
    m_controls.messageBox(prompt, vbCritical, title);
    endProgram();
}

void CaptureEngine::endProgram()
{
    m_ended = true;
    writeRecordsBeforeTheEnd();
    // Bytes handed to an endpoint before the end (the armed command before a failed relay,
    // say) still reach the network.
    finishEndpoints();
    m_controls.endProgram();
    throw ProgramEnded{};
}

void CaptureEngine::yieldOnce()
{
    QCoreApplication::processEvents();
    if (m_ended)
        throw ProgramEnded{};
}

void CaptureEngine::advanceCaptureCounter()
{
    if (m_state.CaptureCounter == std::numeric_limits<qint32>::max())
        throw PlatformError(ErrorNumber::Overflow, QStringLiteral("Overflow"));
    ++m_state.CaptureCounter;
}

void CaptureEngine::holdTrackerForRelay(TrackerSession &tracker)
{
    const qint64 waiting = tracker.relay ? tracker.relay->bytesToWrite() : m_sckOUT->bytesToWrite();
    if (waiting <= relayQueueLimit())
        return;
    tracker.link->setHeld(true);
    tracker.held = true;
}

void CaptureEngine::releaseTracker(TrackerSession *tracker)
{
    if (!tracker || !tracker->held || m_ended)
        return;
    if (!tracker->relay) {
        const bool outOpen = m_sckOUT->state() == SocketEndpoint::State::Connected;
        if (outOpen && m_sckOUT->bytesToWrite() > RelayQueueLimit / 2)
            return;
    }
    tracker->link->setHeld(false);
    tracker->held = false;
}

void CaptureEngine::setTrackerKeepAlive(const KeepAliveTimings &timings)
{
    // Element 0 is the pattern that the slot's endpoint takes over when it is loaded.
    (*m_sckAccept)(0).setKeepAlive(timings);
}

SocketEndpoint &CaptureEngine::sckAccept(qint16 index) const
{
    return (*m_sckAccept)(index);
}

TrackerSession *CaptureEngine::sessionAt(qint16 index) const
{
    return index >= 0 && std::size_t(index) < m_sessions.size() ? m_sessions[std::size_t(index)].get() : nullptr;
}

bool CaptureEngine::trackerConnected(qint16 index) const
{
    return m_sckAccept->exists(index) && sckAccept(index).state() == SocketEndpoint::State::Connected;
}

QString CaptureEngine::trackerName(qint16 index) const
{
    const SocketEndpoint &tracker = sckAccept(index);
    return servesMany() ? trackerPeer(index) : tracker.remoteHostIP();
}
