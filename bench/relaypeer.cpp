#include "relaypeer.h"

#include "loopbacksocket.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

RelayPeer::RelayPeer(Kind kind, QString executable) : m_kind(kind), m_executable(std::move(executable)) {}

RelayPeer::~RelayPeer()
{
    stop();
}

QString RelayPeer::name(Kind kind)
{
    switch (kind) {
    case Kind::Direct:
        return QStringLiteral("direct");
    case Kind::Socat:
        return QStringLiteral("socat");
    case Kind::SocatDump:
        return QStringLiteral("socat -x -v");
    case Kind::Program:
        return QStringLiteral("gps-analyzer headless");
    case Kind::Window:
        return QStringLiteral("gps-analyzer window");
    case Kind::Recognising:
        return QStringLiteral("gps-analyzer, protocol + ack");
    case Kind::AllFeatures:
        return QStringLiteral("gps-analyzer, protocol + ack + index");
    case Kind::Indexing:
        return QStringLiteral("gps-analyzer, session index");
    case Kind::Fleet:
        return QStringLiteral("gps-analyzer, many trackers");
    case Kind::Decoding:
        return QStringLiteral("gps-analyzer, protocol + ack + decode");
    case Kind::Watched:
        return QStringLiteral("gps-analyzer, 5 live viewers");
    }
    return {};
}

QString RelayPeer::start(quint16 outPort, const QString &workFolder, Output output)
{
    stop();
    m_outPort = outPort;
    if (m_kind == Kind::Direct) {
        m_inPort = outPort;
        return {};
    }

    m_inPort = LoopbackSocket::freePort();
    m_captureFolder = QDir(workFolder).filePath(QStringLiteral("capture"));
    if (!QDir().mkpath(m_captureFolder))
        return QStringLiteral("cannot create %1").arg(m_captureFolder);
    m_errorFile = QDir(workFolder).filePath(QStringLiteral("stderr.txt"));

    QStringList arguments;
    const QString in = QString::number(m_inPort);
    const QString out = QString::number(outPort);
    const QStringList udpSocat{QStringLiteral("-u"), QStringLiteral("UDP4-RECVFROM:%1,fork").arg(in),
                               QStringLiteral("UDP4-SENDTO:127.0.0.1:%1").arg(out)};
    switch (m_kind) {
    case Kind::Socat:
        if (m_udp) {
            arguments << udpSocat;
            break;
        }
        arguments << QStringLiteral("TCP-LISTEN:%1,reuseaddr").arg(in) << QStringLiteral("TCP:127.0.0.1:%1").arg(out);
        break;
    case Kind::SocatDump:
        // The hex dump goes to standard error, kept in a file as a user would keep it.
        m_errorFile = QDir(workFolder).filePath(QStringLiteral("socat-dump.txt"));
        arguments << QStringLiteral("-x") << QStringLiteral("-v");
        if (m_udp)
            arguments << udpSocat;
        else
            arguments << QStringLiteral("TCP-LISTEN:%1,reuseaddr").arg(in) << QStringLiteral("TCP:127.0.0.1:%1").arg(out);
        break;
    case Kind::Program:
    case Kind::Window:
    case Kind::Recognising:
    case Kind::AllFeatures:
    case Kind::Indexing:
    case Kind::Fleet:
    case Kind::Decoding:
    case Kind::Watched:
        arguments << (m_kind == Kind::Window ? QStringLiteral("--start") : QStringLiteral("--headless"))
                  << QStringLiteral("--in-port") << in << QStringLiteral("--out-port") << out
                  << QStringLiteral("--out-host") << QStringLiteral("127.0.0.1") << QStringLiteral("--relay")
                  << QStringLiteral("--capture-dir") << m_captureFolder;
        if (m_kind == Kind::Recognising || m_kind == Kind::AllFeatures || m_kind == Kind::Decoding)
            arguments << QStringLiteral("--protocol") << QStringLiteral("auto") << QStringLiteral("--auto-ack");
        if (m_kind == Kind::Decoding)
            arguments << QStringLiteral("--decode");
        if (m_kind == Kind::AllFeatures || m_kind == Kind::Indexing)
            arguments << QStringLiteral("--session-index");
        if (m_kind == Kind::Fleet)
            arguments << QStringLiteral("--pass-answers") << m_extraArguments;
        if (m_kind == Kind::Watched) {
            m_webPort = LoopbackSocket::freePort();
            arguments << QStringLiteral("--web") << QStringLiteral("127.0.0.1:%1").arg(m_webPort)
                      << QStringLiteral("--web-token") << QString::fromLatin1(WebToken);
        }
        if (m_udp)
            arguments << QStringLiteral("--udp");
        break;
    case Kind::Direct:
        break;
    }

    m_process = std::make_unique<QProcess>();
    m_process->setProgram(m_executable);
    m_process->setArguments(arguments);
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->setStandardErrorFile(m_errorFile);
    if (m_kind == Kind::Window) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process->setProcessEnvironment(environment);
    }
    if (output == Output::Watch) {
        // A named pipe whose read end is open before the process starts, so that opening
        // its write end does not block, and which the benchmark polls with its sockets.
        const QString fifo = QDir(workFolder).filePath(QStringLiteral("stdout.fifo"));
        const QByteArray fifoPath = QFile::encodeName(fifo);
        ::unlink(fifoPath.constData());
        if (::mkfifo(fifoPath.constData(), 0600) != 0)
            return QStringLiteral("cannot create the pipe %1").arg(fifo);
        m_outputFd = ::open(fifoPath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (m_outputFd == -1)
            return QStringLiteral("cannot open the pipe %1").arg(fifo);
        m_process->setStandardOutputFile(fifo);
    } else {
        m_process->setStandardOutputFile(QProcess::nullDevice());
    }
    m_process->start();
    if (!m_process->waitForStarted(10000))
        return QStringLiteral("%1 did not start: %2").arg(m_executable, m_process->errorString());
    return {};
}

