// What the platform conformance cases need beyond the calls under test: a
// scene to run them in (files, folders, attributes, registry keys) and a
// way to look at the result.  One implementation a backend: the host
// model's test controls (fixture_host.cpp) and the real Win32 calls
// (fixture_win32.cpp).  Each returns false when it could not do its part,
// which fails the case that asked.
#ifndef UPDATER_CONFORMANCE_FIXTURE_H
#define UPDATER_CONFORMANCE_FIXTURE_H

#include <string>
#include <vector>

#include "platform/platform.h"

// Makes a fresh, empty working folder and enters it; called once, first.
bool FxStart();
// Which backend runs the cases: "host model", "Windows" or "Wine x.y".
const char* FxBackend();
// Whether the cases run under Wine, where its known departures are skipped.
bool FxUnderWine();

// Files and folders, named as the program would name them (code page 932,
// backslashes), relative to the working folder.
bool FxWriteFile(const char* name, const std::string& bytes);
bool FxReadFile(const char* name, std::string* bytes);
// Makes the folder, and any folder above it that is missing.
bool FxMakeFolder(const char* name);
// FILE_ATTRIBUTE_READONLY, _HIDDEN and _SYSTEM, or 0 to clear them.
bool FxSetAttributes(const char* name, DWORD attributes);
// The names a folder holds, as the file system spells them, sorted.
bool FxFolderNames(const char* folder, std::vector<std::string>* names);

// Registry keys under HKEY_CURRENT_USER.
bool FxRegCreateKey(const char* path);
bool FxRegDeleteKey(const char* path);
// Stores a value exactly: strings (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ)
// as the code page 932 bytes given, with or without a NUL at the end.
bool FxRegSetValue(const char* path, const char* name, DWORD type, const std::string& bytes);
// The key grants the current user KEY_READ and no more.
bool FxRegReadOnly(const char* path);

// Whether this process owns the mutex behind handle, of that name.
bool FxMutexOwned(HANDLE handle, const char* name);

// The dialog template 100 (one static control 100 with the text "abc",
// default button IDOK) and the module that holds it.
bool FxDefineDialog();
HINSTANCE FxInstance();

#endif
