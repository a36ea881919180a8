#include "replayconnection.h"

#include "datagramsocket.h"
#include "nativesocket.h"
#include "platformerror.h"
#include "replaycapture.h"
#include "replayplan.h"
#include "replaytally.h"
#include "streamsocket.h"

#include <QSocketNotifier>

namespace {

QString endpointText(const QHostAddress &address, quint16 port)
{
    return address.protocol() == QAbstractSocket::IPv6Protocol
               ? QStringLiteral("[%1]:%2").arg(address.toString()).arg(port)
               : QStringLiteral("%1:%2").arg(address.toString()).arg(port);
}

QString localEndpoint(qintptr descriptor)
{
    const auto [address, port] = NativeSocket::localOf(descriptor);
    return address.isNull() ? QString() : endpointText(address, port);
}

} // namespace

ReplayConnection::ReplayConnection(ReplayShared &shared, const ReplayPlan &plan, QObject *parent)
    : QObject(parent), m_shared(shared), m_plan(plan)
{
    m_server = endpointText(shared.server.address, shared.server.port);
    // Gaps are kept to the millisecond, not to the few per cent that a coarse timer allows.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { m_ending ? checkEnd() : sendChunk(); });
}

ReplayConnection::~ReplayConnection()
{
    // Once connected, the stream socket (a child) owns the descriptor.
    if (!m_stream && !m_datagrams)
        NativeSocket::closeDescriptor(m_descriptor);
}

qint64 ReplayConnection::nowUs() const
{
    return m_shared.clock.nsecsElapsed() / 1000;
}

void ReplayConnection::wakeAt(qint64 dueUs)
{
    const qint64 waitUs = dueUs - nowUs();
    m_timer.start(int(std::clamp<qint64>((waitUs + 999) / 1000, 0, std::numeric_limits<int>::max())));
}

void ReplayConnection::start()
{
    if (m_shared.udp) {
        startDatagrams();
        return;
    }
    int error = 0;
    m_descriptor = NativeSocket::startConnect(m_shared.server.address, m_shared.server.port, error);
    if (error == 0) {
        connected();
    } else if (m_descriptor != -1 && NativeSocket::connectPending(error)) {
        m_connecting = new QSocketNotifier(m_descriptor, QSocketNotifier::Write, this);
        connect(m_connecting, &QSocketNotifier::activated, this,
                [this] { connectEnded(NativeSocket::connectOutcome(m_descriptor)); });
        // From the event loop, once the notifier is in place: a refusal that came before.
        QTimer::singleShot(0, this, [this] {
            if (const int error = m_connecting ? NativeSocket::earlyConnectFailure(m_descriptor) : 0)
                connectEnded(error);
        });
    } else {
        fail(NativeSocket::numberFor(error), NativeSocket::descriptionFor(NativeSocket::numberFor(error)), false);
    }
}

void ReplayConnection::startDatagrams()
{
    m_datagrams = new DatagramSocket(this);
    connect(m_datagrams, &DatagramSocket::received, this, &ReplayConnection::answered);
    connect(m_datagrams, &DatagramSocket::failed, this, &ReplayConnection::onFailed);
    try {
        m_datagrams->connectTo(m_shared.server.address, m_shared.server.port);
    } catch (const PlatformError &error) {
        fail(error.number(), error.description(), false);
        return;
    }
    m_connectedUs = m_lastAnswerUs = nowUs();
    m_local = endpointText(m_datagrams->localAddress(), m_datagrams->localPort());
    ++m_shared.tally.connected;
    m_shared.capture.connected(m_server, m_local);
    next();
}

void ReplayConnection::connectEnded(int error)
{
    m_connecting->setEnabled(false);
    m_connecting->deleteLater();
    m_connecting = nullptr;
    if (error != 0)
        fail(NativeSocket::numberFor(error), NativeSocket::descriptionFor(NativeSocket::numberFor(error)), false);
    else
        connected();
}

void ReplayConnection::connected()
{
    m_connectedUs = m_lastAnswerUs = nowUs();
    m_local = localEndpoint(m_descriptor);
    ++m_shared.tally.connected;
    m_stream = new StreamSocket(m_descriptor, this);
    connect(m_stream, &StreamSocket::readyRead, this, &ReplayConnection::onReadyRead);
    connect(m_stream, &StreamSocket::sent, this, &ReplayConnection::next);
    connect(m_stream, &StreamSocket::peerClosed, this, &ReplayConnection::onPeerClosed);
    connect(m_stream, &StreamSocket::failed, this, &ReplayConnection::onFailed);
    m_shared.capture.connected(m_server, m_local);
    next();
}

