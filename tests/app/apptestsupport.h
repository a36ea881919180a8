#ifndef GPSA_APPTESTSUPPORT_H
#define GPSA_APPTESTSUPPORT_H

#include <QStringList>

#include <initializer_list>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#endif

// The program's argument list: its name, then the given arguments.
inline QStringList args(std::initializer_list<const char *> list)
{
    QStringList result{QStringLiteral("gps-analyzer")};
    for (const char *a : list)
        result.append(QString::fromUtf8(a));
    return result;
}

#ifdef Q_OS_UNIX
// A pseudo-terminal in raw mode (no CR added before LF: the bytes as written), closed when
// it goes. Writers use slave; what they wrote is read from master.
struct RawPseudoTerminal
{
    RawPseudoTerminal()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return;
        slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
        termios raw{};
        if (slave < 0 || ::tcgetattr(slave, &raw) != 0)
            return;
        ::cfmakeraw(&raw);
        ready = ::tcsetattr(slave, TCSANOW, &raw) == 0;
    }
    ~RawPseudoTerminal()
    {
        if (slave >= 0)
            ::close(slave);
        if (master >= 0)
            ::close(master);
    }
    RawPseudoTerminal(const RawPseudoTerminal &) = delete;
    RawPseudoTerminal &operator=(const RawPseudoTerminal &) = delete;

    int master = -1;
    int slave = -1;
    bool ready = false;
};
#endif

#endif
