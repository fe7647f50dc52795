// The update driver: the program's entry, and the values it owns for the
// whole run, which the dialog shows and hands on.
#ifndef UPDATER_DRIVER_H
#define UPDATER_DRIVER_H

#include "dialog/update_dialog.h"
#include "platform/platform.h"

#define BASE_VERSION 1000u
#define PATCH_VERSION 1100u

// The driver defines the values the dialog reads (update_dialog.h):
// g_installFolder from the installation record, g_installedVersion from it
// or BASE_VERSION when it holds none readable, and g_updateTitle.
extern const char g_mutexName[];

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

#endif
