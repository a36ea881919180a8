#include "replaycapture.h"

#include "capturefiles.h"
#include "outputfile.h"
#include "platformerror.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

// One past the highest capture number in the folder, as a capture run continues its folder.
qint32 nextNumber(const QString &folder)
{
    static const QRegularExpression captureName(QStringLiteral("^x(\\d+)_"));
    qint64 highest = 0;
    const QStringList names = QDir(folder).entryList(QDir::Files);
    for (const QString &name : names) {
        const QRegularExpressionMatch match = captureName.match(name);
        if (match.hasMatch())
            highest = std::max(highest, match.capturedView(1).toLongLong());
    }
    return qint32(std::min<qint64>(highest + 1, std::numeric_limits<qint32>::max()));
}

} // namespace

ReplayCapture::ReplayCapture(const QString &folder, int serverPort, FailureFunction failure)
    : m_folder(folder)
    , m_port(serverPort)
    , m_counter(nextNumber(folder))
    , m_index(folder)
    , m_failure(std::move(failure))
{
}

template<typename Write>
void ReplayCapture::guarded(Write write)
{
    if (m_failed)
        return;
    try {
        write();
    } catch (const PlatformError &error) {
        m_failed = true;
        m_failure(error);
    }
}

SessionEvent ReplayCapture::event(SessionEvent::Kind kind, const QString &server, const QString &local) const
{
    SessionEvent e;
    e.kind = kind;
    e.timeUs = sessionClockUs();
    e.peer = server;
    e.port = m_port;
    e.note = QStringLiteral("local ") + local;
    return e;
}

void ReplayCapture::connected(const QString &server, const QString &local)
{
    guarded([&] { m_index.record(event(SessionEvent::Kind::Connect, server, local)); });
}

void ReplayCapture::answer(const QString &server, const QString &local, const QByteArray &bytes)
{
    guarded([&] { writeAnswer(server, local, bytes); });
}

void ReplayCapture::writeAnswer(const QString &server, const QString &local, const QByteArray &bytes)
{
    SessionEvent e = event(SessionEvent::Kind::Out, server, local);
    const QString dataName = CaptureFiles::dataFileName(m_folder, m_counter, m_port);
    OutputFile data;
    data.open(dataName, OutputFile::Mode::Raw);
    data.write(bytes);
    data.close();
    OutputFile length;
    length.open(CaptureFiles::lengthLogName(m_folder, m_counter, m_port), OutputFile::Mode::Text);
    length.write(CaptureFiles::lengthLine(bytes.size()));
    length.close();
    e.number = m_counter++;
    e.length = bytes.size();
    e.file = QFileInfo(dataName).fileName();
    m_index.record(e);
}

void ReplayCapture::ended(const QString &server, const QString &local)
{
    guarded([&] { m_index.record(event(SessionEvent::Kind::Disconnect, server, local)); });
}

void ReplayCapture::failed(const QString &server, const QString &local, int number, const QString &description)
{
    guarded([&] { writeFailure(server, local, number, description); });
}

void ReplayCapture::writeFailure(const QString &server, const QString &local, int number,
                                 const QString &description)
{
    SessionEvent e = event(SessionEvent::Kind::Error, server, local);
    const QString logName = CaptureFiles::errorLogName(m_folder, m_counter, m_port);
    OutputFile log;
    log.open(logName, OutputFile::Mode::Text);
    log.write(description.toLatin1() + "\r\n");
    log.close();
    e.number = m_counter++;
    e.file = QFileInfo(logName).fileName();
    e.note = QStringLiteral("%1 %2, local %3").arg(number).arg(description, local);
    m_index.record(e);
}
