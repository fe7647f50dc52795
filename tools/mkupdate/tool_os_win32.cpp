// mkupdate's seam on Windows: every path is UTF-8 inside the tool and
// UTF-16 at the system, through the wide calls, so file names in any
// language work; the temporary file replaces the output with MoveFileExW.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include "tools/mkupdate/tool_os.h"

struct ToolFile {
  HANDLE handle;
  std::wstring path;  // a temporary file's own name, to move or remove it
};

namespace {

// The temporary file being written, removed if the run is interrupted.
wchar_t g_tempPath[MAX_PATH * 4];

BOOL WINAPI RemoveTempOnInterrupt(DWORD) {
  if (g_tempPath[0]) DeleteFileW(g_tempPath);
  return FALSE;  // and the process ends as it would have
}

std::wstring Wide(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), NULL, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
  return wide;
}

std::string Utf8(const wchar_t* wide) {
  int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, NULL, 0, NULL, NULL);
  std::string utf8(n > 0 ? static_cast<size_t>(n - 1) : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, wide, -1, &utf8[0], n, NULL, NULL);
  return utf8;
}

// The system's error in the words the Linux build prints for the same.
std::string Reason(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return "No such file or directory";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return "Permission denied";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "No space left on device";
    case ERROR_FILE_TOO_LARGE:
      return "File too large";
    default:
      return "system error " + std::to_string(error);
  }
}

}  // namespace

ToolFile* ToolOpenRead(const std::string& path, std::string* error) {
  HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = path + ": " + Reason(GetLastError());
    return nullptr;
  }
  return new ToolFile{handle, L""};
}

bool ToolFileInfo(ToolFile* file, uint64_t* size, bool* regular) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file->handle, &info)) return false;
  *size = static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  *regular = !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && GetFileType(file->handle) == FILE_TYPE_DISK;
  return true;
}

bool ToolRead(ToolFile* file, void* buffer, size_t count) {
  char* out = static_cast<char*>(buffer);
  while (count) {
    DWORD chunk = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
    DWORD got = 0;
    if (!ReadFile(file->handle, out, chunk, &got, NULL) || got == 0) return false;
    out += got;
    count -= got;
  }
  return true;
}

void ToolClose(ToolFile* file) {
  if (file == nullptr) return;
  CloseHandle(file->handle);
  delete file;
}

ToolFile* ToolCreateTemp(const std::string& out, std::string* error) {
  std::wstring base = Wide(out) + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-";
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::wstring path = base + std::to_wstring(attempt);
    if (path.size() >= sizeof g_tempPath / sizeof g_tempPath[0]) {
      *error = out + ": path too long";
      return nullptr;
    }
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (handle != INVALID_HANDLE_VALUE) {
      lstrcpyW(g_tempPath, path.c_str());
      SetConsoleCtrlHandler(RemoveTempOnInterrupt, TRUE);
      return new ToolFile{handle, path};
    }
    if (GetLastError() != ERROR_FILE_EXISTS) {
      *error = out + ": " + Reason(GetLastError());
      return nullptr;
    }
  }
  *error = out + ": no free name for a temporary file beside it";
  return nullptr;
}

bool ToolWrite(ToolFile* temp, const void* data, size_t count, const std::string& out, std::string* error) {
  const char* in = static_cast<const char*>(data);
  while (count) {
    DWORD chunk = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
    DWORD put = 0;
    if (!WriteFile(temp->handle, in, chunk, &put, NULL) || put == 0) {
      *error = out + ": writing: " + Reason(put == 0 && GetLastError() == 0 ? ERROR_DISK_FULL : GetLastError());
      return false;
    }
    in += put;
    count -= put;
  }
  return true;
}

bool ToolFinishTemp(ToolFile* temp, const std::string& out, bool ok, std::string* error) {
  if (ok && !FlushFileBuffers(temp->handle)) {
    *error = out + ": " + Reason(GetLastError());
    ok = false;
  }
  CloseHandle(temp->handle);
  if (ok && !MoveFileExW(temp->path.c_str(), Wide(out).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    *error = out + ": " + Reason(GetLastError());
    ok = false;
  }
  if (!ok) DeleteFileW(temp->path.c_str());
  g_tempPath[0] = 0;
  delete temp;
  return ok;
}

HANDLE ToolOpenArchive(const std::string& path) {
  return CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
}

std::string ToolBareName(const std::string& path) {
  size_t separator = path.find_last_of("/\\:");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// The output is UTF-8, byte for byte what the Linux build prints: no
// conversion of line ends, and a console that shows UTF-8.
std::vector<std::string> ToolArguments(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8(argv[i]));
  return args;
}
