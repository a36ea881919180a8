#include "replayrun.h"

#include "platformerror.h"

ReplayRun::ReplayRun(const ReplayPlan &plan, const TcpEndpoint &server, double speed, bool noWait, int trackers,
                     const QString &outputFolder, QObject *parent)
    : QObject(parent)
    , m_capture(outputFolder, server.port,
                [this](const PlatformError &error) {
                    m_failure = error.description();
                    // Not from inside the handler that was writing.
                    QMetaObject::invokeMethod(this, &ReplayRun::finished, Qt::QueuedConnection);
                })
    , m_shared{plan, server, speed, noWait, m_capture, m_tally, {}}
{
    m_connections.reserve(std::size_t(trackers));
    m_tally.answerTimesUs.reserve(std::size_t(trackers) * std::size_t(plan.chunks.size()));
    for (int i = 0; i < trackers; ++i) {
        m_connections.push_back(std::make_unique<ReplayConnection>(m_shared));
        connect(m_connections.back().get(), &ReplayConnection::finished, this, [this] {
            if (m_tally.finished == this->trackers() && m_failure.isEmpty())
                emit finished();
        });
    }
}

ReplayRun::~ReplayRun() = default;

void ReplayRun::start()
{
    m_shared.clock.start();
    for (const auto &connection : m_connections)
        connection->start();
}
