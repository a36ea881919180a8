# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (posix threads), against the Qt
# that tools/windows/build-qt.sh installs. The Qt prefix is GPSA_QT_PREFIX (environment or
# cache), else the cache folder that script fills.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_AR /usr/bin/${_triple}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/${_triple}-gcc-ranlib-posix CACHE FILEPATH "")
set(CMAKE_STRIP /usr/bin/${_triple}-strip CACHE FILEPATH "")

if(NOT GPSA_QT_PREFIX)
    if(DEFINED ENV{GPSA_QT_PREFIX})
        set(GPSA_QT_PREFIX "$ENV{GPSA_QT_PREFIX}")
    elseif(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
        set(GPSA_QT_PREFIX "$ENV{XDG_CACHE_HOME}/gps-analyzer/qt-6.4.2-mingw64")
    else()
        set(GPSA_QT_PREFIX "$ENV{HOME}/.cache/gps-analyzer/qt-6.4.2-mingw64")
    endif()
endif()

# The sysroot and the Qt prefix hold every target library; the host's own stay out.
set(CMAKE_FIND_ROOT_PATH /usr/${_triple} ${GPSA_QT_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "/nonexistent")
set(ENV{PKG_CONFIG_PATH} "")
