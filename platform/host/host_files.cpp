// Files of the host platform: real files through POSIX, with the Win32
// rules the updater meets on Windows modelled on top: backslashes as path
// separators, share modes between open handles (also those that another
// program holds), the read-only attribute, and Win32 error codes.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "host_internal.h"

namespace {

struct HostFile {
  HostObject base;
  int fd;
  DWORD access;
  DWORD share;
  dev_t device;
  ino_t inode;
};

// An open file that another program holds: it takes part in the share
// checks but is not one of the program's handles.
struct HeldFile {
  int fd;
  DWORD access;
  DWORD share;
  dev_t device;
  ino_t inode;
};

const HostFlagName ACCESS_NAMES[] = {
    {GENERIC_READ, "GENERIC_READ"}, {GENERIC_WRITE, "GENERIC_WRITE"}, {0, nullptr}};
const HostFlagName SHARE_NAMES[] = {
    {FILE_SHARE_READ, "FILE_SHARE_READ"}, {FILE_SHARE_WRITE, "FILE_SHARE_WRITE"}, {0, nullptr}};
const HostFlagName DISPOSITION_NAMES[] = {
    {CREATE_NEW, "CREATE_NEW"}, {CREATE_ALWAYS, "CREATE_ALWAYS"}, {OPEN_EXISTING, "OPEN_EXISTING"},
    {OPEN_ALWAYS, "OPEN_ALWAYS"}, {TRUNCATE_EXISTING, "TRUNCATE_EXISTING"}, {0, nullptr}};
const HostFlagName FLAG_NAMES[] = {{FILE_ATTRIBUTE_READONLY, "FILE_ATTRIBUTE_READONLY"},
                                   {FILE_ATTRIBUTE_HIDDEN, "FILE_ATTRIBUTE_HIDDEN"},
                                   {FILE_ATTRIBUTE_SYSTEM, "FILE_ATTRIBUTE_SYSTEM"},
                                   {FILE_ATTRIBUTE_NORMAL, "FILE_ATTRIBUTE_NORMAL"},
                                   {FILE_FLAG_SEQUENTIAL_SCAN, "FILE_FLAG_SEQUENTIAL_SCAN"},
                                   {0, nullptr}};

std::vector<HostFile*> g_files;
std::map<int, HeldFile> g_held;
int g_nextHeld = 1;
std::map<std::string, DWORD> g_failingPaths;
std::map<std::string, unsigned> g_openAttempts;

std::map<std::pair<dev_t, ino_t>, DWORD> g_attributes;  // hidden and system bits

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Whether two names are one name to the file system: letters compare
// without regard to case, as the system's case table has it.
bool SameName(const std::string& a, const std::string& b) { return HostCompareFolded(a.c_str(), b.c_str()) == 0; }

// The entry of folder that name stands for: the name itself where it
// exists, else the one entry of another case, else name unchanged (for a
// file about to be made).
std::string FindEntry(const std::string& folder, const std::string& name) {
  std::string exact = folder + "/" + name;
  struct stat st;
  if (lstat(exact.c_str(), &st) == 0) return name;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return name;
  std::string found = name;
  while (struct dirent* entry = readdir(dir)) {
    if (SameName(entry->d_name, name)) {
      found = entry->d_name;
      break;
    }
  }
  closedir(dir);
  return found;
}

// Turns a Win32 path into the host path of the file it names, the way the
// system reads a path: '\' and '/' separate components, but never as the
// second byte of a code page 932 character; doubled separators and "."
// count once; ".." goes up; trailing dots and spaces of the last component
// are dropped; every component is found without regard to case.  A leading
// separator starts from the host's root.  Returns false with *error set
// for a name that cannot name a file.
bool ResolvePath(const char* name, std::string* path, DWORD* error) {
  std::vector<std::string> parts;
  std::string part;
  bool trailingSeparator = false;
  auto endPart = [&](bool last) {
    if (last && part != "..") {
      size_t end = part.find_last_not_of(". ");
      part.erase(end == std::string::npos ? 0 : end + 1);
    }
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    part.clear();
  };
  for (const char* p = name; *p != 0; ++p) {
    bool separator = IsSeparator(*p);
    if (HostIsLeadByte(static_cast<unsigned char>(*p)) && p[1] != 0) {
      part += *p++;
      part += *p;
    } else if (separator) {
      endPart(false);
    } else {
      part += *p;
    }
    trailingSeparator = separator;
  }
  endPart(true);
  if (parts.empty() || trailingSeparator) {
    // No file is named by "", by a folder alone, or by a name that ends
    // in a separator.
    *error = parts.empty() && !IsSeparator(name[0]) ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_NAME;
    return false;
  }
  std::string resolved = IsSeparator(name[0]) ? "" : ".";
  for (const std::string& each : parts) {
    std::string parent = resolved.empty() ? "/" : resolved;
    resolved += "/" + FindEntry(parent, each);
  }
  *path = resolved;
  return true;
}

// Two opens of one file conflict unless each one's share mode allows what
// the other one asks for.
bool SharesWith(DWORD access, DWORD share, DWORD otherAccess, DWORD otherShare) {
  if ((access & GENERIC_READ) && !(otherShare & FILE_SHARE_READ)) return false;
  if ((access & GENERIC_WRITE) && !(otherShare & FILE_SHARE_WRITE)) return false;
  if ((otherAccess & GENERIC_READ) && !(share & FILE_SHARE_READ)) return false;
  if ((otherAccess & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return false;
  return true;
}

bool SharingAllows(const struct stat& st, DWORD access, DWORD share) {
  for (const HostFile* file : g_files) {
    if (file->device == st.st_dev && file->inode == st.st_ino &&
        !SharesWith(access, share, file->access, file->share))
      return false;
  }
  for (const auto& entry : g_held) {
    const HeldFile& held = entry.second;
    if (held.device == st.st_dev && held.inode == st.st_ino &&
        !SharesWith(access, share, held.access, held.share))
      return false;
  }
  return true;
}

bool ParentExists(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return true;
  std::string parent = slash == 0 ? "/" : path.substr(0, slash);
  struct stat st;
  return stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

DWORD ErrorFromErrno(int error, const std::string& path) {
  switch (error) {
    case ENOENT:
      return ParentExists(path) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
      return ERROR_PATH_NOT_FOUND;
    case ENOSPC:
      return ERROR_DISK_FULL;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_ACCESS_DENIED;
  }
}

DWORD AttributesOf(const struct stat& st) {
  auto found = g_attributes.find({st.st_dev, st.st_ino});
  DWORD attributes = found == g_attributes.end() ? 0 : found->second;
  if (!(st.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

// Opens the file at path the way CreateFileA would; returns the descriptor,
// or -1 with *error set.  Every check comes before anything that could
// change the file, so a refused CREATE_ALWAYS never empties it.
int OpenHostFile(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                 DWORD flags, DWORD* error) {
  struct stat st;
  bool exists = stat(path.c_str(), &st) == 0;
  if (!exists) {
    if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING || errno != ENOENT) {
      *error = ErrorFromErrno(errno, path);
      return -1;
    }
  } else {
    if (disposition == CREATE_NEW) {
      *error = ERROR_FILE_EXISTS;
      return -1;
    }
    if (S_ISDIR(st.st_mode)) {
      *error = ERROR_ACCESS_DENIED;
      return -1;
    }
    DWORD attributes = AttributesOf(st);
    // The read-only attribute: Windows refuses to write such a file
    // whoever asks, so the model does too, root or not.
    if ((access & GENERIC_WRITE) && (attributes & FILE_ATTRIBUTE_READONLY)) {
      *error = ERROR_ACCESS_DENIED;
      return -1;
    }
    // Replacing a hidden or system file takes the same attributes again:
    // FILE_ATTRIBUTE_NORMAL alone is refused.
    DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (disposition == CREATE_ALWAYS && (kept & ~flags) != 0) {
      *error = ERROR_ACCESS_DENIED;
      return -1;
    }
    if (!SharingAllows(st, access, share)) {
      *error = ERROR_SHARING_VIOLATION;
      return -1;
    }
  }
  int mode = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
  if (disposition != OPEN_EXISTING && disposition != TRUNCATE_EXISTING) mode |= O_CREAT;
  if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) mode |= O_TRUNC;
  int fd = open(path.c_str(), mode | O_CLOEXEC, 0666);
  if (fd < 0) *error = ErrorFromErrno(errno, path);
  return fd;
}

HostFile* FindFile(HANDLE handle) {
  return reinterpret_cast<HostFile*>(HostFindObject(handle, HOST_OBJECT_FILE));
}

void DropFile(HostFile* file) {
  for (size_t i = 0; i < g_files.size(); ++i) {
    if (g_files[i] == file) {
      g_files.erase(g_files.begin() + static_cast<long>(i));
      break;
    }
  }
  HostRemoveObject(&file->base);
  close(file->fd);
  delete file;
}

}  // namespace

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile) {
  HostLogCall("CreateFileA(" + HostQuoted(name) + ", " + HostFlagsText(access, ACCESS_NAMES) + ", " +
              HostFlagsText(share, SHARE_NAMES) + ", " + HostPointerText(security) + ", " +
              HostEnumText(disposition, DISPOSITION_NAMES) + ", " + HostFlagsText(flags, FLAG_NAMES) +
              ", " + HostPointerText(templateFile) + ")");
  if (name == nullptr || security != nullptr || templateFile != nullptr ||
      disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
      (disposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE)) ||
      (access & ~(GENERIC_READ | GENERIC_WRITE)) != 0 ||
      (share & ~(FILE_SHARE_READ | FILE_SHARE_WRITE)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  ++g_openAttempts[name];
  DWORD error = 0;
  if (HostCheckFault(HOST_CALL_OPEN, &error) == HOST_FAULT_FAIL) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  auto failing = g_failingPaths.find(name);
  if (failing != g_failingPaths.end()) {
    SetLastError(failing->second);
    return INVALID_HANDLE_VALUE;
  }
  std::string path;
  if (!ResolvePath(name, &path, &error)) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  struct stat before;
  bool existed = stat(path.c_str(), &before) == 0;
  int fd = OpenHostFile(path, access, share, disposition, flags, &error);
  if (fd < 0) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  fstat(fd, &st);
  HostFile* file = new HostFile{{HOST_OBJECT_FILE}, fd, access, share, st.st_dev, st.st_ino};
  g_files.push_back(file);
  HostAddObject(&file->base);
  // CREATE_ALWAYS and OPEN_ALWAYS over an existing file succeed and say so.
  bool says = existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
  SetLastError(says ? ERROR_ALREADY_EXISTS : NO_ERROR);
  return &file->base;
}

namespace {

// What ReadFile and WriteFile check before moving bytes: the count's
// place, no overlapped structure, a live file opened for this access, and
// the test's faults.  Returns the file with *count cut to what a short
// call moves, or null with the last error set; *moved is 0 either way.
HostFile* StartTransfer(HANDLE handle, LPDWORD moved, LPOVERLAPPED overlapped, DWORD access,
                        HostCall call, DWORD* count) {
  if (moved == nullptr || overlapped != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  *moved = 0;
  HostFile* file = FindFile(handle);
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!(file->access & access)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  DWORD limit = 0;
  HostFault fault = HostCheckFault(call, &limit);
  if (fault == HOST_FAULT_FAIL) {
    SetLastError(limit);
    return nullptr;
  }
  if (fault == HOST_FAULT_SHORT && limit < *count) *count = limit;
  return file;
}

}  // namespace

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped) {
  HostFile* file = StartTransfer(handle, read, overlapped, GENERIC_READ, HOST_CALL_READ, &count);
  if (file == nullptr) return FALSE;
  unsigned char* out = static_cast<unsigned char*>(buffer);
  DWORD done = 0;
  while (done < count) {
    ssize_t got = ::read(file->fd, out + done, count - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *read = done;
      SetLastError(ERROR_READ_FAULT);
      return FALSE;
    }
    if (got == 0) break;  // the end of the file: a short read, still a success
    done += static_cast<DWORD>(got);
  }
  *read = done;
  return TRUE;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD count, LPDWORD written,
               LPOVERLAPPED overlapped) {
  HostFile* file = StartTransfer(handle, written, overlapped, GENERIC_WRITE, HOST_CALL_WRITE, &count);
  if (file == nullptr) return FALSE;
  const unsigned char* in = static_cast<const unsigned char*>(buffer);
  DWORD done = 0;
  while (done < count) {
    ssize_t put = ::write(file->fd, in + done, count - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      *written = done;
      SetLastError(put < 0 && errno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT);
      return FALSE;
    }
    done += static_cast<DWORD>(put);
  }
  *written = done;
  return TRUE;
}

DWORD GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
  HostFile* file = FindFile(handle);
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  DWORD error = 0;
  struct stat st;
  if (HostCheckFault(HOST_CALL_SIZE, &error) == HOST_FAULT_FAIL) {
    SetLastError(error);
    return INVALID_FILE_SIZE;
  }
  if (fstat(file->fd, &st) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_FILE_SIZE;
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(NO_ERROR);
  return static_cast<DWORD>(size);
}

DWORD SetFilePointer(HANDLE handle, LONG distance, PLONG distanceHigh, DWORD method) {
  HostFile* file = FindFile(handle);
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  DWORD error = 0;
  if (HostCheckFault(HOST_CALL_SEEK, &error) == HOST_FAULT_FAIL) {
    SetLastError(error);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t move = distanceHigh != nullptr
                     ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                            static_cast<uint32_t>(distance))
                     : static_cast<int64_t>(distance);
  int64_t origin;
  if (method == FILE_BEGIN) {
    origin = 0;
  } else if (method == FILE_CURRENT) {
    origin = lseek(file->fd, 0, SEEK_CUR);
  } else if (method == FILE_END) {
    struct stat st;
    fstat(file->fd, &st);
    origin = st.st_size;
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t target = origin + move;
  // A move before byte 0 is refused and the position stays; a move past
  // the end is allowed.  Without a high part, the new position must fit
  // in 32 bits.
  if (target < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh == nullptr && target > 0xFFFFFFFFll) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  lseek(file->fd, static_cast<off_t>(target), SEEK_SET);
  if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(target >> 32);
  SetLastError(NO_ERROR);
  return static_cast<DWORD>(target);
}

void HostCloseFile(HostObject* object) { DropFile(reinterpret_cast<HostFile*>(object)); }

void HostFailOpen(const char* path, DWORD error) { g_failingPaths[path] = error; }

unsigned HostOpenAttempts(const char* path) {
  auto found = g_openAttempts.find(path);
  return found == g_openAttempts.end() ? 0 : found->second;
}

int HostHoldFile(const char* path, DWORD access, DWORD share) {
  std::string hostPath;
  DWORD error = 0;
  if (!ResolvePath(path, &hostPath, &error)) return 0;
  int fd = open(hostPath.c_str(), (access & GENERIC_WRITE) ? O_RDWR : O_RDONLY);
  if (fd < 0) return 0;
  struct stat st;
  fstat(fd, &st);
  int id = g_nextHeld++;
  g_held[id] = HeldFile{fd, access, share, st.st_dev, st.st_ino};
  return id;
}

bool HostSetAttributes(const char* path, DWORD attributes) {
  std::string hostPath;
  DWORD error = 0;
  struct stat st;
  if (!ResolvePath(path, &hostPath, &error) || stat(hostPath.c_str(), &st) != 0) return false;
  mode_t mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (st.st_mode & ~0222) : (st.st_mode | S_IWUSR);
  if (chmod(hostPath.c_str(), mode & 07777) != 0) return false;
  g_attributes[{st.st_dev, st.st_ino}] = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  return true;
}

void HostReleaseFile(int id) {
  auto found = g_held.find(id);
  if (found == g_held.end()) return;
  close(found->second.fd);
  g_held.erase(found);
}

void HostResetFiles() {
  for (auto& entry : g_held) close(entry.second.fd);
  g_held.clear();
  g_failingPaths.clear();
  g_openAttempts.clear();
  g_attributes.clear();
}
