// The Win32 subset the updater uses, declared for the host build.
//
// These are our own declarations, made from what the updater expects of
// each call: the types keep their Win32 widths (DWORD, UINT, BOOL and LONG
// are 32 bits here too), and the constants keep their Win32 values.  The
// implementation lives beside this header: real files, zero-filled memory,
// and in-process models of the registry, the mutex, message boxes and the
// modal dialog.  Tests steer those models through host_control.h.
#ifndef UPDATER_WIN32_HOST_H
#define UPDATER_WIN32_HOST_H

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t BOOL;
typedef int32_t LONG;
typedef char CHAR;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef size_t SIZE_T;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef DWORD REGSAM;

typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef BYTE* LPBYTE;

typedef void* HANDLE;
typedef HANDLE HGLOBAL;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef INT_PTR (*FARPROC)(void);
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef struct SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef struct OVERLAPPED* LPOVERLAPPED;
typedef INT_PTR (*DLGPROC)(HWND, UINT, WPARAM, LPARAM);

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

#define MAKEINTRESOURCEA(i) ((LPSTR)(ULONG_PTR)(WORD)(i))

// Errors.
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_WRITE_FAULT 29L
#define ERROR_READ_FAULT 30L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_INVALID_NAME 123L
#define ERROR_NEGATIVE_SEEK 131L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NOT_OWNER 288L
#define ERROR_KEY_DELETED 1018L
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L

// Files.
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
#define INVALID_SET_FILE_POINTER ((DWORD)-1)

// Fixed global memory.
#define GMEM_FIXED 0x0000u
#define GMEM_ZEROINIT 0x0040u
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)

// Registry.
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001u)
#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u

// Modules.
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800u

// Windows, dialogs and message boxes.
#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define IDOK 1
#define IDCANCEL 2
#define WM_CLOSE 0x0010u
#define WM_INITDIALOG 0x0110u
#define WM_COMMAND 0x0111u
#define BN_CLICKED 0

DWORD GetLastError(void);
void SetLastError(DWORD error);

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
BOOL CloseHandle(HANDLE object);

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
HGLOBAL GlobalHandle(LPCVOID block);
HGLOBAL GlobalFree(HGLOBAL block);

void Sleep(DWORD milliseconds);

HMODULE GetModuleHandleA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name);

int lstrcmpiA(LPCSTR a, LPCSTR b);
int wsprintfA(LPSTR out, LPCSTR format, ...);

LONG RegOpenKeyExA(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY key);
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD size);
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
LONG RegCloseKey(HKEY key);

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC proc,
                        LPARAM param);
BOOL EndDialog(HWND dialog, INT_PTR result);
HWND GetDlgItem(HWND dialog, int id);
BOOL SetWindowTextA(HWND window, LPCSTR text);

#endif