void ReplayConnection::next()
{
    if (m_done || m_ending || (m_stream && m_stream->bytesToWrite() > 0))
        return; // the chunk before has not gone yet: sent() comes back here
    const ReplayPlan &plan = m_plan;
    if (m_next == plan.chunks.size()) {
        m_ending = true;
        checkEnd();
    } else if (m_shared.noWait || !plan.timed) {
        m_timer.start(0); // from the event loop, so that a thousand connections take turns
    } else {
        wakeAt(m_connectedUs + qint64(double(plan.chunks[m_next].offsetUs) / m_shared.speed));
    }
}

void ReplayConnection::sendChunk()
{
    const QByteArray &bytes = m_plan.chunks[m_next].bytes;
    try {
        if (m_datagrams) // a datagram goes at once or is lost: the next waits for nothing
            m_datagrams->send(bytes);
        else
            m_stream->write(bytes); // shares the plan's bytes: no copy per connection
    } catch (const PlatformError &error) {
        fail(error.number(), error.description(), true);
        return;
    }
    ++m_next;
    m_lastSendUs = nowUs();
    m_unanswered.append(m_lastSendUs);
    ++m_shared.tally.chunksSent;
    m_shared.tally.bytesSent += bytes.size();
    next();
}

void ReplayConnection::onReadyRead()
{
    answered(m_stream->readAll());
}

void ReplayConnection::answered(const QByteArray &bytes)
{
    m_lastAnswerUs = nowUs();
    for (const qint64 sentUs : std::as_const(m_unanswered))
        m_shared.tally.answerTimesUs.push_back(m_lastAnswerUs - sentUs);
    m_unanswered.clear();
    ++m_shared.tally.answers;
    m_shared.tally.answerBytes += bytes.size();
    m_shared.capture.answer(m_server, m_local, bytes);
    if (m_ending)
        checkEnd();
}

void ReplayConnection::checkEnd()
{
    if (m_done)
        return;
    const ReplayPlan &plan = m_plan;
    const qint64 recordedEndUs =
        m_shared.noWait || !plan.timed ? 0 : m_connectedUs + qint64(double(plan.endOffsetUs) / m_shared.speed);
    const qint64 answeredUs = m_unanswered.isEmpty() ? m_lastAnswerUs + QuietAfterAnswerMs * 1000
                                                     : m_lastSendUs + AnswerWaitMs * 1000;
    const qint64 dueUs = std::max(recordedEndUs, answeredUs);
    if (nowUs() < dueUs)
        wakeAt(dueUs);
    else
        finish(plan.endsWithReset);
}

void ReplayConnection::onPeerClosed()
{
    if (m_next < m_plan.chunks.size())
        fail(ErrorNumber::ConnectAborted,
             QStringLiteral("Closed by the server after %1 of %2 chunks").arg(m_next).arg(m_plan.chunks.size()),
             true);
    else
        finish(false);
}

void ReplayConnection::onFailed(int number, const QString &description)
{
    fail(number, description, true);
}

void ReplayConnection::finish(bool reset)
{
    if (m_done)
        return;
    m_done = true;
    m_timer.stop();
    if (m_datagrams) {
        m_datagrams->disconnect(this);
    } else {
        if (reset) // as the tracker's connection ended: a reset, not an orderly close
            NativeSocket::resetOnClose(m_descriptor);
        m_stream->close();
    }
    m_shared.capture.ended(m_server, m_local);
    ++m_shared.tally.finished;
    emit finished();
}

void ReplayConnection::fail(int number, const QString &description, bool wasConnected)
{
    if (m_done)
        return;
    m_done = true;
    m_timer.stop();
    if (m_datagrams) {
        m_datagrams->disconnect(this);
    } else if (m_stream) {
        m_stream->close();
    } else {
        NativeSocket::closeDescriptor(m_descriptor);
        m_descriptor = -1;
    }
    ++(wasConnected ? m_shared.tally.broken : m_shared.tally.failed);
    ++m_shared.tally.finished;
    m_shared.capture.failed(m_server, m_local, number, description);
    emit finished();
}
