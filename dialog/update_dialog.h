// The update dialog: shows the installed version and the install folder,
// and on the update button copies the update file set.
#ifndef UPDATER_UPDATE_DIALOG_H
#define UPDATER_UPDATE_DIALOG_H

#include "platform/platform.h"

#define VERSION_TEXT_SIZE 6

// What the dialog reads.  The driver owns and defines these and sets them
// before the dialog runs; the dialog never changes them.
//
// The install folder: a NUL-terminated code page 932 string within its
// MAX_PATH bytes, shown and handed to the applier.
extern char g_installFolder[MAX_PATH];
// The installed version, shown as the version text.
extern DWORD g_installedVersion;
// The update title: the dialog's boxes carry it as their caption.
extern const char g_updateTitle[];

// The procedure of IDD_UPDATE.  It returns FALSE for every message.  It
// ends the dialog with 1 when the whole update file set was written, and
// with 0 when the user quit or the copy failed, after telling the user.
INT_PTR CALLBACK UpdateDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Renders version as five characters and a NUL: the thousands digit, a
// point and three digits, so 1100 reads 1.100.  A version of 10000 or more
// has no thousands digit to show; its first character is then '*', which
// no one reads as a version digit.
void FormatVersionText(DWORD version, LPSTR text);

#endif
