#include "streamsocket.h"

#include "nativesocket.h"
#include "platformerror.h"
#include "socketwatch.h"

#include <QDeadlineTimer>

#include <tuple>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

using namespace NativeSocket;

namespace {

// One read of a pass; see ReadPassLimit.
constexpr qsizetype ReadBlock = 256 * 1024;

// One buffer for the reads of every connection of the thread: a connection keeps only what
// it has read.
QByteArray &readBuffer()
{
    thread_local QByteArray buffer(ReadBlock, Qt::Uninitialized);
    return buffer;
}

} // namespace

StreamSocket::StreamSocket(qintptr descriptor, QObject *parent) : StreamSocket(descriptor, parent, false) {}

StreamSocket::StreamSocket(qintptr descriptor, QObject *parent, bool connecting)
    : QObject(parent), m_descriptor(descriptor), m_connecting(connecting)
{
    if (descriptor == -1)
        return;
    setNonBlocking(descriptor);
    if (!connecting) {
        std::tie(m_peerAddress, m_peerPort) = peerOf(descriptor);
        std::tie(m_localAddress, m_localPort) = localOf(descriptor);
    }
    m_watch = new SocketWatch(descriptor, this);
    connect(m_watch, &SocketWatch::readable, this, &StreamSocket::onReadable);
    connect(m_watch, &SocketWatch::writable, this, &StreamSocket::onWritable);
    m_watch->setReadEnabled(!connecting);
    // A connection being made turns writable once it is made or has failed.
    m_watch->setWriteEnabled(connecting);
}

StreamSocket *StreamSocket::connectTo(const QHostAddress &address, quint16 port, QObject *parent)
{
    int error = 0;
    const qintptr descriptor = startConnect(address, port, error);
    const bool made = descriptor != -1 && (error == 0 || connectPending(error));
    if (descriptor != -1 && !made)
        closeNative(descriptor);
    auto *socket = new StreamSocket(made ? descriptor : -1, parent, true);
    socket->m_peerAddress = address;
    socket->m_peerPort = port;
    if (!made)
        socket->m_pendingError = numberFor(error);
    // Told from the event loop, once the caller has connected to the signals.
    if (!made || error == 0)
        QMetaObject::invokeMethod(socket, &StreamSocket::connectDone, Qt::QueuedConnection);
    else
        QMetaObject::invokeMethod(socket, &StreamSocket::checkEarlyFailure, Qt::QueuedConnection);
    return socket;
}

void StreamSocket::checkEarlyFailure()
{
    if (const int error = m_connecting && m_descriptor != -1 ? earlyConnectFailure(m_descriptor) : 0) {
        m_pendingError = numberFor(error);
        connectDone();
    }
}

void StreamSocket::connectDone()
{
    if (!m_connecting)
        return;
    m_connecting = false;
    const int outcome = m_descriptor == -1 ? 0 : connectOutcome(m_descriptor);
    if (m_pendingError != 0 || outcome != 0) {
        fail(m_pendingError != 0 ? m_pendingError : numberFor(outcome));
        return;
    }
    std::tie(m_peerAddress, m_peerPort) = peerOf(m_descriptor);
    std::tie(m_localAddress, m_localPort) = localOf(m_descriptor);
    m_watch->setReadEnabled(!m_held && !m_readingStopped);
    QPointer<StreamSocket> self(this);
    emit connected();
    if (self && m_descriptor != -1)
        onWritable(); // what waited goes now
}

void StreamSocket::fail(int number)
{
    m_pendingError = number;
    m_dropped += bytesToWrite();
    m_output.clear();
    m_outputOffset = 0;
    stopReading();
    if (m_watch)
        m_watch->setWriteEnabled(false);
    if (m_finishing)
        finishNow();
    else
        emit failed(number, descriptionFor(number));
}

StreamSocket::~StreamSocket()
{
    close();
}

void StreamSocket::setKeepAlive(const KeepAliveTimings &timings)
{
    if (m_descriptor == -1)
        return;
#ifdef Q_OS_WIN
    tcp_keepalive values{1, ULONG(timings.idleSeconds) * 1000, ULONG(timings.intervalSeconds) * 1000};
    DWORD returned = 0;
    WSAIoctl(SOCKET(m_descriptor), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
             nullptr);
#else
    const int fd = int(m_descriptor);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
#ifdef TCP_KEEPIDLE
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &timings.idleSeconds, sizeof timings.idleSeconds);
#endif
#ifdef TCP_KEEPINTVL
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &timings.intervalSeconds, sizeof timings.intervalSeconds);
#endif
#ifdef TCP_KEEPCNT
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &timings.probes, sizeof timings.probes);
#endif
#ifdef TCP_USER_TIMEOUT
    // Bytes sent to a vanished peer are given up after the same time as the probes.
    const unsigned int userTimeout =
        unsigned(timings.idleSeconds + timings.intervalSeconds * timings.probes) * 1000u;
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
#endif
#endif
}

QByteArray StreamSocket::readAll()
{
    return std::exchange(m_input, QByteArray());
}

