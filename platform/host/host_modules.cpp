// Modules, just enough for a run-time lookup of SetDefaultDllDirectories
// in kernel32: the one system module the model knows.
#include <string.h>
#include <strings.h>

#include "host_internal.h"

namespace {

struct Module {
  int unused;
};

Module g_kernel32;
bool g_offered = true;
HostDllSearch g_search;

BOOL SetDefaultDllDirectoriesModel(DWORD flags) {
  if (g_search.calls++ == 0) g_search.callsBefore = HostCallCount(HOST_CALL_ANY);
  g_search.flags = flags;
  return TRUE;
}

}  // namespace

HMODULE GetModuleHandleA(LPCSTR name) {
  if (name != nullptr && strcasecmp(name, "kernel32.dll") == 0)
    return reinterpret_cast<HMODULE>(&g_kernel32);
  SetLastError(126);  // ERROR_MOD_NOT_FOUND
  return nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  if (module == reinterpret_cast<HMODULE>(&g_kernel32) && g_offered && name != nullptr &&
      strcmp(name, "SetDefaultDllDirectories") == 0) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(SetDefaultDllDirectoriesModel));
  }
  SetLastError(127);  // ERROR_PROC_NOT_FOUND
  return nullptr;
}

void HostOfferDllDirectories(bool offered) { g_offered = offered; }

HostDllSearch HostDllSearchState() { return g_search; }

void HostResetModules() {
  g_offered = true;
  g_search = HostDllSearch{0, 0, 0};
}
