// Shared machinery of the host platform: the handle table, the last error,
// fault injection and the per-model reset hooks.  Private to platform/host.
#ifndef UPDATER_HOST_INTERNAL_H
#define UPDATER_HOST_INTERNAL_H

#include "host_control.h"

enum HostObjectKind { HOST_OBJECT_FILE, HOST_OBJECT_MUTEX, HOST_OBJECT_KEY };

// Every handle the program holds points at one of these.  The concrete
// records (files, mutexes, keys) start with it.
struct HostObject {
  HostObjectKind kind;
};

void HostAddObject(HostObject* object);
void HostRemoveObject(HostObject* object);
// The live object behind a handle, if it is of that kind; null otherwise.
HostObject* HostFindObject(const void* handle, HostObjectKind kind);

// Counts the call and tells how it is to go: HOST_FAULT_NONE, or
// HOST_FAULT_FAIL with *value the error to report (0 when the test left it
// to the call), or HOST_FAULT_SHORT with *value the most bytes to move.
enum HostFault { HOST_FAULT_NONE, HOST_FAULT_FAIL, HOST_FAULT_SHORT };
HostFault HostCheckFault(HostCall call, DWORD* value);

// Closes a mutex handle; FALSE when the handle is no mutex of ours.
BOOL HostCloseMutex(HANDLE handle);

// Frees the records of a model; called by HostResetPlatform.
void HostResetFiles();
void HostResetMemory();
void HostResetModules();
void HostResetRegistry();
void HostResetMutexes();
void HostResetUi();

#endif
