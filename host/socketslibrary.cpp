#include "socketslibrary.h"

#ifdef Q_OS_WIN
#include "winsocketslibrary.h"
#else
#include "posixsocketslibrary.h"
#endif

std::unique_ptr<SocketsLibrary> systemSocketsLibrary()
{
#ifdef Q_OS_WIN
    return std::make_unique<WinSocketsLibrary>();
#else
    return std::make_unique<PosixSocketsLibrary>();
#endif
}
