#include "dialog/resource.h"
#include "dialog/update_dialog.h"
#include "driver/driver.h"

char g_installFolder[MAX_PATH];
DWORD g_installedVersion;
const char g_mutexName[] = "RZUPDATE Ver0.10";
const char g_updateTitle[] = "ルミナリオ！ アップデート Ver1.10";

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

const char RECORD_PATH[] = "Software\\Lanternfly\\luminario";
const char FOLDER_VALUE[] = "InstallFolder";
const char VERSION_VALUE[] = "Version";

const char NOT_INSTALLED_MESSAGE[] =
    "ルミナリオ！がインストールされていません。インストールが終了してから再度アップデートを行って下さいませ。";
const char ALREADY_UPDATED_QUESTION[] =
    "既にこのバージョンのアップデートは終了しています。\n上書きアップデートしますか？";
const char REGISTRY_ERROR_MESSAGE[] = "レジストリエラー";

int ShowMessage(LPCSTR text, UINT buttons) {
  return MessageBoxA(NULL, text, g_updateTitle, buttons);
}

BOOL OpenInstallRecord(HKEY* key) {
  return RegOpenKeyExA(HKEY_CURRENT_USER, RECORD_PATH, 0, KEY_ALL_ACCESS, key) == ERROR_SUCCESS;
}

// Reads InstallFolder as raw bytes into g_installFolder.  FALSE when it is
// missing, longer than the buffer, empty, or fills all MAX_PATH bytes with
// no NUL among them: cut to fit, it would name some other folder.
BOOL ReadInstallFolder(HKEY key) {
  g_installFolder[0] = 0;
  DWORD size = MAX_PATH;
  if (RegQueryValueExA(key, FOLDER_VALUE, NULL, NULL, reinterpret_cast<LPBYTE>(g_installFolder),
                       &size) != ERROR_SUCCESS)
    return FALSE;
  if (size < MAX_PATH) {
    // A value stored without its NUL ends where its bytes end.
    g_installFolder[size] = 0;
  } else {
    DWORD i = 0;
    while (i < MAX_PATH && g_installFolder[i] != 0) ++i;
    if (i == MAX_PATH) return FALSE;
  }
  return g_installFolder[0] != 0;
}

// Reads Version into g_installedVersion from its low byte up: a value of
// fewer than 4 bytes leaves the upper bytes as they were.  FALSE when
// there is no readable value of at most 4 bytes.
BOOL ReadInstalledVersion(HKEY key) {
  DWORD size = sizeof g_installedVersion;
  return RegQueryValueExA(key, VERSION_VALUE, NULL, NULL,
                          reinterpret_cast<LPBYTE>(&g_installedVersion), &size) == ERROR_SUCCESS;
}

// Records PATCH_VERSION as 4 little-endian bytes of REG_BINARY, whatever
// the value was before.  A refused write is not reported.
void RecordPatchVersion() {
  g_installedVersion = PATCH_VERSION;
  HKEY key = NULL;
  if (!OpenInstallRecord(&key)) {
    ShowMessage(REGISTRY_ERROR_MESSAGE, MB_OK);
    return;
  }
  RegSetValueExA(key, VERSION_VALUE, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&g_installedVersion),
                 sizeof g_installedVersion);
  RegCloseKey(key);
}

// Players run the updater from wherever they unpacked it, often a
// downloads folder that may hold stray DLLs: from here on DLLs load from
// the system folder only.  Older systems lack the call, so it is looked up
// at run time, and without it nothing changes.
void RestrictDllSearch() {
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesProc)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  FARPROC found = kernel != NULL ? GetProcAddress(kernel, "SetDefaultDllDirectories") : NULL;
  if (found == NULL) return;
  // Through void (*)(void), the one function type any other casts to.
  SetDefaultDllDirectoriesProc systemFolderOnly =
      reinterpret_cast<SetDefaultDllDirectoriesProc>(reinterpret_cast<void (*)(void)>(found));
  systemFolderOnly(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// Everything between the single-instance guard and its release.
void RunUpdate(HINSTANCE instance) {
  HKEY key = NULL;
  if (!OpenInstallRecord(&key)) {
    ShowMessage(NOT_INSTALLED_MESSAGE, MB_OK);
    return;
  }
  if (!ReadInstallFolder(key)) {
    RegCloseKey(key);
    ShowMessage(NOT_INSTALLED_MESSAGE, MB_OK);
    return;
  }
  if (!ReadInstalledVersion(key)) {
    g_installedVersion = BASE_VERSION;
  } else if (g_installedVersion >= PATCH_VERSION &&
             ShowMessage(ALREADY_UPDATED_QUESTION, MB_OKCANCEL) == IDCANCEL) {
    RegCloseKey(key);
    return;
  }
  // The record is not held open while the dialog runs.
  RegCloseKey(key);
  if (DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_UPDATE), NULL, UpdateDialogProc, 0) == 1)
    RecordPatchVersion();
}

}  // namespace

// The exit code is 0 on every path.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)previous;
  (void)commandLine;
  (void)show;
  RestrictDllSearch();
  HANDLE mutex = CreateMutexA(NULL, TRUE, g_mutexName);
  DWORD error = GetLastError();
  // Another copy runs: the mutex exists, or it exists and belongs to a
  // copy with more rights (an elevated one), which refuses this one.
  if (error == ERROR_ALREADY_EXISTS || (mutex == NULL && error == ERROR_ACCESS_DENIED)) {
    if (mutex != NULL) CloseHandle(mutex);
    return 0;
  }
  // Any other null handle: the run goes on without the guard.
  RunUpdate(instance);
  if (mutex != NULL) CloseHandle(mutex);
  return 0;
}
