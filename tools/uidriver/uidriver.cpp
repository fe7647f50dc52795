// A pair of hands and eyes for the updater under Wine: finds its windows
// by caption, reads every control (class, id, style, rectangle, text),
// presses buttons, holds files open as a running game would, and waits
// for the updater to end.  Texts are printed as hex of their code page
// 932 bytes, so that the tests compare bytes, not renderings.
//
//   uidriver.exe STEP...     each STEP is NAME or NAME:ARG[:ARG]
//     windows                 every visible top-level window
//     wait:TITLEHEX[:MS]      wait for a visible window of that caption; it becomes current
//     box[:MS]                wait for a visible window owned by the dialog; it becomes current
//     dump                    the current window and all its children
//     click:ID                press the current window's button with that id
//     close                   the caption's close command on the current window
//     paint                   have every window of the current one's process painted now
//     gone[:MS]               wait until the current window no longer exists
//     exit[:MS]               wait for the current window's process to end; print its exit code
//     hold:PATH               open PATH without sharing until the driver ends
//     regdel:KEYPATH          delete a key under HKEY_CURRENT_USER
//     sleep:MS
//     clock                   milliseconds since the driver started
// Exits 0 when every step succeeded, 1 at the first that did not.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

HWND g_current;
DWORD g_currentPid;
HWND g_dialog;  // the last window found by wait that has no owner

void Hex(const char* text) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) printf("%02x", *p);
}

bool FromHex(const char* hex, char* out, size_t room) {
  size_t n = strlen(hex);
  if (n % 2 || n / 2 >= room) return false;
  for (size_t i = 0; i < n / 2; ++i) {
    char pair[3] = {hex[2 * i], hex[2 * i + 1], 0};
    out[i] = static_cast<char>(strtoul(pair, nullptr, 16));
  }
  out[n / 2] = 0;
  return true;
}

void PrintWindow(HWND window) {
  char text[1024] = "";
  char cls[256] = "";
  GetWindowTextA(window, text, sizeof text);
  GetClassNameA(window, cls, sizeof cls);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  printf("window hwnd=%p class=%s pid=%lu owner=%p enabled=%d text=", static_cast<void*>(window), cls,
         pid, static_cast<void*>(GetWindow(window, GW_OWNER)), IsWindowEnabled(window) ? 1 : 0);
  Hex(text);
  printf("\n");
}

BOOL CALLBACK ListWindow(HWND window, LPARAM) {
  if (IsWindowVisible(window)) PrintWindow(window);
  return TRUE;
}

struct Search {
  const char* title;
  HWND found;
};

// A box shares the dialog's caption: a window without an owner is
// preferred, so that wait finds the dialog rather than a box over it.
BOOL CALLBACK FindByTitle(HWND window, LPARAM param) {
  Search* search = reinterpret_cast<Search*>(param);
  char text[1024] = "";
  GetWindowTextA(window, text, sizeof text);
  if (IsWindowVisible(window) && strcmp(text, search->title) == 0) {
    if (!search->found || GetWindow(window, GW_OWNER) == NULL) search->found = window;
    if (GetWindow(window, GW_OWNER) == NULL) return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK DumpChild(HWND child, LPARAM parent) {
  if (GetParent(child) != reinterpret_cast<HWND>(parent)) return TRUE;
  char text[1024] = "";
  char cls[256] = "";
  GetWindowTextA(child, text, sizeof text);
  GetClassNameA(child, cls, sizeof cls);
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(NULL, reinterpret_cast<HWND>(parent), reinterpret_cast<POINT*>(&rect), 2);
  printf("control class=%s id=%d style=%08lx exstyle=%08lx rect=%ld,%ld,%ld,%ld visible=%d text=", cls,
         GetDlgCtrlID(child), static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE)),
         static_cast<unsigned long>(GetWindowLongA(child, GWL_EXSTYLE)), rect.left, rect.top, rect.right,
         rect.bottom, IsWindowVisible(child) ? 1 : 0);
  Hex(text);
  printf("\n");
  return TRUE;
}

bool Fail(const char* step, const char* why) {
  printf("error step=%s %s\n", step, why);
  return false;
}

