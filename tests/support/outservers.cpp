#include "outservers.h"

ThreadedOutServer::ThreadedOutServer(QByteArray expected, QByteArray answer, bool answerOnceRead)
    : m_expected(std::move(expected)), m_answer(std::move(answer)), m_answerOnceRead(answerOnceRead)
{
    m_thread = std::jthread([this](const std::stop_token &stop) { serve(stop); });
}

ThreadedOutServer::~ThreadedOutServer()
{
    m_thread.request_stop();
    m_thread.join();
}

void ThreadedOutServer::take(const char *bytes, qint64 count)
{
    const qint64 at = m_received;
    if (m_firstMismatch < 0) {
        const qint64 comparable = qMin(count, qint64(m_expected.size()) - at);
        for (qint64 i = 0; i < count; ++i) {
            if (i >= comparable || bytes[i] != m_expected[at + i]) {
                m_firstMismatch = at + i;
                break;
            }
        }
    }
    m_received = at + count;
}

void ThreadedOutServer::serve(const std::stop_token &stop)
{
    LoopbackSocket connection = m_listener.accept(std::chrono::milliseconds(-1), stop);
    if (!connection.isValid())
        return;
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    while (!stop.stop_requested() && !m_closing) {
        const bool answering = m_answerSent < m_answer.size() && (!m_answerOnceRead || m_received > 0);
        const short ready = connection.wait(
            short((m_reading ? LoopbackSocket::Readable : 0) | (answering ? LoopbackSocket::Writable : 0)), 50);
        if (ready == 0)
            continue;
        if (ready & LoopbackSocket::Readable) {
            const qsizetype n = connection.receive(buffer.data(), buffer.size());
            if (n < 0)
                break; // the engine never closes its end while the test runs
            take(buffer.constData(), n);
        }
        if (ready & LoopbackSocket::Writable) {
            const qint64 at = m_answerSent;
            const qsizetype n = connection.send(m_answer.constData() + at, qMin<qint64>(m_answer.size() - at, 256 * 1024));
            if (n > 0)
                m_answerSent = at + n;
        }
        if ((ready & LoopbackSocket::Broken) && !(ready & LoopbackSocket::Readable))
            break;
    }
}
