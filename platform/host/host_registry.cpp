// The current user's registry, modelled in memory.  Key paths and value
// names compare without regard to ASCII case; data is the raw bytes the
// ANSI calls deliver, whatever the value's type.
#include <string.h>

#include <map>
#include <string>

#include "host_internal.h"

namespace {

struct Value {
  DWORD type;
  std::string data;
};

struct Key {
  unsigned generation;  // a key deleted and made again is another key
  bool denyWrite;
  std::map<std::string, Value> values;
};

struct OpenKey {
  HostObject base;
  std::string path;
  unsigned generation;
  REGSAM access;
};

std::map<std::string, Key> g_keys;
unsigned g_generation = 1;

std::string Fold(const char* text) {
  std::string folded(text ? text : "");
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return folded;
}

OpenKey* FindKey(HKEY handle) {
  return reinterpret_cast<OpenKey*>(HostFindObject(handle, HOST_OBJECT_KEY));
}

// The key behind an open handle, or null with *error set: a handle whose
// key was deleted since it was opened reports ERROR_KEY_DELETED.
Key* KeyOf(HKEY handle, LONG* error) {
  OpenKey* open = FindKey(handle);
  if (open == nullptr) {
    *error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  auto found = g_keys.find(open->path);
  if (found == g_keys.end() || found->second.generation != open->generation) {
    *error = ERROR_KEY_DELETED;
    return nullptr;
  }
  return &found->second;
}

}  // namespace

LONG RegOpenKeyExA(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY key) {
  if (key == nullptr) return ERROR_INVALID_PARAMETER;
  *key = nullptr;
  if (root != HKEY_CURRENT_USER || options != 0) return ERROR_INVALID_PARAMETER;
  DWORD error = 0;
  if (HostCheckFault(HOST_CALL_REG_OPEN, &error) == HOST_FAULT_FAIL)
    return static_cast<LONG>(error ? error : ERROR_ACCESS_DENIED);
  std::string folded = Fold(path);
  auto found = g_keys.find(folded);
  if (found == g_keys.end()) return ERROR_FILE_NOT_FOUND;
  if (found->second.denyWrite && (access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  OpenKey* open = new OpenKey{{HOST_OBJECT_KEY}, folded, found->second.generation, access};
  HostAddObject(&open->base);
  *key = reinterpret_cast<HKEY>(&open->base);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY handle, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD size) {
  if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
  LONG error = 0;
  Key* key = KeyOf(handle, &error);
  if (key == nullptr) return error;
  if (!(FindKey(handle)->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  DWORD fault = 0;
  if (HostCheckFault(HOST_CALL_REG_QUERY, &fault) == HOST_FAULT_FAIL)
    return static_cast<LONG>(fault ? fault : ERROR_ACCESS_DENIED);
  auto found = key->values.find(Fold(name));
  if (found == key->values.end()) return ERROR_FILE_NOT_FOUND;
  const Value& value = found->second;
  DWORD needed = static_cast<DWORD>(value.data.size());
  if (type != nullptr) *type = value.type;
  if (data == nullptr) {
    if (size != nullptr) *size = needed;
    return ERROR_SUCCESS;
  }
  if (needed > *size) {
    // The buffer's contents are undefined then; the model leaves the part
    // that fitted, so nothing may rely on the buffer after this error.
    memcpy(data, value.data.data(), *size);
    *size = needed;
    return ERROR_MORE_DATA;
  }
  memcpy(data, value.data.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY handle, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size) {
  if (reserved != 0 || (data == nullptr && size != 0)) return ERROR_INVALID_PARAMETER;
  LONG error = 0;
  Key* key = KeyOf(handle, &error);
  if (key == nullptr) return error;
  if (!(FindKey(handle)->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  DWORD fault = 0;
  if (HostCheckFault(HOST_CALL_REG_SET, &fault) == HOST_FAULT_FAIL)
    return static_cast<LONG>(fault ? fault : ERROR_ACCESS_DENIED);
  Value& value = key->values[Fold(name)];
  value.type = type;
  value.data.assign(reinterpret_cast<const char*>(data), size);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY handle) {
  OpenKey* open = FindKey(handle);
  if (open == nullptr) return ERROR_INVALID_HANDLE;
  HostRemoveObject(&open->base);
  delete open;
  return ERROR_SUCCESS;
}

void HostRegCreateKey(const char* path) {
  std::string folded = Fold(path);
  if (g_keys.count(folded) == 0) g_keys[folded] = Key{g_generation++, false, {}};
}

void HostRegDeleteKey(const char* path) { g_keys.erase(Fold(path)); }

bool HostRegKeyExists(const char* path) { return g_keys.count(Fold(path)) != 0; }

void HostRegDenyWrite(const char* path) {
  HostRegCreateKey(path);
  g_keys[Fold(path)].denyWrite = true;
}

void HostRegSetValue(const char* path, const char* name, DWORD type, const void* data,
                     DWORD size) {
  HostRegCreateKey(path);
  Value& value = g_keys[Fold(path)].values[Fold(name)];
  value.type = type;
  value.data.assign(static_cast<const char*>(data), size);
}

bool HostRegGetValue(const char* path, const char* name, DWORD* type, std::string* data) {
  auto key = g_keys.find(Fold(path));
  if (key == g_keys.end()) return false;
  auto value = key->second.values.find(Fold(name));
  if (value == key->second.values.end()) return false;
  if (type != nullptr) *type = value->second.type;
  if (data != nullptr) *data = value->second.data;
  return true;
}

void HostResetRegistry() { g_keys.clear(); }
