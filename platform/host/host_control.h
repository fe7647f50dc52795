// Test controls of the host platform: fault injection, accounting of open
// handles and live blocks, and the state of the in-process models
// (registry, named mutexes, message boxes, the modal dialog).
//
// Only tests and test tools include this header; the updater itself never
// does.  HostResetPlatform() brings every model back to its empty state.
#ifndef UPDATER_HOST_CONTROL_H
#define UPDATER_HOST_CONTROL_H

#include <string>
#include <vector>

#include "win32_host.h"

// Every fallible call of the model, once: its enum name, its Win32 name,
// and the error it reports when a test makes it fail without naming one
// (registry calls return it, the others leave it in GetLastError).  The
// enum, the names and the fault checks all follow from this table.
#define HOST_FALLIBLE_CALLS(X)                              \
  X(ALLOC, "GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY)          \
  X(OPEN, "CreateFileA", ERROR_ACCESS_DENIED)               \
  X(SIZE, "GetFileSize", ERROR_ACCESS_DENIED)               \
  X(READ, "ReadFile", ERROR_READ_FAULT)                     \
  X(SEEK, "SetFilePointer", ERROR_NEGATIVE_SEEK)            \
  X(WRITE, "WriteFile", ERROR_WRITE_FAULT)                  \
  X(REG_OPEN, "RegOpenKeyExA", ERROR_ACCESS_DENIED)         \
  X(REG_QUERY, "RegQueryValueExA", ERROR_ACCESS_DENIED)     \
  X(REG_SET, "RegSetValueExA", ERROR_ACCESS_DENIED)         \
  X(MUTEX, "CreateMutexA", ERROR_INVALID_HANDLE)            \
  X(BOX, "MessageBoxA", ERROR_NOT_ENOUGH_MEMORY)            \
  X(DIALOG, "DialogBoxParamA", ERROR_NOT_ENOUGH_MEMORY)

// HOST_CALL_ANY counts every fallible call in a single sequence, in the
// order they are made.
enum HostCall {
  HOST_CALL_ANY,
#define HOST_CALL_ENUM(id, name, error) HOST_CALL_##id,
  HOST_FALLIBLE_CALLS(HOST_CALL_ENUM)
#undef HOST_CALL_ENUM
  HOST_CALL_KINDS
};

const char* HostCallName(HostCall call);

// Clears every fault, every model and every record.  Open handles and live
// blocks are not touched, so a test can still see what it leaked.
void HostResetPlatform();

// Every call that passes flags, a name or a size, with its arguments as the
// program passed them, whether or not the call went through, one line a
// call since the last reset, for instance
//   CreateFileA("UpdateData.dat", GENERIC_READ, FILE_SHARE_READ, NULL,
//               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL|FILE_FLAG_SEQUENTIAL_SCAN, NULL)
// (on one line).  Logged: GlobalAlloc, CreateFileA, CreateMutexA,
// RegOpenKeyExA, RegQueryValueExA and RegSetValueExA.  Message boxes and
// dialogs keep their own records (HostBoxes, HostDialogRuns).
const std::vector<std::string>& HostCallLog();

// Makes the nth call (counting from 1, since the last reset) of that kind
// fail.  error is what GetLastError, or a registry call, reports; 0 picks
// the usual error of that call.
void HostFailCall(HostCall call, unsigned nth, DWORD error = 0);
// Makes the nth read or write move at most count bytes and still report
// success.  On other kinds of call it has no effect.
void HostShortCall(HostCall call, unsigned nth, DWORD count);
unsigned HostCallCount(HostCall call);
// The kind of the nth fallible call (from 1) since the last reset, or
// HOST_CALL_ANY when there was no such call.
HostCall HostCallAt(unsigned nth);

// Every open of this path (as the program spells it) fails with error.
void HostFailOpen(const char* path, DWORD error);
// How often CreateFileA was asked for this path, succeeding or not.
unsigned HostOpenAttempts(const char* path);

// Another program holding a file open with the given access and share
// mode, as a running game holds its data files.  Returns an id for
// HostReleaseFile, or 0 when the file could not be opened.
int HostHoldFile(const char* path, DWORD access, DWORD share);
void HostReleaseFile(int id);
// Gives an existing file these attributes, as SetFileAttributesA would:
// FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM
// (0 clears them).  False when there is no such file.
bool HostSetAttributes(const char* path, DWORD attributes);

// Accounting: open handles of the program (files, mutexes, registry keys)
// and live blocks of fixed memory.
unsigned HostOpenHandles();
unsigned HostLiveBlocks();

// The most bytes of fixed memory live at once since the last reset.
SIZE_T HostPeakBlockBytes();
// Whether large blocks ask the kernel for huge pages (by default they do).
void HostUseHugePages(bool use);

// The largest block GlobalAlloc grants; larger requests fail as a 32-bit
// process would.  The default is 2 GiB less 64 KiB.
void HostSetAllocLimit(SIZE_T bytes);

// Registry model of HKEY_CURRENT_USER.  Paths are backslash-separated
// and case-insensitive, as are value names.  Data is kept as the raw bytes
// the ANSI calls deliver.
void HostRegCreateKey(const char* path);
void HostRegDeleteKey(const char* path);
bool HostRegKeyExists(const char* path);
// The key grants the current user only KEY_READ: an open that asks for
// more (KEY_ALL_ACCESS, say) is refused with ERROR_ACCESS_DENIED.
void HostRegDenyWrite(const char* path);
void HostRegSetValue(const char* path, const char* name, DWORD type, const void* data,
                     DWORD size);
bool HostRegGetValue(const char* path, const char* name, DWORD* type, std::string* data);

// DLL search model: whether the system offers SetDefaultDllDirectories
// (by default it does), and what the program asked of it.
void HostOfferDllDirectories(bool offered);
struct HostDllSearch {
  unsigned calls;        // how often SetDefaultDllDirectories was called
  DWORD flags;           // what the last call asked for
  unsigned callsBefore;  // fallible calls made before the first one
};
HostDllSearch HostDllSearchState();

// Named mutex model.  A mutex that another process holds: CreateMutexA
// gets a handle and ERROR_ALREADY_EXISTS.  A denied one belongs to a
// process with more rights: CreateMutexA gets null and ERROR_ACCESS_DENIED.
void HostMutexHeldElsewhere(const char* name);
void HostMutexDenied(const char* name);
bool HostMutexExists(const char* name);
// Whether this process owns the named mutex: it created it initially owned.
bool HostMutexOwned(const char* name);

// Message box model: every box is recorded; answers come from a queue,
// and an empty queue answers IDOK.  A hook runs while each box is up.
struct HostBox {
  HWND owner;
  std::string text;
  std::string caption;
  UINT type;
  int answer;
};
void HostQueueBoxAnswer(int answer);
const std::vector<HostBox>& HostBoxes();
typedef void (*HostBoxHook)(const HostBox& box, void* context);
void HostSetBoxHook(HostBoxHook hook, void* context);

// Modal dialog model.  A template is defined by its controls; the dialog
// model then creates them with their initial texts, sends WM_INITDIALOG,
// and feeds the procedure the scripted input in order until EndDialog has
// been called and the procedure has returned.  The platform's own dialog
// handling is modelled for the keys: Enter sends WM_COMMAND for the
// default button, Escape and the caption's close command send IDCANCEL.
struct HostControl {
  int id;
  const char* text;
};
void HostDefineDialog(int templateId, const HostControl* controls, size_t count, int defaultId);

enum HostInputKind {
  HOST_INPUT_MESSAGE,  // message, wParam, lParam as given
  HOST_INPUT_ENTER,
  HOST_INPUT_ESCAPE,
  HOST_INPUT_CLOSE,
};
struct HostInput {
  HostInputKind kind;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
void HostScriptDialog(const std::vector<HostInput>& inputs);
// Runs while the dialog is up, before each scripted input is delivered.
typedef void (*HostDialogHook)(size_t inputIndex, void* context);
void HostSetDialogHook(HostDialogHook hook, void* context);

struct HostDialogRun {
  int templateId;
  HINSTANCE instance;
  HWND owner;
  DLGPROC proc;
  LPARAM param;
  HWND window;
  std::vector<INT_PTR> procResults;  // what the procedure returned, per message
  std::vector<std::string> shownTexts;  // control texts when the dialog first showed
  std::vector<std::string> finalTexts;  // control texts when the dialog ended
  unsigned endDialogCalls;
  INT_PTR result;
};
const std::vector<HostDialogRun>& HostDialogRuns();

#endif