bool Run(char* step) {
  char* name = step;
  char* arg = strchr(step, ':');
  if (arg) *arg++ = 0;
  // Only wait takes a second argument: other arguments are paths, and a
  // path may hold a colon.
  char* arg2 = arg && strcmp(name, "wait") == 0 ? strchr(arg, ':') : nullptr;
  if (arg2) *arg2++ = 0;
  DWORD wait = 20000;

  if (strcmp(name, "windows") == 0) {
    EnumWindows(ListWindow, 0);
    return true;
  }
  if (strcmp(name, "wait") == 0) {
    char title[1024];
    if (!arg || !FromHex(arg, title, sizeof title)) return Fail(name, "bad title");
    if (arg2) wait = strtoul(arg2, nullptr, 10);
    for (DWORD waited = 0;; waited += 50) {
      Search search = {title, NULL};
      EnumWindows(FindByTitle, reinterpret_cast<LPARAM>(&search));
      if (search.found) {
        g_current = search.found;
        HWND owner = GetWindow(g_current, GW_OWNER);
        g_dialog = owner != NULL ? owner : g_current;
        GetWindowThreadProcessId(g_current, &g_currentPid);
        PrintWindow(g_current);
        return true;
      }
      if (waited >= wait) return Fail(name, "no such window");
      Sleep(50);
    }
  }
  if (!g_current && strcmp(name, "hold") != 0 && strcmp(name, "regdel") != 0 && strcmp(name, "sleep") != 0)
    return Fail(name, "no current window");
  if (strcmp(name, "box") == 0) {
    if (arg) wait = strtoul(arg, nullptr, 10);
    for (DWORD waited = 0;; waited += 50) {
      HWND found = FindWindowExA(NULL, NULL, NULL, NULL);
      for (; found; found = FindWindowExA(NULL, found, NULL, NULL)) {
        if (IsWindowVisible(found) && g_dialog != NULL && GetWindow(found, GW_OWNER) == g_dialog) break;
      }
      if (found) {
        g_current = found;
        PrintWindow(g_current);
        return true;
      }
      if (waited >= wait) return Fail(name, "no box");
      Sleep(50);
    }
  }
  if (strcmp(name, "dump") == 0) {
    PrintWindow(g_current);
    EnumChildWindows(g_current, DumpChild, reinterpret_cast<LPARAM>(g_current));
    return true;
  }
  if (strcmp(name, "click") == 0) {
    HWND button = GetDlgItem(g_current, arg ? atoi(arg) : 0);
    if (!button) return Fail(name, "no such button");
    PostMessageA(button, BM_CLICK, 0, 0);
    return true;
  }
  if (strcmp(name, "paint") == 0) {
    // Painting another thread's windows with RDW_UPDATENOW waits for it;
    // a message round trip then tells that thread is idle again.  The
    // desktop behind them is painted first.
    RedrawWindow(GetDesktopWindow(), NULL, NULL, RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
    for (HWND window = FindWindowExA(NULL, NULL, NULL, NULL); window;
         window = FindWindowExA(NULL, window, NULL, NULL)) {
      DWORD pid = 0;
      GetWindowThreadProcessId(window, &pid);
      if (pid != g_currentPid || !IsWindowVisible(window)) continue;
      RedrawWindow(window, NULL, NULL, RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
      DWORD_PTR ignored = 0;
      SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &ignored);
    }
    return true;
  }
  if (strcmp(name, "close") == 0) {
    PostMessageA(g_current, WM_SYSCOMMAND, SC_CLOSE, 0);
    return true;
  }
  if (strcmp(name, "gone") == 0) {
    if (arg) wait = strtoul(arg, nullptr, 10);
    for (DWORD waited = 0; IsWindow(g_current); waited += 50) {
      if (waited >= wait) return Fail(name, "window still there");
      Sleep(50);
    }
    return true;
  }
  if (strcmp(name, "exit") == 0) {
    if (arg) wait = strtoul(arg, nullptr, 10);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, g_currentPid);
    if (!process) return Fail(name, "cannot open the process");
    DWORD done = WaitForSingleObject(process, wait);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    if (done != WAIT_OBJECT_0) return Fail(name, "still running");
    printf("exitcode %lu\n", code);
    return true;
  }
  if (strcmp(name, "hold") == 0) {
    HANDLE file = CreateFileA(arg ? arg : "", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return Fail(name, "cannot open the file");
    printf("holding %s\n", arg);
    return true;  // held until the driver ends
  }
  if (strcmp(name, "regdel") == 0) {
    LONG result = RegDeleteKeyA(HKEY_CURRENT_USER, arg ? arg : "");
    if (result != ERROR_SUCCESS) return Fail(name, "cannot delete the key");
    printf("deleted %s\n", arg);
    return true;
  }
  if (strcmp(name, "clock") == 0) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    printf("clock %.3f\n", static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart));
    return true;
  }
  if (strcmp(name, "sleep") == 0) {
    Sleep(arg ? strtoul(arg, nullptr, 10) : 0);
    return true;
  }
  return Fail(name, "unknown step");
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  for (int i = 1; i < argc; ++i) {
    if (!Run(argv[i])) return 1;
  }
  return 0;
}
