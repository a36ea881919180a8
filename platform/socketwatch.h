#ifndef GPSA_SOCKETWATCH_H
#define GPSA_SOCKETWATCH_H

#include <QObject>

class QSocketNotifier;

// Tells when a descriptor can be read or written, on the event loop of the thread that made
// the watch; what is not enabled is not watched. On Linux the watches of a thread share one
// epoll set, which the event loop watches through a single notifier, so that a turn of the
// loop costs what is ready, not what is open: with a QSocketNotifier each, 2 000 idle
// connections cost a poll() over 2 000 descriptors, some 200 µs, at every turn. Elsewhere a
// watch is a notifier for each direction.
class SocketWatch final : public QObject
{
    Q_OBJECT

public:
    explicit SocketWatch(qintptr descriptor, QObject *parent = nullptr);
    ~SocketWatch() override;

    void setReadEnabled(bool enabled);
    void setWriteEnabled(bool enabled);

signals:
    void readable();
    void writable();

private:
    void update();
    friend class WatchSet;

    qintptr m_descriptor;
    bool m_read = false;
    bool m_write = false;
    // The epoll set's, or the notifiers': each system uses one pair.
    [[maybe_unused]] bool m_watched = false;
    [[maybe_unused]] quint32 m_generation = 0;
    [[maybe_unused]] QSocketNotifier *m_readNotifier = nullptr;
    [[maybe_unused]] QSocketNotifier *m_writeNotifier = nullptr;
};

#endif
