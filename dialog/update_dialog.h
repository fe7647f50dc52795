// The update dialog: shows the installed version and the install folder,
// and on the update button copies the update file set.
#ifndef UPDATER_UPDATE_DIALOG_H
#define UPDATER_UPDATE_DIALOG_H

#include "platform/platform.h"

#define VERSION_TEXT_SIZE 6

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
