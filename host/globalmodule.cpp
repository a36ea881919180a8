#include "globalmodule.h"

#include "datetimetext.h"
#include "platformerror.h"
#include "socketslibrary.h"

#include <exception>

namespace {

// " ¦ ": blank, broken bar, blank.
const QString &separator()
{
    static const QString text = QStringLiteral(" \u00A6 ");
    return text;
}

// A number as the platform's basic conversion writes it: a leading blank in place of the
// plus sign, a minus sign for a negative number.
QString withSignPlace(int number)
{
    return number < 0 ? QString::number(number) : QLatin1Char(' ') + QString::number(number);
}

QString statusLine(const QString &timestamp, const QString &text)
{
    return timestamp + separator() + text + QStringLiteral("\r\n");
}

} // namespace

GLOBALModule::GLOBALModule(StatusLog log, SocketsLibrary &sockets)
    : m_log(std::move(log)), m_sockets(sockets)
{
}

bool GLOBALModule::SocketsInitialize()
{
    const SocketsLibrary::StartupReply reply = m_sockets.WSAStartup(RequestedVersion);
    if (reply.result != 0) {
        AddStatusMessage(QStringLiteral("The 32-bit Windows Socket is not responding."));
        return false;
    }
    constexpr int lowestMaxSockets = 1;
    if (qint16(reply.maxSockets) < lowestMaxSockets) {
        AddStatusMessage(QStringLiteral("This application requires a minimum of ") + QString::number(lowestMaxSockets) +
                         QStringLiteral(" supported sockets."));
        return false;
    }
    const int major = LoByte(reply.version);
    const int minor = HiByte(reply.version);
    if (major < 1 || (major == 1 && minor < 1)) {
        AddStatusMessage(QStringLiteral("Sockets version ") + QString::number(major) + QLatin1Char('.') +
                         QString::number(minor) + QStringLiteral(" is not supported by 32-bit Windows Sockets."));
        return false;
    }
    return true;
}

void GLOBALModule::SocketsCleanup()
{
    if (m_sockets.WSACleanup() != 0)
        AddStatusMessage(QStringLiteral("Socket error occurred in Cleanup."));
}

QString GLOBALModule::GetLocalIPAddress()
{
    QByteArray hostName(HostNameBufferSize, '\0');
    if (!SocketsInitialize())
        return {};

    QString address;
    if (m_sockets.gethostname(hostName) == -1) {
        AddStatusMessage(QStringLiteral("Windows Sockets error ") + withSignPlace(m_sockets.WSAGetLastError()) +
                         QStringLiteral(" has occurred. Unable to successfully get Host Name."));
    } else {
        // The name ends at the NUL byte that the library wrote after it.
        const qsizetype end = hostName.indexOf('\0');
        QByteArray name = end < 0 ? hostName : hostName.left(end);
        while (name.startsWith(' '))
            name.remove(0, 1);
        while (name.endsWith(' '))
            name.chop(1);

        const std::optional<SocketsLibrary::HostEntry> entry = m_sockets.gethostbyname(name);
        // An entry without address bytes gives no address to show; it is reported like a
        // missing entry rather than written as a broken text.
        if (!entry || entry->length <= 0 || entry->firstAddress.isEmpty()) {
            AddStatusMessage(QStringLiteral("Windows Sockets are not responding. ") +
                             QStringLiteral("Unable to successfully get Host Name."));
        } else {
            const qsizetype length = std::min<qsizetype>(entry->length, entry->firstAddress.size());
            for (qsizetype i = 0; i < length; ++i)
                address += QString::number(quint8(entry->firstAddress.at(i))) + QLatin1Char('.');
            address.chop(1);
        }
    }
    SocketsCleanup();
    return address;
}

void GLOBALModule::AddStatusMessage(const QString &message)
{
    QString timestamp;
    try {
        timestamp = DateTimeText::now();
        QString text = message;
        text.replace(QChar(u'\0'), QLatin1Char(' '));
        const QString line = statusLine(timestamp, text);
        if (m_statusLineCount < StatusLineLimit) {
            m_log.prepend(line);
            ++m_statusLineCount;
        } else {
            m_log.replace(line);
            m_statusLineCount = 0;
        }
        return;
    } catch (const PlatformError &error) {
        m_log.prepend(statusLine(timestamp, error.description()));
    } catch (const std::exception &error) {
        m_log.prepend(statusLine(timestamp, QString::fromLocal8Bit(error.what())));
    }
    // Outside the region: a failure here reaches the caller.
    QString text = message;
    text.replace(QChar(u'\0'), QLatin1Char(' '));
    m_log.prepend(statusLine(timestamp, text));
}