void StreamSocket::write(const QByteArray &bytes)
{
    if (m_descriptor == -1 || m_pendingError != 0) {
        const int number = m_pendingError != 0 ? m_pendingError : ErrorNumber::WrongProtocolOrState;
        throw PlatformError(number, descriptionFor(number));
    }
    if (bytes.isEmpty())
        return;
    if (bytesToWrite() == 0) {
        m_output = bytes;
        m_outputOffset = 0;
    } else {
        m_output.append(bytes);
    }
    if (m_connecting)
        return;
    if (!sendQueued()) {
        const int number = m_pendingError;
        throw PlatformError(number, descriptionFor(number));
    }
}

bool StreamSocket::sendQueued()
{
    while (bytesToWrite() > 0) {
        const qint64 sent = sendSome(m_descriptor, m_output.constData() + m_outputOffset, bytesToWrite());
        if (sent < 0) {
            const int e = lastSystemError();
            if (interrupted(e))
                continue;
            if (wouldBlock(e))
                break;
            m_pendingError = numberFor(e);
            m_dropped += bytesToWrite();
            m_output.clear();
            m_outputOffset = 0;
            m_watch->setWriteEnabled(false);
            return false;
        }
        m_outputOffset += sent;
    }
    if (bytesToWrite() == 0) {
        m_output.clear();
        m_outputOffset = 0;
    } else if (m_outputOffset > 4 * 1024 * 1024) {
        m_output.remove(0, m_outputOffset);
        m_outputOffset = 0;
    }
    m_watch->setWriteEnabled(bytesToWrite() > 0);
    return true;
}

void StreamSocket::onWritable()
{
    const bool queued = bytesToWrite() > 0;
    if (m_connecting) {
        connectDone();
    } else if (!sendQueued()) {
        stopReading();
        if (m_descriptor == -1)
            return;
        if (m_finishing)
            finishNow();
        else
            emit failed(m_pendingError, descriptionFor(m_pendingError));
    } else if (bytesToWrite() == 0) {
        if (m_finishing)
            finishNow();
        else if (queued)
            emit sent();
    }
}

void StreamSocket::onReadable()
{
    bool atEnd = false;
    int error = 0;
    qsizetype taken = 0;
    QByteArray &buffer = readBuffer();
    while (taken < ReadPassLimit) {
        const qint64 got = receiveSome(m_descriptor, buffer.data(), ReadBlock);
        if (got > 0) {
            m_input.append(buffer.constData(), got);
            taken += got;
            if (got < ReadBlock)
                break;
            continue;
        }
        if (got == 0) {
            atEnd = true;
            break;
        }
        const int e = lastSystemError();
        if (interrupted(e))
            continue;
        if (!wouldBlock(e))
            error = e;
        break;
    }

    QPointer<StreamSocket> self(this);
    if (atEnd || error != 0)
        stopReading();
    if (taken > 0)
        emit readyRead();
    if (!self || m_descriptor == -1)
        return;
    if (error != 0) {
        m_pendingError = numberFor(error);
        emit failed(m_pendingError, descriptionFor(m_pendingError));
    } else if (atEnd) {
        emit peerClosed();
    }
}

void StreamSocket::stopReading()
{
    m_readingStopped = true;
    if (m_watch)
        m_watch->setReadEnabled(false);
}

void StreamSocket::setHeld(bool held)
{
    m_held = held && !m_peerLeft;
    if (m_watch)
        m_watch->setReadEnabled(!m_held && !m_readingStopped && !m_connecting);
    if (m_held && !m_endWatch) {
        // Nothing is read while held, so the end of the connection shows only to a look
        // that takes nothing: a few times a second, and only while held.
        m_endWatch = new QTimer(this);
        m_endWatch->setInterval(200);
        connect(m_endWatch, &QTimer::timeout, this, &StreamSocket::watchForTheEnd);
    }
    if (m_endWatch) {
        if (m_held)
            m_endWatch->start();
        else
            m_endWatch->stop();
    }
}

void StreamSocket::watchForTheEnd()
{
    if (m_descriptor == -1 || !peerHasLeft(m_descriptor))
        return;
    m_peerLeft = true;
    setHeld(false);
}

bool StreamSocket::flush(const QDeadlineTimer &deadline)
{
    while (m_descriptor != -1 && !m_connecting && bytesToWrite() > 0 && m_pendingError == 0) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0 || !waitWritable(m_descriptor, int(left)))
            break;
        sendQueued();
    }
    return bytesToWrite() == 0;
}

void StreamSocket::close()
{
    if (m_descriptor == -1)
        return;
    // A handler may close the connection while its watch is still reporting.
    m_watch->setReadEnabled(false);
    m_watch->setWriteEnabled(false);
    m_watch->deleteLater();
    m_watch = nullptr;
    if (m_endWatch)
        m_endWatch->stop();
    closeNative(m_descriptor);
    m_descriptor = -1;
    m_dropped += bytesToWrite();
    m_output.clear();
    m_outputOffset = 0;
}

void StreamSocket::finishLater(std::chrono::milliseconds within)
{
    disconnect();
    m_finishing = true;
    stopReading();
    if (m_descriptor == -1 || m_pendingError != 0 || (!m_connecting && bytesToWrite() == 0)) {
        finishNow();
        return;
    }
    QTimer::singleShot(within, this, &StreamSocket::finishNow);
}

void StreamSocket::finishNow()
{
    if (m_descriptor != -1 && !m_connecting && m_pendingError == 0)
        shutdownSending(m_descriptor);
    close();
    deleteLater();
}
