#ifndef GPSA_REPLAYCONNECTION_H
#define GPSA_REPLAYCONNECTION_H

#include "tcppacket.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

class DatagramSocket;
class QSocketNotifier;
class ReplayCapture;
class StreamSocket;
struct ReplayPlan;
struct ReplayTally;

// What every connection of one replay shares.
struct ReplayShared
{
    TcpEndpoint server;
    double speed = 1.0; // recorded gaps are divided by it
    bool noWait = false; // each chunk as soon as the one before has gone
    bool udp = false;    // each chunk a datagram; no connection to make, close or reset
    ReplayCapture &capture;
    ReplayTally &tally;
    QElapsedTimer clock; // started with the replay
};

// One connection of a replay, as the tracker made it (over UDP, a socket of its own that sends
// each chunk as a datagram and takes the server's): connects to the server, writes each chunk
// of the plan in one write at its recorded time after the connect (the gaps divided by the speed),
// captures what the server sends back, and ends as the tracker's connection ended (with a reset
// after an error). It ends no earlier than the recorded end, and once the last chunk has been
// answered and the server has then been quiet for QuietAfterAnswer, or after AnswerWait
// without an answer.
class ReplayConnection final : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 QuietAfterAnswerMs = 500;
    static constexpr qint64 AnswerWaitMs = 2000;

    // plan: the recorded connection it plays, shared by every connection that plays it.
    ReplayConnection(ReplayShared &shared, const ReplayPlan &plan, QObject *parent = nullptr);
    ~ReplayConnection() override;

    void start();

signals:
    void finished();

private:
    void startDatagrams();
    void connectEnded(int error);
    void connected();
    void next();
    void sendChunk();
    void onReadyRead();
    void answered(const QByteArray &bytes);
    void onPeerClosed();
    void onFailed(int number, const QString &description);
    void checkEnd();
    void finish(bool reset);
    void fail(int number, const QString &description, bool wasConnected);
    [[nodiscard]] qint64 nowUs() const;
    void wakeAt(qint64 dueUs);

    ReplayShared &m_shared;
    const ReplayPlan &m_plan;
    qintptr m_descriptor = -1;
    QSocketNotifier *m_connecting = nullptr;
    StreamSocket *m_stream = nullptr;
    DatagramSocket *m_datagrams = nullptr;
    QTimer m_timer;
    QString m_server;
    QString m_local;
    qsizetype m_next = 0;
    qint64 m_connectedUs = 0;
    qint64 m_lastSendUs = 0;
    qint64 m_lastAnswerUs = 0;
    QList<qint64> m_unanswered; // write times of chunks with no byte read since
    bool m_ending = false;
    bool m_done = false;
};

#endif
