#include "delivery/apply.h"

#include "delivery/patch_source.h"

const LPCSTR g_sourceNames[] = {"patch110.dat", "InstData.pak", "Archive.ini", NULL};
const LPCSTR g_targetNames[] = {"patch110.dat", "InstData.pak", "Archive.ini", NULL};
const LPCSTR g_archiveName = "UpdateData.dat";

namespace {

const char WRITE_ERROR_FORMAT[] = "ファイルが書き込めません。[%s]";
const char WRITE_ERROR_CAPTION[] = "エラー";

DWORD TextLength(LPCSTR text) {
  DWORD n = 0;
  while (text[n]) ++n;
  return n;
}

// Forms "folder\name" in the MAX_PATH buffer.  0 when it would not fit
// with its NUL; the buffer is not written then.
BOOL FormTargetPath(LPSTR path, LPCSTR folder, LPCSTR name) {
  if (TextLength(folder) + 1 + TextLength(name) + 1 > MAX_PATH) return FALSE;
  wsprintfA(path, "%s\\%s", folder, name);
  return TRUE;
}

// The error box of a row that could not be applied.  The text goes into
// the path buffer, which the row no longer needs.
int FailRow(HWND owner, LPSTR buffer, LPCSTR sourceName) {
  wsprintfA(buffer, WRITE_ERROR_FORMAT, sourceName);
  MessageBoxA(owner, buffer, WRITE_ERROR_CAPTION, MB_OK);
  return 0;
}

// Reads the whole source into a fresh zero-filled buffer of its size and
// closes the source, before any target is opened.  Returns the buffer,
// which the caller frees; null when no buffer could be had or the read
// failed or came short, and then nothing is left allocated.
LPVOID TakeSource(PatchSource* source, DWORD* size) {
  *size = GetPatchSourceSize(source);
  LPVOID data = GlobalAlloc(GPTR, *size);
  if (data == NULL) {
    ClosePatchSource(source);
    return NULL;
  }
  BOOL read = ReadPatchSource(source, data);
  BOOL whole = WaitPatchSource(source);
  ClosePatchSource(source);
  if (!read || !whole) {
    GlobalFree(GlobalHandle(data));
    return NULL;
  }
  return data;
}

// Creates or empties the target and writes all size bytes in one write.
// A write that reports success with fewer bytes written is a failure.
BOOL WriteTarget(LPCSTR path, LPCVOID data, DWORD size) {
  HANDLE target = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
  // A target that does not open (read-only, held open by the running
  // game, a missing folder) fails like a failed write.
  if (target == INVALID_HANDLE_VALUE || target == NULL) return FALSE;
  DWORD written = 0;
  BOOL ok = WriteFile(target, data, size, &written, NULL) && written == size;
  CloseHandle(target);
  return ok;
}

}  // namespace

int ApplyUpdateFiles(HWND owner, LPCSTR installFolder) {
  char path[MAX_PATH];
  for (int i = 0; g_sourceNames[i] != NULL; ++i) {
    // A row not applied never counts as applied: the result decides
    // whether the new version is recorded.
    if (!FormTargetPath(path, installFolder, g_targetNames[i]))
      return FailRow(owner, path, g_sourceNames[i]);
    PatchSource* source = OpenPatchSource(g_sourceNames[i], g_archiveName);
    if (source == NULL) return FailRow(owner, path, g_sourceNames[i]);
    DWORD size = 0;
    LPVOID data = TakeSource(source, &size);
    if (data == NULL) return FailRow(owner, path, g_sourceNames[i]);
    BOOL written = WriteTarget(path, data, size);
    GlobalFree(GlobalHandle(data));
    if (!written) return FailRow(owner, path, g_sourceNames[i]);
  }
  return 1;
}
