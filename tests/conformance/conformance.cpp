// Platform conformance: the Win32 calls the updater makes, with the
// arguments it passes and the edges around them, as cases that run
// unchanged on both backends.  Built over the host model it checks the
// model; built with MinGW and run under Wine (or on Windows) it checks the
// same expectations against the real calls.  Expected values come from
// Microsoft's documentation; where Wine departs from it, the case says so
// and is skipped under Wine with that reason.
//
// Out-parameters start as 0xdeadbeef and buffers end in a canary, so that
// a call which forgets to set one, or writes past what it was given, shows.
// Every failure prints its case and what it got.  The last line counts the
// cases: "N passed, N failed, N skipped".
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "fixture.h"
#include "tools/common/bytes.h"

namespace {

const DWORD SENTINEL = 0xdeadbeef;
const char CANARY = '\x5A';

// The run's tally.  A case is one row of a table, or one named check.
int g_passed, g_failed, g_skipped;
char g_case[512];
bool g_inCase, g_caseFailed;

void EndCase() {
  if (!g_inCase) return;
  if (g_caseFailed) {
    ++g_failed;
  } else {
    ++g_passed;
  }
  g_inCase = false;
}

void Case(const char* format, ...) {
  EndCase();
  va_list args;
  va_start(args, format);
  vsnprintf(g_case, sizeof g_case, format, args);
  va_end(args);
  g_inCase = true;
  g_caseFailed = false;
}

// Skips the current case under Wine, where Wine is known to depart from
// the documented behaviour the case expects.  Returns true when skipped.
bool WineDeparts(const char* why) {
  if (!FxUnderWine()) return false;
  printf("SKIP %s: Wine departs from the documentation: %s\n", g_case, why);
  ++g_skipped;
  g_inCase = false;
  return true;
}

void Fail(int line, const char* format, ...) {
  char what[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(what, sizeof what, format, args);
  va_end(args);
  printf("FAIL %s (line %d): %s\n", g_case, line, what);
  g_caseFailed = true;
}

#define EXPECT(cond)                                \
  do {                                              \
    if (!(cond)) Fail(__LINE__, "not so: %s", #cond); \
  } while (0)
#define EXPECT_U(got, want)                                                                    \
  do {                                                                                         \
    unsigned long long got_ = (unsigned long long)(got), want_ = (unsigned long long)(want);   \
    if (got_ != want_) Fail(__LINE__, "%s is %llu (0x%llx), expected %llu", #got, got_, got_, want_); \
  } while (0)
#define EXPECT_BYTES(got, want)                                                                 \
  do {                                                                                          \
    std::string got_ = (got), want_ = (want);                                                   \
    if (got_ != want_)                                                                          \
      Fail(__LINE__, "%s is %s, expected %s", #got, HexBytes(got_).c_str(), HexBytes(want_).c_str());     \
  } while (0)

bool Valid(HANDLE file) { return file != NULL && file != INVALID_HANDLE_VALUE; }

std::string Contents(const char* name) {
  std::string bytes;
  if (!FxReadFile(name, &bytes)) return "<none>";
  return bytes;
}

// ---------------------------------------------------------------- files

const DWORD R = GENERIC_READ, W = GENERIC_WRITE;
const DWORD SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE;

void CreateFileDispositions() {
  enum Scene { NOTHING, PLAIN, READ_ONLY, HIDDEN, SYSTEM, FOLDER };
  struct Row {
    const char* what;
    Scene scene;
    const char* name;  // "f" is the file the scene makes, in folder "d"
    DWORD access, disposition, flags;
    DWORD error;        // 0: the open succeeds
    DWORD lastError;    // after a success; SENTINEL: not documented
    const char* after;  // the file's bytes afterwards; null: no file
    const char* wine;   // Wine's departure, if any
  } rows[] = {
      {"OPEN_EXISTING of a file", PLAIN, "d\\f", R, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0, SENTINEL, "old", 0},
      {"OPEN_EXISTING of no file", NOTHING, "d\\f", R, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
       ERROR_FILE_NOT_FOUND, 0, 0, 0},
      {"OPEN_EXISTING in a missing folder", NOTHING, "d\\none\\f", R, OPEN_EXISTING,
       FILE_ATTRIBUTE_NORMAL, ERROR_PATH_NOT_FOUND, 0, 0, 0},
      {"OPEN_EXISTING of a read-only file to read", READ_ONLY, "d\\f", R, OPEN_EXISTING,
       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, 0, SENTINEL, "old", 0},
      {"OPEN_EXISTING of a folder", FOLDER, "d\\f", R, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
       ERROR_ACCESS_DENIED, 0, 0, 0},
      {"CREATE_ALWAYS of a new file", NOTHING, "d\\f", W, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0,
       NO_ERROR, "", 0},
      {"CREATE_ALWAYS over a file", PLAIN, "d\\f", W, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0,
       ERROR_ALREADY_EXISTS, "", 0},
      {"CREATE_ALWAYS in a missing folder", NOTHING, "d\\none\\f", W, CREATE_ALWAYS,
       FILE_ATTRIBUTE_NORMAL, ERROR_PATH_NOT_FOUND, 0, 0, 0},
      {"CREATE_ALWAYS over a read-only file", READ_ONLY, "d\\f", W, CREATE_ALWAYS,
       FILE_ATTRIBUTE_NORMAL, ERROR_ACCESS_DENIED, 0, "old", 0},
      {"CREATE_ALWAYS over a hidden file", HIDDEN, "d\\f", W, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
       ERROR_ACCESS_DENIED, 0, "old", "Wine replaces a hidden file with FILE_ATTRIBUTE_NORMAL"},
      {"CREATE_ALWAYS over a system file", SYSTEM, "d\\f", W, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
       ERROR_ACCESS_DENIED, 0, "old", "Wine replaces a system file with FILE_ATTRIBUTE_NORMAL"},
      {"CREATE_ALWAYS over a hidden file, hidden again", HIDDEN, "d\\f", W, CREATE_ALWAYS,
       FILE_ATTRIBUTE_HIDDEN, 0, ERROR_ALREADY_EXISTS, "", 0},
      {"CREATE_ALWAYS over a folder", FOLDER, "d\\f", W, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
       ERROR_ACCESS_DENIED, 0, 0, 0},
  };
  int n = 0;
  for (const Row& row : rows) {
    Case("CreateFileA: %s", row.what);
    if (row.wine && WineDeparts(row.wine)) continue;
    char folder[32];
    snprintf(folder, sizeof folder, "disp%d", n++);
    std::string name = folder + std::string(row.name + 1);
    std::string file = std::string(folder) + "\\f";
    EXPECT(FxMakeFolder(folder));
    if (row.scene == FOLDER) {
      EXPECT(FxMakeFolder(file.c_str()));
    } else if (row.scene != NOTHING) {
      EXPECT(FxWriteFile(file.c_str(), "old"));
      DWORD attributes = row.scene == READ_ONLY ? FILE_ATTRIBUTE_READONLY
                         : row.scene == HIDDEN  ? FILE_ATTRIBUTE_HIDDEN
                         : row.scene == SYSTEM  ? FILE_ATTRIBUTE_SYSTEM
                                                : 0;
      if (attributes) EXPECT(FxSetAttributes(file.c_str(), attributes));
    }
    SetLastError(SENTINEL);
    HANDLE h = CreateFileA(name.c_str(), row.access, SR, NULL, row.disposition, row.flags, NULL);
    DWORD error = GetLastError();
    if (row.error == 0) {
      EXPECT(Valid(h));
      if (row.lastError != SENTINEL) EXPECT_U(error, row.lastError);
    } else {
      EXPECT(h == INVALID_HANDLE_VALUE);
      EXPECT_U(error, row.error);
    }
    if (Valid(h)) CloseHandle(h);
    if (row.scene != FOLDER) {
      if (row.after) {
        EXPECT_BYTES(Contents(file.c_str()), row.after);
      } else {
        EXPECT(!FxReadFile(file.c_str(), &name));
      }
    }
    if (row.scene != NOTHING && row.scene != FOLDER) FxSetAttributes(file.c_str(), 0);
  }
}

// A second handle to an open file, for every access and share mode the
// program could pass: the second open succeeds only if each handle's share
// mode allows the other's access.  Each row is the first handle; its
// string gives the second open's outcome ('y' opens) in the order of
// MODES.
void ShareMatrix() {
  struct Mode {
    const char* name;
    DWORD access, share;
  };
  const Mode MODES[] = {
      {"R/-", R, 0},      {"R/R", R, SR},      {"R/W", R, SW},      {"R/RW", R, SR | SW},
      {"W/-", W, 0},      {"W/R", W, SR},      {"W/W", W, SW},      {"W/RW", W, SR | SW},
      {"RW/-", R | W, 0}, {"RW/R", R | W, SR}, {"RW/W", R | W, SW}, {"RW/RW", R | W, SR | SW},
  };
  const char* const OUTCOMES[] = {
      "............", ".y.y........", ".....y.y....", ".y.y.y.y.y.y",
      "............", "..yy........", "......yy....", "..yy..yy..yy",
      "............", "...y........", ".......y....", "...y...y...y",
  };
  FxWriteFile("shared.dat", "data");
  for (int i = 0; i < 12; ++i) {
    for (int j = 0; j < 12; ++j) {
      Case("share: first %s, then %s", MODES[i].name, MODES[j].name);
      HANDLE first = CreateFileA("shared.dat", MODES[i].access, MODES[i].share, NULL, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, NULL);
      EXPECT(Valid(first));
      SetLastError(SENTINEL);
      HANDLE second = CreateFileA("shared.dat", MODES[j].access, MODES[j].share, NULL, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
      DWORD error = GetLastError();
      if (OUTCOMES[i][j] == 'y') {
        EXPECT(Valid(second));
      } else {
        EXPECT(second == INVALID_HANDLE_VALUE);
        EXPECT_U(error, ERROR_SHARING_VIOLATION);
      }
      if (Valid(second)) CloseHandle(second);
      if (Valid(first)) CloseHandle(first);
    }
  }
}

// The program's two opens against a file that the running game holds:
// the loose source (GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING) and the
// target (GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_ALWAYS).  A refused
// CREATE_ALWAYS leaves the file as it was.
void ProgramOpensAgainstAHolder() {
  struct Row {
    const char* holder;
    DWORD access, share;
    bool sourceOpens, targetOpens;
  } rows[] = {
      {"reads, shares nothing", R, 0, false, false},
      {"reads, shares reading", R, SR, true, false},
      {"reads, shares writing", R, SW, false, false},
      {"reads, shares both", R, SR | SW, true, false},
      {"writes, shares reading", W, SR, false, false},
      {"writes, shares writing", W, SW, false, true},
      {"writes, shares both", W, SR | SW, false, true},
      {"reads and writes, shares both", R | W, SR | SW, false, false},
  };
  for (const Row& row : rows) {
    Case("the program's opens, the game %s", row.holder);
    EXPECT(FxWriteFile("held.pak", "game data"));
    HANDLE holder = CreateFileA("held.pak", row.access, row.share, NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    EXPECT(Valid(holder));
    HANDLE source = CreateFileA("held.pak", R, SR, NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    EXPECT_U(Valid(source), row.sourceOpens);
    if (Valid(source)) CloseHandle(source);
    SetLastError(SENTINEL);
    HANDLE target = CreateFileA("held.pak", W, SW, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    EXPECT_U(Valid(target), row.targetOpens);
    if (!row.targetOpens) EXPECT_U(GetLastError(), ERROR_SHARING_VIOLATION);
    if (Valid(target)) CloseHandle(target);
    if (Valid(holder)) CloseHandle(holder);
    EXPECT_BYTES(Contents("held.pak"), row.targetOpens ? "" : "game data");
  }
}

// How a name finds its file: letter case, trailing dots and spaces, doubled
// and trailing separators, and code page 932 characters whose second byte
// is 0x5C.
void Names() {
  struct Row {
    const char* what;
    const char* existing;  // made first, with the bytes "old"
    const char* opened;
    DWORD disposition;
    DWORD error;            // 0: opens
    const char* folder;     // the folder to list afterwards
    const char* listing;    // its names, '|' between them
  } rows[] = {
      {"another case opens the file", "nm1\\patch110.dat", "nm1\\PATCH110.DAT", OPEN_EXISTING, 0, "nm1",
       "patch110.dat"},
      {"another case is replaced in place", "nm2\\INSTDATA.PAK", "nm2\\InstData.pak", CREATE_ALWAYS, 0,
       "nm2", "INSTDATA.PAK"},
      {"full-width letters of another case", "nm3\\ａｂｃ.dat", "nm3\\ＡＢＣ.dat", OPEN_EXISTING, 0, "nm3",
       "ａｂｃ.dat"},
      {"a trailing dot", "nm4\\Archive.ini", "nm4\\Archive.ini.", OPEN_EXISTING, 0, "nm4", "Archive.ini"},
      {"trailing dots and spaces", "nm5\\Archive.ini", "nm5\\Archive.ini. .", CREATE_ALWAYS, 0, "nm5",
       "Archive.ini"},
      {"a doubled backslash", "nm6\\a.dat", "nm6\\\\a.dat", OPEN_EXISTING, 0, "nm6", "a.dat"},
      {"a forward slash", "nm7\\a.dat", "nm7/a.dat", OPEN_EXISTING, 0, "nm7", "a.dat"},
      {"dot and dot-dot", "nm8\\a.dat", "nm8\\.\\x\\..\\a.dat", OPEN_EXISTING, 0, "nm8", "a.dat"},
      {"a trailing backslash", "nm9\\a.dat", "nm9\\a.dat\\", OPEN_EXISTING, ERROR_INVALID_NAME, "nm9",
       "a.dat"},
      {"a trailing backslash, to create", 0, "nm10\\b.dat\\", CREATE_ALWAYS, ERROR_INVALID_NAME, "nm10",
       ""},
      {"0x5C trail bytes in folders and file", "ソフト\\表示\\能.dat", "ソフト\\表示\\能.dat", OPEN_EXISTING,
       0, "ソフト\\表示", "能.dat"},
      {"a file named by one 0x5C character", 0, "nm11\\ソ", CREATE_ALWAYS, 0, "nm11", "ソ"},
      {"0x5C trail bytes, another case", "nm12\\表.DAT", "nm12\\表.dat", CREATE_ALWAYS, 0, "nm12",
       "表.DAT"},
  };
  for (const Row& row : rows) {
    Case("names: %s", row.what);
    EXPECT(FxMakeFolder(row.folder));
    if (row.existing) EXPECT(FxWriteFile(row.existing, "old"));
    SetLastError(SENTINEL);
    DWORD access = row.disposition == OPEN_EXISTING ? R : W;
    HANDLE h = CreateFileA(row.opened, access, SR, NULL, row.disposition, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD error = GetLastError();
    if (row.error == 0) {
      EXPECT(Valid(h));
      if (row.disposition == CREATE_ALWAYS) EXPECT_U(error, row.existing ? ERROR_ALREADY_EXISTS : NO_ERROR);
      if (Valid(h) && row.disposition == OPEN_EXISTING) {
        char buffer[8] = {};
        DWORD got = SENTINEL;
        EXPECT(ReadFile(h, buffer, sizeof buffer, &got, NULL));
        EXPECT_BYTES(std::string(buffer, got), "old");
      }
    } else {
      EXPECT(h == INVALID_HANDLE_VALUE);
      EXPECT_U(error, row.error);
    }
    if (Valid(h)) CloseHandle(h);
    std::vector<std::string> names;
    EXPECT(FxFolderNames(row.folder, &names));
    std::string listing;
    for (const std::string& name : names) listing += (listing.empty() ? "" : "|") + name;
    EXPECT_BYTES(listing, row.listing);
  }
}

void ReadsAndWrites() {
  EXPECT(FxWriteFile("rw.bin", "0123456789"));
  HANDLE file = CreateFileA("rw.bin", R, SR, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  struct Row {
    const char* what;
    LONG seekTo;  // from the start, before the read
    DWORD count;
    const char* expected;
  } rows[] = {
      {"from the start", 0, 4, "0123"},
      {"zero bytes", 0, 0, ""},
      {"across the end", 8, 4, "89"},
      {"at the end", 10, 4, ""},
      {"past the end", 25, 4, ""},
  };
  for (const Row& row : rows) {
    Case("ReadFile %s", row.what);
    EXPECT(Valid(file));
    EXPECT_U(SetFilePointer(file, row.seekTo, NULL, FILE_BEGIN), row.seekTo);
    char buffer[16];
    memset(buffer, CANARY, sizeof buffer);
    DWORD got = SENTINEL;
    EXPECT(ReadFile(file, buffer, row.count, &got, NULL));
    EXPECT_BYTES(std::string(buffer, got <= sizeof buffer ? got : 0), row.expected);
    EXPECT_U(buffer[row.count], CANARY);
  }
  Case("WriteFile on a handle opened to read");
  DWORD done = SENTINEL;
  SetLastError(SENTINEL);
  EXPECT(!WriteFile(file, "x", 1, &done, NULL));
  EXPECT_U(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_U(done, 0);
  if (Valid(file)) CloseHandle(file);

  file = CreateFileA("rw.bin", W, SW, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  Case("WriteFile of zero bytes");
  done = SENTINEL;
  EXPECT(WriteFile(file, "abc", 3, &done, NULL));
  EXPECT_U(done, 3);
  done = SENTINEL;
  EXPECT(WriteFile(file, "xyz", 0, &done, NULL));
  EXPECT_U(done, 0);
  Case("WriteFile past the end fills the gap with zeros");
  EXPECT_U(SetFilePointer(file, 6, NULL, FILE_BEGIN), 6);
  done = SENTINEL;
  EXPECT(WriteFile(file, "!", 1, &done, NULL));
  EXPECT_U(done, 1);
  Case("ReadFile on a handle opened to write");
  char buffer[4];
  SetLastError(SENTINEL);
  done = SENTINEL;
  EXPECT(!ReadFile(file, buffer, 1, &done, NULL));
  EXPECT_U(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_U(done, 0);
  if (Valid(file)) CloseHandle(file);
  Case("what the writes left");
  EXPECT_BYTES(Contents("rw.bin"), std::string("abc\0\0\0!", 7));
}

void FilePointerAndSize() {
  EXPECT(FxWriteFile("seek.bin", "0123456789"));
  HANDLE file = CreateFileA("seek.bin", R, SR, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  struct Row {
    const char* what;
    DWORD method;
    LONG distance;
    DWORD result;  // INVALID_SET_FILE_POINTER: refused with ERROR_NEGATIVE_SEEK
    DWORD positionAfter;
  } rows[] = {
      {"forward", FILE_CURRENT, 3, 3, 3},
      {"forward again", FILE_CURRENT, 4, 7, 7},
      {"backward", FILE_CURRENT, -5, 2, 2},
      {"before byte 0", FILE_CURRENT, -3, INVALID_SET_FILE_POINTER, 2},
      {"past the end", FILE_CURRENT, 100, 102, 102},
      {"from the start", FILE_BEGIN, 4, 4, 4},
      {"from the end", FILE_END, -10, 0, 0},
      {"before byte 0 from the end", FILE_END, -11, INVALID_SET_FILE_POINTER, 0},
  };
  for (const Row& row : rows) {
    Case("SetFilePointer %s", row.what);
    EXPECT(Valid(file));
    SetLastError(SENTINEL);
    EXPECT_U(SetFilePointer(file, row.distance, NULL, row.method), row.result);
    if (row.result == INVALID_SET_FILE_POINTER) EXPECT_U(GetLastError(), ERROR_NEGATIVE_SEEK);
    EXPECT_U(SetFilePointer(file, 0, NULL, FILE_CURRENT), row.positionAfter);
  }
  Case("GetFileSize with and without the high part");
  DWORD high = SENTINEL;
  EXPECT_U(GetFileSize(file, &high), 10);
  EXPECT_U(high, 0);
  EXPECT_U(GetFileSize(file, NULL), 10);
  if (Valid(file)) CloseHandle(file);

  Case("GetFileSize of an empty file");
  EXPECT(FxWriteFile("empty.bin", ""));
  file = CreateFileA("empty.bin", R, SR, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  high = SENTINEL;
  EXPECT_U(GetFileSize(file, &high), 0);
  EXPECT_U(high, 0);
  if (Valid(file)) CloseHandle(file);

  Case("CloseHandle of a closed handle");
  SetLastError(SENTINEL);
  EXPECT(!CloseHandle(file));
  EXPECT_U(GetLastError(), ERROR_INVALID_HANDLE);
}

// --------------------------------------------------------------- memory

void Memory() {
  Case("GlobalAlloc(GPTR, 0) is a block of its own");
  void* empty = GlobalAlloc(GPTR, 0);
  void* other = GlobalAlloc(GPTR, 0);
  EXPECT(empty != NULL);
  EXPECT(other != NULL && other != empty);
  if (other) GlobalFree(GlobalHandle(other));

  Case("GlobalAlloc(GPTR) fills with zeros");
  const SIZE_T sizes[] = {1, 4096, 1 << 20};
  for (SIZE_T size : sizes) {
    unsigned char* block = static_cast<unsigned char*>(GlobalAlloc(GPTR, size));
    EXPECT(block != NULL);
    SIZE_T nonzero = 0;
    for (SIZE_T i = 0; block && i < size; ++i) nonzero += block[i] != 0;
    EXPECT_U(nonzero, 0);
    if (block) {
      Case("GlobalHandle of a fixed block is the block; GlobalFree gives null");
      EXPECT(GlobalHandle(block) == static_cast<HGLOBAL>(block));
      EXPECT(GlobalFree(GlobalHandle(block)) == NULL);
      Case("GlobalAlloc(GPTR) fills with zeros");
    }
  }
  if (empty) {
    Case("GlobalFree of the 0-byte block");
    EXPECT(GlobalFree(GlobalHandle(empty)) == NULL);
  }

  const SIZE_T impossible[] = {0x80000000u, 0xFFFFFFF0u};
  for (SIZE_T size : impossible) {
    Case("GlobalAlloc of 0x%lx bytes, more than a 32-bit process has", static_cast<unsigned long>(size));
    SetLastError(SENTINEL);
    void* block = GlobalAlloc(GPTR, size);
    EXPECT(block == NULL);
    EXPECT_U(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    if (block) GlobalFree(GlobalHandle(block));
  }
}

// ----------------------------------------------------------------- text

void Text() {
  struct Row {
    const char* a;
    const char* b;
    bool equal;
  } rows[] = {
      {"patch110.dat", "PATCH110.DAT", true},
      {"InstData.pak", "instdata.PAK", true},
      {"Archive.ini", "Archive.ini", true},
      {"", "", true},
      {"a", "ab", false},
      {"[", "{", false},  // 0x5B and 0x7B: not letters, whatever their bits
      {"@", "`", false},
      {"^", "~", false},
      {"ＡＢＣ", "ａｂｃ", true},  // full-width letters have case too
      {"Ａ", "A", false},          // but not width
      {"ア", "あ", false},         // nor kana type
      {"ｱ", "ア", false},
      {"ΑΩ", "αω", true},
      {"АЯЁ", "аяё", true},
      {"ア", "ャ", false},  // 0x8341 and 0x8361: trail bytes are no letters
      {"表", "表", true},
      {"ソフト", "ｿﾌﾄ", false},
      // Control characters, hyphens, apostrophes and the kana marks weigh
      // little in the system's sort, but nothing in a name is ignored.
      {"patch110.dat\x01", "patch110.dat", false},
      {"a\x7f", "a", false},
      {"a-b", "ab", false},
      {"a'b", "ab", false},
      {"a b", "ab", false},
      {"aー", "a", false},
      {"a・b", "ab", false},
  };
  for (const Row& row : rows) {
    Case("lstrcmpiA(\"%s\", \"%s\")", HexBytes(row.a).c_str(), HexBytes(row.b).c_str());
    int forward = lstrcmpiA(row.a, row.b);
    int backward = lstrcmpiA(row.b, row.a);
    EXPECT_U(forward == 0, row.equal);
    EXPECT_U(backward == 0, row.equal);
    if (!row.equal) EXPECT((forward < 0) == (backward > 0));
  }

  Case("wsprintfA joins code page 932 strings byte for byte");
  char out[1100];
  memset(out, CANARY, sizeof out);
  int n = wsprintfA(out, "%s\\%s", "C:\\ソフト", "表示");
  EXPECT_BYTES(std::string(out, n > 0 ? n : 0), "C:\\ソフト\\表示");
  EXPECT_U(out[n > 0 ? n : 0], 0);
  EXPECT_U(out[(n > 0 ? n : 0) + 1], CANARY);

  Case("wsprintfA stops at 1024 bytes with the NUL");
  std::string big(1500, 'x');
  memset(out, CANARY, sizeof out);
  n = wsprintfA(out, "%s", big.c_str());
  EXPECT_BYTES(std::string(out, 1023), big.substr(0, 1023));
  EXPECT_U(out[1023], 0);
  EXPECT_U(out[1024], CANARY);
  Case("wsprintfA cut at its limit returns the bytes it stored");
  if (!WineDeparts("Wine returns 1024 for output cut at the limit")) EXPECT_U(n, 1023);
}

// ------------------------------------------------------------- registry

const char KEY[] = "Software\\UpdaterConformance";

void Registry() {
  FxRegDeleteKey(KEY);
  EXPECT(FxRegCreateKey(KEY));
  struct Row {
    const char* what;
    DWORD type;
    std::string stored;
    DWORD bufferSize;  // 0: no buffer, the size alone is asked for
    LONG result;
    DWORD size;
    std::string data;          // what the buffer holds from its start
    const char* wine = nullptr;  // Wine's departure, if any
  } rows[] = {
      {"REG_BINARY of 4 bytes", REG_BINARY, std::string("\x4C\x04\0\0", 4), 4, ERROR_SUCCESS, 4,
       std::string("\x4C\x04\0\0", 4)},
      {"REG_BINARY of 2 bytes into 4", REG_BINARY, "\x4C\x04", 4, ERROR_SUCCESS, 2, "\x4C\x04"},
      {"REG_BINARY of 8 bytes into 4", REG_BINARY, std::string(8, '\x11'), 4, ERROR_MORE_DATA, 8, ""},
      {"REG_BINARY of 0 bytes", REG_BINARY, "", 4, ERROR_SUCCESS, 0, ""},
      {"REG_NONE of 0 bytes", REG_NONE, "", 4, ERROR_SUCCESS, 0, ""},
      {"REG_DWORD", REG_DWORD, std::string("\x4C\x04\0\0", 4), 4, ERROR_SUCCESS, 4,
       std::string("\x4C\x04\0\0", 4)},
      {"REG_DWORD into 2", REG_DWORD, std::string("\x4C\x04\0\0", 4), 2, ERROR_MORE_DATA, 4, ""},
      {"REG_SZ with its NUL", REG_SZ, std::string("C:\\game\0", 8), 260, ERROR_SUCCESS, 8,
       std::string("C:\\game\0", 8)},
      {"REG_SZ without its NUL gets one where there is room", REG_SZ, "C:\\game", 260, ERROR_SUCCESS, 7,
       std::string("C:\\game\0", 8)},
      {"REG_SZ without its NUL, no room for one", REG_SZ, "C:\\game", 7, ERROR_SUCCESS, 7,
       std::string("C:\\game") + CANARY},
      {"REG_SZ in code page 932", REG_SZ, std::string("C:\\ソフト\\表示\0", 14), 260, ERROR_SUCCESS, 14,
       std::string("C:\\ソフト\\表示\0", 14)},
      {"REG_SZ, the size alone", REG_SZ, std::string("C:\\ソフト\0", 10), 0, ERROR_SUCCESS, 10, ""},
      {"REG_EXPAND_SZ is not expanded", REG_EXPAND_SZ, std::string("%WINDIR%\0", 9), 260, ERROR_SUCCESS, 9,
       std::string("%WINDIR%\0", 9)},
      {"REG_MULTI_SZ", REG_MULTI_SZ, std::string("a\0b\0\0", 5), 260, ERROR_SUCCESS, 5,
       std::string("a\0b\0\0", 5)},
  };
  int n = 0;
  for (const Row& row : rows) {
    Case("RegQueryValueExA: %s", row.what);
    if (row.wine && WineDeparts(row.wine)) continue;
    char name[16];
    snprintf(name, sizeof name, "v%d", n++);
    EXPECT(FxRegSetValue(KEY, name, row.type, row.stored));
    HKEY key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(SENTINEL));
    EXPECT_U(RegOpenKeyExA(HKEY_CURRENT_USER, KEY, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    BYTE buffer[300];
    memset(buffer, CANARY, sizeof buffer);
    DWORD size = row.bufferSize;
    LONG result = RegQueryValueExA(key, name, NULL, NULL, row.bufferSize ? buffer : NULL, &size);
    EXPECT_U(result, row.result);
    EXPECT_U(size, row.size);
    if (row.result == ERROR_SUCCESS && row.bufferSize) {
      EXPECT_BYTES(std::string(reinterpret_cast<char*>(buffer), row.data.size()), row.data);
    }
    if (row.bufferSize) EXPECT_U(buffer[row.bufferSize], static_cast<BYTE>(CANARY));
    RegCloseKey(key);
  }

  Case("RegQueryValueExA of a missing value");
  HKEY key = NULL;
  EXPECT_U(RegOpenKeyExA(HKEY_CURRENT_USER, KEY, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  BYTE buffer[8];
  DWORD size = sizeof buffer;
  EXPECT_U(RegQueryValueExA(key, "missing", NULL, NULL, buffer, &size), ERROR_FILE_NOT_FOUND);

  Case("RegSetValueExA of REG_BINARY reads back as stored");
  const BYTE version[4] = {0x4C, 0x04, 0x00, 0x00};
  EXPECT_U(RegSetValueExA(key, "Version", 0, REG_BINARY, version, 4), ERROR_SUCCESS);
  size = sizeof buffer;
  EXPECT_U(RegQueryValueExA(key, "VERSION", NULL, NULL, buffer, &size), ERROR_SUCCESS);
  EXPECT_BYTES(std::string(reinterpret_cast<char*>(buffer), size), std::string("\x4C\x04\0\0", 4));
  RegCloseKey(key);

  Case("RegOpenKeyExA of a missing key");
  key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(SENTINEL));
  EXPECT_U(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\UpdaterConformance\\none", 0, KEY_ALL_ACCESS, &key),
           ERROR_FILE_NOT_FOUND);

  Case("RegOpenKeyExA in another case");
  key = NULL;
  EXPECT_U(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\updaterconformance", 0, KEY_ALL_ACCESS, &key),
           ERROR_SUCCESS);
  if (key) RegCloseKey(key);

  struct Access {
    REGSAM access;
    LONG result;
  } accesses[] = {
      {KEY_ALL_ACCESS, ERROR_ACCESS_DENIED},
      {KEY_QUERY_VALUE | KEY_SET_VALUE, ERROR_ACCESS_DENIED},
      {KEY_READ, ERROR_SUCCESS},
      {KEY_QUERY_VALUE, ERROR_SUCCESS},
  };
  const char READ_ONLY[] = "Software\\UpdaterConformance\\ReadOnly";
  EXPECT(FxRegCreateKey(READ_ONLY));
  EXPECT(FxRegReadOnly(READ_ONLY));
  for (const Access& row : accesses) {
    Case("RegOpenKeyExA of a key the user may only read, access 0x%lx", static_cast<unsigned long>(row.access));
    key = NULL;
    EXPECT_U(RegOpenKeyExA(HKEY_CURRENT_USER, READ_ONLY, 0, row.access, &key), row.result);
    if (row.result == ERROR_SUCCESS && key) RegCloseKey(key);
  }

  Case("a key deleted under an open handle");
  const char DOOMED[] = "Software\\UpdaterConformance\\Doomed";
  EXPECT(FxRegCreateKey(DOOMED));
  EXPECT(FxRegSetValue(DOOMED, "Version", REG_BINARY, "\x4C\x04"));
  key = NULL;
  EXPECT_U(RegOpenKeyExA(HKEY_CURRENT_USER, DOOMED, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  EXPECT(FxRegDeleteKey(DOOMED));
  size = sizeof buffer;
  EXPECT_U(RegQueryValueExA(key, "Version", NULL, NULL, buffer, &size), ERROR_KEY_DELETED);
  EXPECT_U(RegSetValueExA(key, "Version", 0, REG_BINARY, version, 4), ERROR_KEY_DELETED);
  EXPECT_U(RegCloseKey(key), ERROR_SUCCESS);
  HKEY again = NULL;
  EXPECT_U(RegOpenKeyExA(HKEY_CURRENT_USER, DOOMED, 0, KEY_ALL_ACCESS, &again), ERROR_FILE_NOT_FOUND);
  FxRegDeleteKey(KEY);
}

// ---------------------------------------------------------------- mutex

void Mutexes() {
  const char NAME[] = "UpdaterConformance Mutex";
  Case("CreateMutexA of a new name, initially owned");
  SetLastError(SENTINEL);
  HANDLE first = CreateMutexA(NULL, TRUE, NAME);
  EXPECT(first != NULL);
  EXPECT_U(GetLastError(), NO_ERROR);
  EXPECT(FxMutexOwned(first, NAME));

  Case("CreateMutexA of the same name again");
  SetLastError(SENTINEL);
  HANDLE second = CreateMutexA(NULL, TRUE, NAME);
  EXPECT(second != NULL && second != first);
  EXPECT_U(GetLastError(), ERROR_ALREADY_EXISTS);

  Case("CreateMutexA of the name in another case is another mutex");
  SetLastError(SENTINEL);
  HANDLE other = CreateMutexA(NULL, TRUE, "updaterconformance mutex");
  EXPECT(other != NULL);
  EXPECT_U(GetLastError(), NO_ERROR);
  if (other) CloseHandle(other);

  Case("the name is free again once every handle is closed");
  if (second) CloseHandle(second);
  if (first) CloseHandle(first);
  SetLastError(SENTINEL);
  HANDLE third = CreateMutexA(NULL, FALSE, NAME);
  EXPECT(third != NULL);
  EXPECT_U(GetLastError(), NO_ERROR);
  Case("CreateMutexA not initially owned");
  EXPECT(!FxMutexOwned(third, NAME));
  if (third) CloseHandle(third);
}

// -------------------------------------------------- modules and windows

INT_PTR CALLBACK ProbeDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)wParam;
  if (message != WM_INITDIALOG) return FALSE;
  Case("DialogBoxParamA hands its parameter to WM_INITDIALOG");
  EXPECT_U(lParam, 77);
  Case("GetDlgItem finds a control and no other");
  HWND item = GetDlgItem(dialog, 100);
  EXPECT(item != NULL);
  EXPECT(GetDlgItem(dialog, 999) == NULL);
  Case("SetWindowTextA of a control");
  EXPECT(SetWindowTextA(item, "ソフト"));
  Case("EndDialog in WM_INITDIALOG");
  EXPECT(EndDialog(dialog, 42));
  return TRUE;
}

void ModulesAndWindows() {
  Case("GetProcAddress of SetDefaultDllDirectories in kernel32");
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  EXPECT(kernel32 != NULL);
  EXPECT(GetProcAddress(kernel32, "SetDefaultDllDirectories") != NULL);
  Case("GetProcAddress of a name kernel32 lacks");
  SetLastError(SENTINEL);
  EXPECT(GetProcAddress(kernel32, "NoSuchFunctionAnywhere") == NULL);
  EXPECT_U(GetLastError(), 127);  // ERROR_PROC_NOT_FOUND

  Case("DialogBoxParamA of a missing template");
  EXPECT(FxDefineDialog());
  SetLastError(SENTINEL);
  EXPECT_U(DialogBoxParamA(FxInstance(), MAKEINTRESOURCEA(999), NULL, ProbeDialog, 77), (INT_PTR)-1);
  EXPECT_U(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);

  Case("DialogBoxParamA returns what EndDialog was given");
  EXPECT_U(DialogBoxParamA(FxInstance(), MAKEINTRESOURCEA(100), NULL, ProbeDialog, 77), 42);

  Case("MessageBoxA with an owner that is no window shows nothing");
  SetLastError(SENTINEL);
  int answer = MessageBoxA(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x7FFF0)), "x", "y", MB_OK);
  EXPECT(answer != IDOK);
  EXPECT_U(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  Case("MessageBoxA with an owner that is no window returns 0");
  if (!WineDeparts("Wine's MessageBoxA returns -1 when it cannot make the box")) EXPECT_U(answer, 0);
}

}  // namespace

int main() {
  setvbuf(stdout, NULL, _IONBF, 0);
  if (!FxStart()) {
    printf("cannot make a working folder\n");
    return 2;
  }
  printf("platform conformance on %s\n", FxBackend());
  CreateFileDispositions();
  ShareMatrix();
  ProgramOpensAgainstAHolder();
  Names();
  ReadsAndWrites();
  FilePointerAndSize();
  Memory();
  Text();
  Registry();
  Mutexes();
  ModulesAndWindows();
  EndCase();
  printf("%d passed, %d failed, %d skipped\n", g_passed, g_failed, g_skipped);
  return g_failed == 0 ? 0 : 1;
}