qint64 RelayPeer::peakResidentBytes() const
{
    if (!isRunning())
        return -1;
    QFile status(QStringLiteral("/proc/%1/status").arg(m_process->processId()));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

int RelayPeer::openDescriptors() const
{
    if (!isRunning())
        return -1;
    const QDir descriptors(QStringLiteral("/proc/%1/fd").arg(m_process->processId()));
    return int(descriptors.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
}

double RelayPeer::cpuSeconds() const
{
    if (!m_process || m_process->processId() <= 0)
        return -1;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(m_process->processId()));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.read(1024);
    // The fields after the command name; utime and stime are the 14th and 15th of the line.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const double ticks = double(::sysconf(_SC_CLK_TCK));
    return (fields[11].toDouble() + fields[12].toDouble()) / ticks;
}

bool RelayPeer::isRunning() const
{
    // The event loop does not run during a measurement, so ask the system rather than QProcess;
    // a process that has ended but is not yet reaped shows the state Z.
    if (!m_process || m_process->processId() <= 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(m_process->processId()));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.read(512);
    const qsizetype afterName = text.lastIndexOf(')');
    return afterName > 0 && text.size() > afterName + 2 && text.at(afterName + 2) != 'Z' &&
           text.at(afterName + 2) != 'X';
}

QString RelayPeer::errorOutput() const
{
    QFile file(m_errorFile);
    if (m_kind == Kind::SocatDump || !file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.read(4000)).trimmed();
}

void RelayPeer::stop()
{
    if (m_process) {
        if (m_process->state() != QProcess::NotRunning) {
            m_process->terminate();
            if (!m_process->waitForFinished(5000)) {
                m_process->kill();
                m_process->waitForFinished(5000);
            }
        }
        m_process.reset();
    }
    if (m_outputFd != -1) {
        ::close(m_outputFd);
        m_outputFd = -1;
    }
}
