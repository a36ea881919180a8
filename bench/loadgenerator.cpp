#include "loadgenerator.h"

#include <algorithm>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

// Waits for events on fds until the given moment; false once it has passed.
bool waitUntil(pollfd *fds, nfds_t count, Clock::time_point until)
{
    const auto left = until - Clock::now();
    if (left <= Clock::duration::zero())
        return false;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    const timespec timeout{time_t(ns / 1000000000), long(ns % 1000000000)};
    ::ppoll(fds, count, &timeout, nullptr);
    return true;
}

constexpr qsizetype ReceiveBlock = 256 * 1024;

} // namespace

LoadGenerator::LoadGenerator(LoopbackSocket &tracker, LoopbackSocket &out, std::chrono::seconds patience)
    : m_tracker(tracker), m_out(out), m_patience(patience)
{
}

bool LoadGenerator::matches(const QByteArray &stream, qint64 offset, const char *data, qsizetype size,
                            QString &problem) const
{
    if (offset + size > stream.size()) {
        problem = QStringLiteral("the OUT server received %1 bytes more than were sent").arg(offset + size - stream.size());
        return false;
    }
    if (std::memcmp(stream.constData() + offset, data, size_t(size)) != 0) {
        problem = QStringLiteral("the OUT server received other bytes than were sent, near offset %1").arg(offset);
        return false;
    }
    return true;
}

LoadGenerator::Latency LoadGenerator::latency(const QByteArray &stream, int warmUp, int count, int size)
{
    Latency result;
    result.micros.reserve(count);
    QByteArray buffer(ReceiveBlock, Qt::Uninitialized);
    qint64 received = 0;
    Clock::time_point firstTimed;
    for (int i = 0; i < warmUp + count; ++i) {
        const qint64 offset = qint64(i) * size;
        const Clock::time_point sent = Clock::now();
        if (i == warmUp)
            firstTimed = sent;
        if (!m_tracker.sendAll(stream.constData() + offset, size)) {
            result.problem = QStringLiteral("the relay closed its IN connection");
            return result;
        }
        const Clock::time_point giveUp = sent + m_patience;
        while (received < offset + size) {
            pollfd p{m_out.descriptor(), POLLIN, 0};
            if (!waitUntil(&p, 1, giveUp)) {
                result.problem = QStringLiteral("message %1 did not reach the OUT server").arg(i);
                return result;
            }
            const qsizetype got = m_out.receive(buffer.data(), buffer.size());
            if (got < 0) {
                result.problem = QStringLiteral("the relay closed its OUT connection");
                return result;
            }
            if (got > 0 && !matches(stream, received, buffer.constData(), got, result.problem))
                return result;
            received += got;
        }
        const Clock::time_point arrived = Clock::now();
        if (i >= warmUp)
            result.micros.append(std::chrono::duration<double, std::micro>(arrived - sent).count());
    }
    result.messagesPerSecond = count / secondsBetween(firstTimed, Clock::now());
    return result;
}

LoadGenerator::Throughput LoadGenerator::throughput(const QByteArray &stream, int writeSize)
{
    Throughput result;
    QByteArray buffer(ReceiveBlock, Qt::Uninitialized);
    const qint64 total = stream.size();
    qint64 sent = 0;
    qint64 received = 0;
    const Clock::time_point start = Clock::now();
    Clock::time_point lastProgress = start;
    while (received < total) {
        // The tracker reads what comes back, as a device reads its server's acknowledgements.
        pollfd fds[2] = {{m_out.descriptor(), POLLIN, 0},
                         {m_tracker.descriptor(), short(POLLIN | (sent < total ? POLLOUT : 0)), 0}};
        if (!waitUntil(fds, 2, lastProgress + m_patience)) {
            result.problem = QStringLiteral("no progress for %1 s at %2 bytes sent, %3 received")
                                 .arg(m_patience.count())
                                 .arg(sent)
                                 .arg(received);
            return result;
        }
        if (fds[1].revents & POLLIN) {
            while (m_tracker.receive(buffer.data(), buffer.size()) > 0) {
            }
        }
        if (fds[1].revents & (POLLOUT | POLLERR | POLLHUP)) {
            while (sent < total) {
                const qsizetype put = m_tracker.send(stream.constData() + sent, qMin<qint64>(writeSize, total - sent));
                if (put < 0) {
                    result.problem = QStringLiteral("the relay closed its IN connection");
                    return result;
                }
                if (put == 0)
                    break;
                sent += put;
                lastProgress = Clock::now();
            }
        }
        if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
            for (;;) {
                const qsizetype got = m_out.receive(buffer.data(), buffer.size());
                if (got < 0) {
                    result.problem = QStringLiteral("the relay closed its OUT connection at %1 bytes").arg(received);
                    return result;
                }
                if (got == 0)
                    break;
                if (!matches(stream, received, buffer.constData(), got, result.problem))
                    return result;
                received += got;
                lastProgress = Clock::now();
            }
        }
    }
    result.seconds = secondsBetween(start, Clock::now());
    result.bytes = received;
    return result;
}

LoadGenerator::ReturnPath LoadGenerator::returnPath(const QByteArray &stream, int count, int size,
                                                   std::chrono::microseconds interval, int outputFd,
                                                   PaneLineCounter *counter)
{
    ReturnPath result;
    const qint64 total = qint64(count) * size;
    QByteArray buffer(ReceiveBlock, Qt::Uninitialized);
    const int watched = counter ? outputFd : m_tracker.descriptor();
    qint64 captured = 0;
    int next = 0;
    const Clock::time_point start = Clock::now();
    Clock::time_point lastSent = start;
    Clock::time_point lastProgress = start;
    while (captured < total) {
        const Clock::time_point now = Clock::now();
        while (next < count && now >= start + next * interval) {
            if (!m_out.sendAll(stream.constData() + qint64(next) * size, size)) {
                result.problem = QStringLiteral("the relay closed its OUT connection");
                return result;
            }
            lastSent = Clock::now();
            ++next;
        }
        const Clock::time_point until = next < count ? start + next * interval : lastProgress + m_patience;
        pollfd p{watched, POLLIN, 0};
        if (!waitUntil(&p, 1, until)) {
            if (next < count)
                continue;
            result.problem = QStringLiteral("%1 of %2 bytes captured").arg(captured).arg(total);
            return result;
        }
        if (!(p.revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        if (counter) {
            const ssize_t got = ::read(watched, buffer.data(), size_t(buffer.size()));
            if (got == 0) {
                result.problem = QStringLiteral("the program closed its standard output");
                return result;
            }
            if (got > 0) {
                counter->feed(buffer.constData(), got);
                captured = counter->bytes();
                lastProgress = Clock::now();
            }
        } else {
            const qsizetype got = m_tracker.receive(buffer.data(), buffer.size());
            if (got < 0) {
                result.problem = QStringLiteral("the relay closed its IN connection");
                return result;
            }
            if (got > 0 && !matches(stream, captured, buffer.constData(), got, result.problem))
                return result;
            captured += got;
            lastProgress = Clock::now();
        }
    }
    const Clock::time_point done = Clock::now();
    result.seconds = secondsBetween(start, done);
    result.secondsAfterLast = secondsBetween(lastSent, done);
    return result;
}
