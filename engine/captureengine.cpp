#include "captureengine.h"

#include "endpointarray.h"
#include "livedecoder.h"
#include "platformerror.h"
#include "socketendpoint.h"

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
            [this](qint32 bytesTotal) { runHandler([&] { sckOUT_DataArrival(bytesTotal); }); });
    connect(m_sckOUT, &SocketEndpoint::bytesSent, this, &CaptureEngine::releaseTracker);
    connect(m_sckOUT, &SocketEndpoint::closed, this, &CaptureEngine::releaseTracker);
    connect(m_sckOUT, &SocketEndpoint::errorOccurred, this, &CaptureEngine::releaseTracker);
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

void CaptureEngine::holdTrackerForRelay(qint16 index)
{
    if (m_sckOUT->bytesToWrite() <= RelayQueueLimit)
        return;
    sckAccept(index).setHeld(true);
    m_heldSlot = index;
}

void CaptureEngine::releaseTracker()
{
    if (m_heldSlot < 0 || m_ended)
        return;
    const bool outOpen = m_sckOUT->state() == SocketEndpoint::State::Connected;
    if (outOpen && m_sckOUT->bytesToWrite() > RelayQueueLimit / 2)
        return;
    if (m_sckAccept->exists(m_heldSlot))
        sckAccept(m_heldSlot).setHeld(false);
    m_heldSlot = -1;
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

bool CaptureEngine::trackerConnected(qint16 index) const
{
    return m_sckAccept->exists(index) && sckAccept(index).state() == SocketEndpoint::State::Connected;
}
