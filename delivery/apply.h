// The patch applier: copies the update file set into the install folder.
#ifndef UPDATER_APPLY_H
#define UPDATER_APPLY_H

#include "platform/platform.h"

// The update file set, row for row, each table ended by a null entry.
extern const LPCSTR g_sourceNames[];
extern const LPCSTR g_targetNames[];
// The update archive, relative to the current directory.
extern const LPCSTR g_archiveName;

// Writes every row's source whole to installFolder\target, in row order.
// Returns 1 when every row was written in full.  At the first row that
// cannot be applied (no source, no memory, a short or failed read, a path
// too long, a failed or short write) it shows the error box naming the
// row's source, owned by owner, and returns 0; earlier rows stay written,
// later ones are not tried, and that row's target is only touched when
// the failure came at or after its open.
int ApplyUpdateFiles(HWND owner, LPCSTR installFolder);

#endif
