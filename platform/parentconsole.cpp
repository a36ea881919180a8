#include "parentconsole.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <cstdio>
#include <io.h>
#include <windows.h>

void useParentConsole()
{
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if ((output != nullptr && output != INVALID_HANDLE_VALUE) || !::AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    FILE *reopened = nullptr;
    if (::freopen_s(&reopened, "CONOUT$", "w", stdout) == 0)
        ::_dup2(::_fileno(stdout), 1);
    if (::freopen_s(&reopened, "CONOUT$", "w", stderr) == 0)
        ::_dup2(::_fileno(stderr), 2);
}

#else

void useParentConsole() {}

#endif
