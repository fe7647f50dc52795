// The update driver: the program's entry, and the values it owns for the
// whole run, which the dialog shows and hands on.
#ifndef UPDATER_DRIVER_H
#define UPDATER_DRIVER_H

#include "platform/platform.h"

#define BASE_VERSION 1000u
#define PATCH_VERSION 1100u

// The install folder from the installation record: a NUL-terminated code
// page 932 string within its MAX_PATH bytes, set before the dialog runs.
extern char g_installFolder[MAX_PATH];
// The installed version; BASE_VERSION when the record holds none readable.
extern DWORD g_installedVersion;
extern const char g_mutexName[];
extern const char g_updateTitle[];

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

#endif
