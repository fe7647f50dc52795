// Shared machinery of the host platform: the handle table, the last error,
// fault injection and the per-model reset hooks.  Private to platform/host.
#ifndef UPDATER_HOST_INTERNAL_H
#define UPDATER_HOST_INTERNAL_H

#include <string>

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

// Each kind's own close, which CloseHandle dispatches to; each frees the
// record it is given.
void HostCloseFile(HostObject* file);
void HostCloseMutex(HostObject* mutex);

// Counts the call and tells how it is to go: HOST_FAULT_NONE, or
// HOST_FAULT_FAIL with *value the error to report (the test's, or else the
// call's default from HOST_FALLIBLE_CALLS), or HOST_FAULT_SHORT with
// *value the most bytes to move.
enum HostFault { HOST_FAULT_NONE, HOST_FAULT_FAIL, HOST_FAULT_SHORT };
HostFault HostCheckFault(HostCall call, DWORD* value);

// The call log (HostCallLog): each logged call as one line of text, its
// arguments spelled as the program would write them.
void HostLogCall(const std::string& line);
struct HostFlagName {
  DWORD value;
  const char* name;  // null ends a table
};
// A set of flags as "A|B", with bits no name covers in hex; "0" for none.
std::string HostFlagsText(DWORD value, const HostFlagName* names);
// One value of an enumeration by its name, or in decimal.
std::string HostEnumText(DWORD value, const HostFlagName* names);
// A string argument in double quotes, with a double quote and bytes
// outside printable ASCII as \xNN (a backslash stands as itself); NULL for
// a null pointer.
std::string HostQuoted(const char* text);
// NULL, or the pointer in hex.
std::string HostPointerText(const void* pointer);

// Code page 932: whether a byte starts a two-byte character, and the next
// character of a string as one number with its letters in one case (ASCII,
// full-width Latin, Greek and Cyrillic), as the system's case table folds
// them.  A lead byte at the very end stands alone.
bool HostIsLeadByte(unsigned char byte);
unsigned HostFoldUnit(const unsigned char** text);
// Compares two code page 932 strings unit by folded unit: -1, 0 or 1.
int HostCompareFolded(const char* a, const char* b);

// Frees the records of a model; called by HostResetPlatform.
void HostResetFiles();
void HostResetMemory();
void HostResetModules();
void HostResetRegistry();
void HostResetMutexes();
void HostResetUi();

#endif
