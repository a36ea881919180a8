#include "socketwatch.h"

#include <QHash>
#include <QPointer>
#include <QSocketNotifier>

#ifdef Q_OS_LINUX
#include <sys/epoll.h>
#include <unistd.h>

// The epoll set of a thread's watches, and the one notifier through which its event loop
// watches it; made with the first watch, ended with the last.
class WatchSet final
{
public:
    static WatchSet &ofThread()
    {
        thread_local WatchSet set;
        return set;
    }

    quint32 join(SocketWatch *watch)
    {
        if (m_watches.isEmpty()) {
            m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
            m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read);
            QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [this] { dispatch(); });
        }
        m_watches.insert(int(watch->m_descriptor), {watch, ++m_generation});
        return m_generation;
    }

    void leave(const SocketWatch *watch)
    {
        const auto it = m_watches.constFind(int(watch->m_descriptor));
        if (it == m_watches.cend() || it->generation != watch->m_generation)
            return; // the descriptor has been closed and taken again by another watch
        m_watches.erase(it);
        if (!m_watches.isEmpty())
            return;
        // It may be the notifier that is reporting.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        ::close(m_epoll);
    }

    void change(SocketWatch *watch, bool watched)
    {
        epoll_event event{};
        event.events = (watch->m_read ? EPOLLIN : 0u) | (watch->m_write ? EPOLLOUT : 0u);
        event.data.u64 = (quint64(watch->m_generation) << 32) | quint32(watch->m_descriptor);
        const int operation = !watched ? EPOLL_CTL_DEL : watch->m_watched ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
        ::epoll_ctl(m_epoll, operation, int(watch->m_descriptor), &event);
    }

private:
    struct Entry
    {
        SocketWatch *watch;
        quint32 generation;
    };

    // Level-triggered: what is not handled now is told again at the next turn. A handler may
    // end any watch, its own too, or start a nested loop that dispatches again.
    void dispatch()
    {
        epoll_event events[256];
        const int ready = ::epoll_wait(m_epoll, events, 256, 0);
        for (int i = 0; i < ready; ++i) {
            const auto current = [&]() -> SocketWatch * {
                const Entry entry = m_watches.value(int(quint32(events[i].data.u64)), Entry{nullptr, 0});
                return entry.generation == quint32(events[i].data.u64 >> 32) ? entry.watch : nullptr;
            };
            const quint32 what = events[i].events;
            if (SocketWatch *watch = current();
                watch && watch->m_read && (what & (EPOLLIN | EPOLLHUP | EPOLLERR)))
                emit watch->readable();
            if (SocketWatch *watch = current();
                watch && watch->m_write && (what & (EPOLLOUT | EPOLLHUP | EPOLLERR)))
                emit watch->writable();
        }
    }

    int m_epoll = -1;
    QSocketNotifier *m_notifier = nullptr;
    QHash<int, Entry> m_watches;
    quint32 m_generation = 0;
};

SocketWatch::SocketWatch(qintptr descriptor, QObject *parent)
    : QObject(parent)
    , m_descriptor(descriptor)
{
    m_generation = WatchSet::ofThread().join(this);
}

SocketWatch::~SocketWatch()
{
    m_read = m_write = false;
    update();
    WatchSet::ofThread().leave(this);
}

void SocketWatch::update()
{
    const bool watched = m_read || m_write;
    if (watched || m_watched)
        WatchSet::ofThread().change(this, watched);
    m_watched = watched;
}

#else

SocketWatch::SocketWatch(qintptr descriptor, QObject *parent)
    : QObject(parent)
    , m_descriptor(descriptor)
    , m_readNotifier(new QSocketNotifier(descriptor, QSocketNotifier::Read, this))
    , m_writeNotifier(new QSocketNotifier(descriptor, QSocketNotifier::Write, this))
{
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &SocketWatch::readable);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &SocketWatch::writable);
}

SocketWatch::~SocketWatch() = default;

void SocketWatch::update()
{
    m_readNotifier->setEnabled(m_read);
    m_writeNotifier->setEnabled(m_write);
}

#endif

void SocketWatch::setReadEnabled(bool enabled)
{
    if (m_read == enabled)
        return;
    m_read = enabled;
    update();
}

void SocketWatch::setWriteEnabled(bool enabled)
{
    if (m_write == enabled)
        return;
    m_write = enabled;
    update();
}
