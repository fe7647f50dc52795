// Named mutexes, modelled in memory.  Names are case-sensitive, as kernel
// object names are.  The model knows of one other process: a test can say
// that it holds a mutex, or that it made it with rights this one lacks.
#include <map>
#include <string>

#include "host_internal.h"

namespace {

struct Mutex {
  unsigned ourHandles;
  bool owned;  // by this process, since it created the mutex initially owned
  bool elsewhere;
  bool denied;
};

struct MutexHandle {
  HostObject base;
  std::string name;
};

std::map<std::string, Mutex> g_mutexes;

}  // namespace

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name) {
  HostLogCall("CreateMutexA(" + HostPointerText(security) + ", " +
              (initialOwner == TRUE ? "TRUE" : initialOwner == FALSE ? "FALSE" : std::to_string(initialOwner)) +
              ", " + HostQuoted(name) + ")");
  if (security != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  DWORD error = 0;
  if (HostCheckFault(HOST_CALL_MUTEX, &error) == HOST_FAULT_FAIL) {
    // A name that another kind of object already uses fails like this.
    SetLastError(error);
    return nullptr;
  }
  std::string key = name ? name : "";
  bool existed = false;
  if (name != nullptr) {
    auto found = g_mutexes.find(key);
    if (found != g_mutexes.end()) {
      if (found->second.denied) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
      }
      existed = true;
    }
    Mutex& mutex = g_mutexes[key];
    ++mutex.ourHandles;
    // Ownership is asked for only by the call that creates the mutex.
    if (!existed && initialOwner) mutex.owned = true;
  }
  MutexHandle* handle = new MutexHandle{{HOST_OBJECT_MUTEX}, key};
  HostAddObject(&handle->base);
  // An existing mutex is opened, not created: the caller learns it from
  // the last error alone, and does not own it.
  SetLastError(existed ? ERROR_ALREADY_EXISTS : NO_ERROR);
  return &handle->base;
}

void HostCloseMutex(HostObject* object) {
  MutexHandle* handle = reinterpret_cast<MutexHandle*>(object);
  auto found = g_mutexes.find(handle->name);
  if (found != g_mutexes.end() && --found->second.ourHandles == 0 && !found->second.elsewhere &&
      !found->second.denied)
    g_mutexes.erase(found);
  HostRemoveObject(&handle->base);
  delete handle;
}

void HostMutexHeldElsewhere(const char* name) { g_mutexes[name].elsewhere = true; }

void HostMutexDenied(const char* name) { g_mutexes[name].denied = true; }

bool HostMutexExists(const char* name) { return g_mutexes.count(name) != 0; }

bool HostMutexOwned(const char* name) {
  auto found = g_mutexes.find(name);
  return found != g_mutexes.end() && found->second.owned;
}

void HostResetMutexes() { g_mutexes.clear(); }
