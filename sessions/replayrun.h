#ifndef GPSA_REPLAYRUN_H
#define GPSA_REPLAYRUN_H

#include "replaycapture.h"
#include "replayconnection.h"
#include "replayplan.h"
#include "replaytally.h"

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

// A replay of recorded connections against a server, each on a number of concurrent connections,
// all on the one thread's event loop: every connection starts at once, or at its recorded start
// after the first one, and the run finishes when the last one has ended, or at once when the
// capture of the answers fails.
class ReplayRun final : public QObject
{
    Q_OBJECT

public:
    // Throws a PlatformError when the capture folder's index cannot be opened.
    // udp: each chunk goes as a datagram, each connection a UDP socket of its own.
    ReplayRun(const QList<ReplayPlan> &plans, const TcpEndpoint &server, double speed, bool noWait, int trackers,
              const QString &outputFolder, bool udp = false, QObject *parent = nullptr);
    ~ReplayRun() override;

    void start();

    [[nodiscard]] const ReplayTally &tally() const { return m_tally; }
    [[nodiscard]] qint64 elapsedMs() const { return m_shared.clock.elapsed(); }
    [[nodiscard]] int trackers() const { return int(m_connections.size()); }
    // What ended the run early: a capture file that could not be written. Empty otherwise.
    [[nodiscard]] const QString &failure() const { return m_failure; }
    [[nodiscard]] bool isFinished() const { return m_tally.finished == trackers() || !m_failure.isEmpty(); }

signals:
    void finished();

private:
    ReplayTally m_tally;
    ReplayCapture m_capture;
    const QList<ReplayPlan> m_plans;
    ReplayShared m_shared;
    std::vector<std::unique_ptr<ReplayConnection>> m_connections;
    QString m_failure;
};

#endif
