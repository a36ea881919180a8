#ifndef GPSA_PLATFORMERROR_H
#define GPSA_PLATFORMERROR_H

#include <QString>

#include <exception>

// A failed platform operation. It carries a number and a description, as the operator
// sees them in a message box or an error report; the numbers follow the Windows Sockets
// and run-time error numbers that tracker engineers know from the Windows tools.
class PlatformError final : public std::exception
{
public:
    PlatformError(int number, QString description)
        : m_number(number), m_description(std::move(description)), m_what(m_description.toUtf8())
    {
    }

    [[nodiscard]] int number() const noexcept { return m_number; }
    [[nodiscard]] const QString &description() const noexcept { return m_description; }
    [[nodiscard]] const char *what() const noexcept override { return m_what.constData(); }

private:
    int m_number;
    QString m_description;
    QByteArray m_what;
};

// Error numbers raised by the platform layer.
namespace ErrorNumber {
inline constexpr int Overflow = 6;
inline constexpr int FileNotFound = 53;
inline constexpr int DiskFull = 61;
inline constexpr int PermissionDenied = 70;
inline constexpr int PathFileAccess = 75;
inline constexpr int PathNotFound = 76;
inline constexpr int ObjectAlreadyLoaded = 360;
inline constexpr int ControlArrayElementMissing = 340;
inline constexpr int WrongProtocolOrState = 40006;
inline constexpr int InvalidArgument = 40014;
inline constexpr int InvalidOperation = 40020;
inline constexpr int ConnectAborted = 10053;
inline constexpr int ConnectionReset = 10054;
inline constexpr int NotConnected = 10057;
inline constexpr int TimedOut = 10060;
inline constexpr int ConnectionRefused = 10061;
inline constexpr int AddressInUse = 10048;
inline constexpr int AddressNotAvailable = 10049;
inline constexpr int NetworkUnreachable = 10051;
inline constexpr int HostUnreachable = 10065;
inline constexpr int HostNotFound = 11001;
} // namespace ErrorNumber

#endif
