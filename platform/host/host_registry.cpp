// The current user's registry, modelled in memory.  Key paths and value
// names compare without regard to ASCII case; data is the raw bytes the
// ANSI calls deliver, whatever the value's type.
//
// Not modelled, on purpose: the system's RegSetValueExA stores one NUL
// more for a string whose caller's buffer happens to hold a NUL just past
// the size given.  The program writes only REG_BINARY, and the model never
// reads past the bytes it was given.
#include <stdio.h>
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
  REGSAM rights;        // what the current user may open it for
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

const HostFlagName ACCESS_NAMES[] = {
    {KEY_ALL_ACCESS, "KEY_ALL_ACCESS"}, {KEY_READ, "KEY_READ"}, {KEY_WRITE, "KEY_WRITE"}, {0, nullptr}};
const HostFlagName TYPE_NAMES[] = {{REG_NONE, "REG_NONE"},     {REG_SZ, "REG_SZ"},
                                   {REG_EXPAND_SZ, "REG_EXPAND_SZ"}, {REG_BINARY, "REG_BINARY"},
                                   {REG_DWORD, "REG_DWORD"},   {REG_MULTI_SZ, "REG_MULTI_SZ"},
                                   {0, nullptr}};

// The specific and standard rights of an access mask; generic bits are
// not used by the program and count as asked for in full.
const REGSAM RIGHTS_MASK = 0x001F003Fu;

bool IsString(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

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
  HostLogCall("RegOpenKeyExA(" + std::string(root == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : HostPointerText(root)) +
              ", " + HostQuoted(path) + ", " + std::to_string(options) + ", " +
              HostEnumText(access, ACCESS_NAMES) + ", " + (key ? "&key" : "NULL") + ")");
  if (key == nullptr) return ERROR_INVALID_PARAMETER;
  *key = nullptr;
  if (root != HKEY_CURRENT_USER || options != 0) return ERROR_INVALID_PARAMETER;
  DWORD error = 0;
  if (HostCheckFault(HOST_CALL_REG_OPEN, &error) == HOST_FAULT_FAIL)
    return static_cast<LONG>(error);
  std::string folded = Fold(path);
  auto found = g_keys.find(folded);
  if (found == g_keys.end()) return ERROR_FILE_NOT_FOUND;
  if ((access & RIGHTS_MASK & ~found->second.rights) != 0) return ERROR_ACCESS_DENIED;
  OpenKey* open = new OpenKey{{HOST_OBJECT_KEY}, folded, found->second.generation, access};
  HostAddObject(&open->base);
  *key = reinterpret_cast<HKEY>(&open->base);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY handle, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD size) {
  HostLogCall("RegQueryValueExA(key, " + HostQuoted(name) + ", " + HostPointerText(reserved) + ", " +
              (type ? "&type" : "NULL") + ", " + (data ? "data" : "NULL") + ", " +
              (size ? std::to_string(*size) : "NULL") + ")");
  if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
  LONG error = 0;
  Key* key = KeyOf(handle, &error);
  if (key == nullptr) return error;
  if (!(FindKey(handle)->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  DWORD fault = 0;
  if (HostCheckFault(HOST_CALL_REG_QUERY, &fault) == HOST_FAULT_FAIL)
    return static_cast<LONG>(fault);
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
  // A string stored without its NUL gets one where the buffer has room;
  // the size given back still counts the stored bytes alone.
  if (IsString(value.type) && needed < *size && (needed == 0 || value.data[needed - 1] != 0))
    data[needed] = 0;
  *size = needed;
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY handle, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size) {
  std::string bytes;
  for (DWORD i = 0; data != nullptr && i < size && i < 16; ++i) {
    char hex[4];
    snprintf(hex, sizeof hex, "%s%02X", i ? " " : "", data[i]);
    bytes += hex;
  }
  HostLogCall("RegSetValueExA(key, " + HostQuoted(name) + ", " + std::to_string(reserved) + ", " +
              HostEnumText(type, TYPE_NAMES) + ", {" + bytes + (size > 16 ? " ..." : "") + "}, " +
              std::to_string(size) + ")");
  if (reserved != 0 || (data == nullptr && size != 0)) return ERROR_INVALID_PARAMETER;
  LONG error = 0;
  Key* key = KeyOf(handle, &error);
  if (key == nullptr) return error;
  if (!(FindKey(handle)->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  DWORD fault = 0;
  if (HostCheckFault(HOST_CALL_REG_SET, &fault) == HOST_FAULT_FAIL)
    return static_cast<LONG>(fault);
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
  if (g_keys.count(folded) == 0) g_keys[folded] = Key{g_generation++, KEY_ALL_ACCESS, {}};
}

void HostRegDeleteKey(const char* path) { g_keys.erase(Fold(path)); }

bool HostRegKeyExists(const char* path) { return g_keys.count(Fold(path)) != 0; }

void HostRegDenyWrite(const char* path) {
  HostRegCreateKey(path);
  g_keys[Fold(path)].rights = KEY_READ;
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
