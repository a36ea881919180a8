#include "fleetload.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>

#include <cstdio>
#include <map>

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Fleet {

namespace {

QByteArray message(int id, qint64 sequence, qint64 ns)
{
    QByteArray bytes(MessageSize, Qt::Uninitialized);
    const int head = std::snprintf(bytes.data(), std::size_t(MessageSize), "%05d %08lld %016llx ", id,
                                   static_cast<long long>(sequence), static_cast<unsigned long long>(ns));
    for (qsizetype i = head; i < MessageSize - 2; ++i)
        bytes[i] = char('a' + (id + sequence + i) % 26);
    bytes[MessageSize - 2] = '\r';
    bytes[MessageSize - 1] = '\n';
    return bytes;
}

constexpr qsizetype TimeAt = 15; // the 16 hexadecimal digits of the send time

} // namespace

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

EchoTimer::EchoTimer()
{
    // A thousand relays connect at once: a server's usual backlog would drop their requests.
    ::listen(m_listener.descriptor(), 4096);
    m_thread = std::jthread([this](const std::stop_token &stop) { serve(stop); });
}

EchoTimer::~EchoTimer()
{
    m_thread.request_stop();
    m_thread.join();
}

QList<double> EchoTimer::takeMicros()
{
    const std::lock_guard guard(m_lock);
    return std::exchange(m_micros, {});
}

void EchoTimer::serve(const std::stop_token &stop)
{
    const int poller = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event listening{EPOLLIN, {}};
    listening.data.fd = m_listener.descriptor();
    ::epoll_ctl(poller, EPOLL_CTL_ADD, m_listener.descriptor(), &listening);
    struct Connection
    {
        LoopbackSocket socket;
        QByteArray pending; // the start of a message not yet whole
    };
    std::map<int, Connection> connections;
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    epoll_event events[256];
    while (!stop.stop_requested()) {
        const int ready = ::epoll_wait(poller, events, 256, 100);
        const qint64 arrivedNs = nowNs();
        QList<double> micros;
        for (int i = 0; i < ready; ++i) {
            const int fd = events[i].data.fd;
            if (fd == m_listener.descriptor()) {
                for (LoopbackSocket accepted = m_listener.accept(std::chrono::milliseconds(0));
                     accepted.isValid(); accepted = m_listener.accept(std::chrono::milliseconds(0))) {
                    epoll_event readable{EPOLLIN, {}};
                    readable.data.fd = accepted.descriptor();
                    ::epoll_ctl(poller, EPOLL_CTL_ADD, accepted.descriptor(), &readable);
                    connections[accepted.descriptor()].socket = std::move(accepted);
                    ++m_connections;
                }
                continue;
            }
            Connection &connection = connections.at(fd);
            const qsizetype got = connection.socket.receive(buffer.data(), buffer.size());
            if (got < 0 || (got > 0 && !connection.socket.sendAll(buffer.constData(), got))) {
                ::epoll_ctl(poller, EPOLL_CTL_DEL, fd, nullptr);
                connections.erase(fd);
                continue;
            }
            connection.pending.append(buffer.constData(), got);
            qsizetype at = 0;
            for (; connection.pending.size() - at >= MessageSize; at += MessageSize) {
                const qint64 sentNs = connection.pending.mid(at + TimeAt, 16).toLongLong(nullptr, 16);
                micros.append(double(arrivedNs - sentNs) / 1000.0);
            }
            connection.pending.remove(0, at);
        }
        if (!micros.isEmpty()) {
            const std::lock_guard guard(m_lock);
            m_micros += micros;
        }
    }
    ::close(poller);
}

// Round after round, each tracker in turn: tracker i's message k is due at start + (k * count +
// i) * interval / count.
Trackers::Result Trackers::run(quint16 port, int count, int firstId, std::chrono::milliseconds interval,
                               std::chrono::milliseconds duration, std::chrono::seconds patience,
                               const std::function<bool()> &ready)
{
    Result result;
    result.firstId = firstId;
    const qint64 connectNs = nowNs();
    std::vector<LoopbackSocket> trackers;
    const int poller = ::epoll_create1(EPOLL_CLOEXEC);
    for (int i = 0; i < count; ++i) {
        trackers.push_back(LoopbackSocket::connectTo(port));
        if (!trackers.back().isValid()) {
            result.problem = QStringLiteral("tracker %1 of %2 could not connect").arg(i + 1).arg(count);
            ::close(poller);
            return result;
        }
        result.ports.append(trackers.back().localPort());
        epoll_event readable{EPOLLIN, {}};
        readable.data.u32 = quint32(i);
        ::epoll_ctl(poller, EPOLL_CTL_ADD, trackers.back().descriptor(), &readable);
    }
    result.sent.resize(count);
    result.received.resize(count);
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    const auto receive = [&](int timeoutMs) {
        epoll_event events[256];
        const int ready = ::epoll_wait(poller, events, 256, timeoutMs);
        for (int e = 0; e < ready; ++e) {
            const auto i = qsizetype(events[e].data.u32);
            const qsizetype got = trackers[std::size_t(i)].receive(buffer.data(), buffer.size());
            if (got > 0)
                result.received[i].append(buffer.constData(), got);
            else if (got < 0)
                ::epoll_ctl(poller, EPOLL_CTL_DEL, trackers[std::size_t(i)].descriptor(), nullptr);
        }
    };
    while (!ready() && nowNs() - connectNs < std::chrono::nanoseconds(patience).count())
        receive(10);
    result.connectedMs = (nowNs() - connectNs) / 1'000'000;
    const qint64 startNs = nowNs();
    const qint64 stepNs = std::chrono::nanoseconds(interval).count() / count;
    const qint64 endNs = startNs + std::chrono::nanoseconds(duration).count();
    for (qint64 due = 0;; ++due) {
        const qint64 dueNs = startNs + due * stepNs;
        if (dueNs >= endNs)
            break;
        for (qint64 now = nowNs(); now < dueNs; now = nowNs())
            receive(int((dueNs - now + 999'999) /
                        1'000'000)); // a message late by a millisecond still tells its time
        const auto i = qsizetype(due % count);
        const QByteArray bytes = message(firstId + int(i), due / count, nowNs());
        result.sent[i] += bytes;
        if (!trackers[std::size_t(i)].sendAll(bytes))
            result.problem = QStringLiteral("tracker %1 could not send").arg(firstId + i);
    }
    const qint64 patienceEndNs = nowNs() + std::chrono::nanoseconds(patience).count();
    const auto echoed = [&] {
        for (qsizetype i = 0; i < count; ++i)
            if (result.received[i].size() < result.sent[i].size())
                return false;
        return true;
    };
    while (!echoed() && nowNs() < patienceEndNs)
        receive(50);
    ::close(poller);
    return result;
}

QString checkCaptured(const QString &folder, quint16 port, const QHash<int, QByteArray> &sent,
                      qint64 &captured)
{
    const QRegularExpression name(QStringLiteral("^x(\\d+)_%1\\.dat$").arg(port));
    QMap<qint64, QString> files;
    for (const QString &file : QDir(folder).entryList(QDir::Files)) {
        if (const QRegularExpressionMatch match = name.match(file); match.hasMatch())
            files.insert(match.captured(1).toLongLong(), file);
    }
    QHash<int, QByteArray> got;
    captured = 0;
    for (const QString &file : std::as_const(files)) {
        QFile data(QDir(folder).filePath(file));
        if (!data.open(QIODevice::ReadOnly))
            return QStringLiteral("%1 cannot be read").arg(file);
        const QByteArray chunk = data.readAll();
        const int id = chunk.left(5).toInt();
        for (qsizetype at = 0; at < chunk.size(); at += MessageSize) {
            if (chunk.size() % MessageSize != 0 || chunk.mid(at, 5).toInt() != id)
                return QStringLiteral("%1 holds no whole messages of one tracker").arg(file);
        }
        got[id] += chunk;
        captured += chunk.size();
    }
    for (auto it = sent.cbegin(); it != sent.cend(); ++it) {
        if (got.value(it.key()) != it.value())
            return QStringLiteral("tracker %1: %2 bytes captured of %3 sent, or not the same")
                .arg(it.key())
                .arg(got.value(it.key()).size())
                .arg(it.value().size());
    }
    return {};
}

} // namespace Fleet
