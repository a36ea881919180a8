#include "replayrun.h"

#include "platformerror.h"

#include <QTimer>

ReplayRun::ReplayRun(const QList<ReplayPlan> &plans, const TcpEndpoint &server, double speed, bool noWait,
                     int trackers, const QString &outputFolder, bool udp, QObject *parent)
    : QObject(parent)
    , m_capture(outputFolder, server.port,
                [this](const PlatformError &error) {
                    m_failure = error.description();
                    // Not from inside the handler that was writing.
                    QMetaObject::invokeMethod(this, &ReplayRun::finished, Qt::QueuedConnection);
                })
    , m_plans(plans)
    , m_shared{server, speed, noWait, udp, m_capture, m_tally, {}}
{
    m_connections.reserve(std::size_t(trackers) * std::size_t(m_plans.size()));
    std::size_t chunks = 0;
    for (const ReplayPlan &plan : m_plans)
        chunks += std::size_t(plan.chunks.size());
    m_tally.answerTimesUs.reserve(std::size_t(trackers) * chunks);
    for (const ReplayPlan &plan : m_plans) {
        for (int i = 0; i < trackers; ++i) {
            m_connections.push_back(std::make_unique<ReplayConnection>(m_shared, plan));
            connect(m_connections.back().get(), &ReplayConnection::finished, this, [this] {
                if (m_tally.finished == this->trackers() && m_failure.isEmpty())
                    emit finished();
            });
        }
    }
}

ReplayRun::~ReplayRun() = default;

void ReplayRun::start()
{
    m_shared.clock.start();
    const qsizetype perPlan = m_plans.isEmpty() ? 1 : qsizetype(m_connections.size()) / m_plans.size();
    for (std::size_t i = 0; i < m_connections.size(); ++i) {
        const ReplayPlan &plan = m_plans[qsizetype(i) / perPlan];
        ReplayConnection *connection = m_connections[i].get();
        const auto delayMs = qint64(double(plan.startOffsetUs) / m_shared.speed / 1000.0);
        if (m_shared.noWait || !plan.timed || delayMs <= 0)
            connection->start();
        else
            QTimer::singleShot(std::chrono::milliseconds(delayMs), Qt::PreciseTimer, connection,
                               &ReplayConnection::start);
    }
}
