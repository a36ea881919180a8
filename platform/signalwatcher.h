#ifndef GPSA_SIGNALWATCHER_H
#define GPSA_SIGNALWATCHER_H

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal on the event loop's thread. The handler only
// writes the signal's number into a pipe (the self-pipe trick); everything else happens when
// the event loop reads it. On Windows the console's Ctrl+C and Ctrl+Break arrive as SIGINT,
// and closing the console, logging off and shutting down as SIGTERM. One watcher at a time;
// the default handling returns with its end.
class SignalWatcher final : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

signals:
    void terminationRequested(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};

#endif
