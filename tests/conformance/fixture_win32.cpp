// The conformance fixture over the real Win32 calls, for Windows and Wine:
// a fresh folder in the current directory, attributes through
// SetFileAttributesA, listings through FindFirstFileA, registry values
// stored through the wide calls so that strings keep exactly the bytes
// given (and no more), and a key made read-only through its security
// descriptor.
#include <algorithm>

#include "fixture.h"

#include <sddl.h>

bool FxStart() {
  char name[64];
  wsprintfA(name, "conformance-%lu", GetTickCount());
  return CreateDirectoryA(name, NULL) && SetCurrentDirectoryA(name);
}

bool FxUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != NULL && GetProcAddress(ntdll, "wine_get_version") != NULL;
}

const char* FxBackend() {
  static char name[64];
  typedef const char*(CDECL * WineVersion)(void);
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  WineVersion version = ntdll ? reinterpret_cast<WineVersion>(
                                    reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")))
                              : NULL;
  if (version == NULL) return "Windows";
  wsprintfA(name, "Wine %s", version());
  return name;
}

bool FxWriteFile(const char* name, const std::string& bytes) {
  HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
  CloseHandle(file);
  return ok && written == bytes.size();
}

bool FxReadFile(const char* name, std::string* bytes) {
  HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  bytes->clear();
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0) bytes->append(buffer, got);
  CloseHandle(file);
  return true;
}

// Each prefix that ends before a real separator, walking two-byte
// characters whole (CharNextA), so a trail byte 0x5C splits nothing.
bool FxMakeFolder(const char* name) {
  for (const char* p = name;; p = CharNextA(p)) {
    if (*p != '\\' && *p != 0) continue;
    std::string folder(name, static_cast<size_t>(p - name));
    if (!CreateDirectoryA(folder.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    if (*p == 0) return true;
  }
}

bool FxSetAttributes(const char* name, DWORD attributes) {
  return SetFileAttributesA(name, attributes ? attributes : FILE_ATTRIBUTE_NORMAL) != 0;
}

bool FxFolderNames(const char* folder, std::vector<std::string>* names) {
  names->clear();
  std::string pattern = std::string(folder) + "\\*";
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    std::string name = found.cFileName;
    if (name != "." && name != "..") names->push_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(names->begin(), names->end());
  return true;
}

bool FxRegCreateKey(const char* path) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// Gives the key back its rights first, should a case have taken them.
bool FxRegDeleteKey(const char* path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, WRITE_DAC, &key) == ERROR_SUCCESS) {
    SECURITY_DESCRIPTOR open;
    InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&open, TRUE, NULL, FALSE);
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &open);
    RegCloseKey(key);
  }
  HKEY parent;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_ALL_ACCESS, &parent) == ERROR_SUCCESS) {
    char child[256];
    DWORD size = sizeof child;
    while (RegEnumKeyExA(parent, 0, child, &size, NULL, NULL, NULL, NULL) == ERROR_SUCCESS) {
      std::string sub = std::string(path) + "\\" + child;
      if (!FxRegDeleteKey(sub.c_str())) break;
      size = sizeof child;
    }
    RegCloseKey(parent);
  }
  return RegDeleteKeyA(HKEY_CURRENT_USER, path) == ERROR_SUCCESS;
}

bool FxRegSetValue(const char* path, const char* name, DWORD type, const std::string& bytes) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
  LONG result;
  if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
    WCHAR wide[512];
    int n = bytes.empty() ? 0
                          : MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(),
                                                static_cast<int>(bytes.size()), wide, 512);
    // The system stores one more NUL when the character just past the
    // data is one, so that character must not be.
    if (n >= 0 && n < 512) wide[n] = L'?';
    WCHAR wideName[64];
    MultiByteToWideChar(932, 0, name, -1, wideName, 64);
    result = (n > 0 || bytes.empty())
                 ? RegSetValueExW(key, wideName, 0, type, reinterpret_cast<const BYTE*>(wide),
                                  static_cast<DWORD>(n * sizeof(WCHAR)))
                 : ERROR_INVALID_DATA;
  } else {
    result = RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                            static_cast<DWORD>(bytes.size()));
  }
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

bool FxRegReadOnly(const char* path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, WRITE_DAC, &key) != ERROR_SUCCESS) return false;
  PSECURITY_DESCRIPTOR descriptor = NULL;
  // Everyone may read the key, and no one may do more.
  BOOL made = ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)", SDDL_REVISION_1,
                                                                   &descriptor, NULL);
  LONG result = made ? RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) : ERROR_INVALID_DATA;
  if (descriptor) LocalFree(descriptor);
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

// ReleaseMutex succeeds only for the owner; the mutex is taken again so
// that the case's view of it is unchanged.
bool FxMutexOwned(HANDLE handle, const char*) {
  if (!ReleaseMutex(handle)) return false;
  WaitForSingleObject(handle, 0);
  return true;
}

bool FxDefineDialog() { return true; }

HINSTANCE FxInstance() { return GetModuleHandleA(NULL); }
