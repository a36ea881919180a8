#include "underwine.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <windows.h>

bool runsUnderWine()
{
    // Wine's ntdll exports its version; Windows's does not.
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

#else

bool runsUnderWine()
{
    return false;
}

#endif
