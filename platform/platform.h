// The one header through which the updater reaches the operating system.
//
// On Windows it is the toolchain's own system headers and nothing else.
// On the host build it is our own declaration of just the Win32 subset the
// updater calls, implemented over real files and in-process models
// (platform/host/).  Program code includes this header only, and calls
// every operation by its Win32 name and type.
#ifndef UPDATER_PLATFORM_H
#define UPDATER_PLATFORM_H

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "host/win32_host.h"
#endif

#endif
