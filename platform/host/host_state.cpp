// Handle table, last error and fault injection of the host platform.
#include <stdio.h>

#include <set>
#include <string>
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
std::vector<std::string> g_log;
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

// Files and mutexes close here, by the kind of their object.  A registry
// key is no kernel handle: it closes through RegCloseKey alone.
BOOL CloseHandle(HANDLE handle) {
  HostObject* object = g_objects.count(handle) ? static_cast<HostObject*>(handle) : nullptr;
  if (object != nullptr) {
    switch (object->kind) {
      case HOST_OBJECT_FILE:
        HostCloseFile(object);
        return TRUE;
      case HOST_OBJECT_MUTEX:
        HostCloseMutex(object);
        return TRUE;
      case HOST_OBJECT_KEY:
        break;
    }
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

unsigned HostOpenHandles() { return static_cast<unsigned>(g_objects.size()); }

namespace {

struct CallInfo {
  const char* name;
  DWORD defaultError;
};

const CallInfo g_callInfo[HOST_CALL_KINDS] = {
    {"any", 0},
#define HOST_CALL_INFO(id, name, error) {name, error},
    HOST_FALLIBLE_CALLS(HOST_CALL_INFO)
#undef HOST_CALL_INFO
};

}  // namespace

const char* HostCallName(HostCall call) {
  return call >= 0 && call < HOST_CALL_KINDS ? g_callInfo[call].name : "?";
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
    if (fault.kind == HOST_FAULT_FAIL && *value == 0) *value = g_callInfo[call].defaultError;
    return fault.kind;
  }
  *value = 0;
  return HOST_FAULT_NONE;
}

void HostLogCall(const std::string& line) { g_log.push_back(line); }

const std::vector<std::string>& HostCallLog() { return g_log; }

std::string HostFlagsText(DWORD value, const HostFlagName* names) {
  std::string text;
  DWORD left = value;
  for (const HostFlagName* n = names; n->name != nullptr; ++n) {
    if (n->value != 0 && (left & n->value) == n->value) {
      text += (text.empty() ? "" : "|") + std::string(n->name);
      left &= ~n->value;
    }
  }
  if (left != 0 || text.empty()) {
    char hex[16];
    snprintf(hex, sizeof hex, left ? "0x%X" : "0", left);
    text += (text.empty() ? "" : "|") + std::string(hex);
  }
  return text;
}

std::string HostEnumText(DWORD value, const HostFlagName* names) {
  for (const HostFlagName* n = names; n->name != nullptr; ++n) {
    if (n->value == value) return n->name;
  }
  return std::to_string(value);
}

std::string HostQuoted(const char* text) {
  if (text == nullptr) return "NULL";
  std::string quoted = "\"";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    if (*p >= 0x20 && *p < 0x7F && *p != '"') {
      quoted += static_cast<char>(*p);
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", *p);
      quoted += hex;
    }
  }
  return quoted + "\"";
}

std::string HostPointerText(const void* pointer) {
  if (pointer == nullptr) return "NULL";
  char hex[32];
  snprintf(hex, sizeof hex, "%p", pointer);
  return hex;
}

void HostResetPlatform() {
  g_faults.clear();
  g_log.clear();
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
