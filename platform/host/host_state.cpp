// Handle table, last error and fault injection of the host platform.
#include <set>
#include <vector>

#include "host_internal.h"

namespace {

struct Fault {
  HostCall call;
  unsigned nth;
  HostFault kind;
  DWORD value;
};

std::set<const void*> g_objects;
std::vector<Fault> g_faults;
unsigned g_counts[HOST_CALL_KINDS];
std::vector<HostCall> g_trace;
DWORD g_lastError;

}  // namespace

DWORD GetLastError(void) { return g_lastError; }

void SetLastError(DWORD error) { g_lastError = error; }

void HostAddObject(HostObject* object) { g_objects.insert(object); }

void HostRemoveObject(HostObject* object) { g_objects.erase(object); }

HostObject* HostFindObject(const void* handle, HostObjectKind kind) {
  if (g_objects.count(handle) == 0) return nullptr;
  HostObject* object = static_cast<HostObject*>(const_cast<void*>(handle));
  return object->kind == kind ? object : nullptr;
}

unsigned HostOpenHandles() { return static_cast<unsigned>(g_objects.size()); }

const char* HostCallName(HostCall call) {
  static const char* const names[HOST_CALL_KINDS] = {
      "any",         "GlobalAlloc",      "CreateFileA",    "GetFileSize",
      "ReadFile",    "SetFilePointer",   "WriteFile",      "RegOpenKeyExA",
      "RegQueryValueExA", "RegSetValueExA", "CreateMutexA", "MessageBoxA",
      "DialogBoxParamA"};
  return call >= 0 && call < HOST_CALL_KINDS ? names[call] : "?";
}

void HostFailCall(HostCall call, unsigned nth, DWORD error) {
  g_faults.push_back(Fault{call, nth, HOST_FAULT_FAIL, error});
}

void HostShortCall(HostCall call, unsigned nth, DWORD count) {
  g_faults.push_back(Fault{call, nth, HOST_FAULT_SHORT, count});
}

unsigned HostCallCount(HostCall call) {
  return call >= 0 && call < HOST_CALL_KINDS ? g_counts[call] : 0;
}

HostCall HostCallAt(unsigned nth) {
  return nth >= 1 && nth <= g_trace.size() ? g_trace[nth - 1] : HOST_CALL_ANY;
}

HostFault HostCheckFault(HostCall call, DWORD* value) {
  unsigned own = ++g_counts[call];
  unsigned any = ++g_counts[HOST_CALL_ANY];
  g_trace.push_back(call);
  bool movesBytes = call == HOST_CALL_READ || call == HOST_CALL_WRITE;
  for (const Fault& fault : g_faults) {
    bool hit = (fault.call == call && fault.nth == own) ||
               (fault.call == HOST_CALL_ANY && fault.nth == any);
    if (!hit) continue;
    if (fault.kind == HOST_FAULT_SHORT && !movesBytes) continue;
    *value = fault.value;
    return fault.kind;
  }
  *value = 0;
  return HOST_FAULT_NONE;
}

void HostResetPlatform() {
  g_faults.clear();
  g_trace.clear();
  for (unsigned& count : g_counts) count = 0;
  g_lastError = 0;
  HostResetFiles();
  HostResetMemory();
  HostResetModules();
  HostResetRegistry();
  HostResetMutexes();
  HostResetUi();
}
