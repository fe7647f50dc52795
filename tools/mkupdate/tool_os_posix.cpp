// mkupdate's seam on Linux: POSIX files; the archive the updater's lookup
// reads is opened through the host platform, like the updater's own files.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/mkupdate/tool_os.h"

struct ToolFile {
  int fd;
};

namespace {

// The temporary file being written, removed if the run is interrupted.
char g_tempPath[4096];

void RemoveTempAndExit(int sig) {
  if (g_tempPath[0]) unlink(g_tempPath);
  _exit(128 + sig);
}

std::string Errno(const std::string& what) { return what + ": " + strerror(errno); }

}  // namespace

ToolFile* ToolOpenRead(const std::string& path, std::string* error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = Errno(path);
    return nullptr;
  }
  return new ToolFile{fd};
}

bool ToolFileInfo(ToolFile* file, uint64_t* size, bool* regular) {
  struct stat st;
  if (fstat(file->fd, &st) != 0) return false;
  *size = static_cast<uint64_t>(st.st_size);
  *regular = S_ISREG(st.st_mode);
  return true;
}

bool ToolRead(ToolFile* file, void* buffer, size_t count) {
  char* out = static_cast<char*>(buffer);
  while (count) {
    ssize_t got = read(file->fd, out, count);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    out += got;
    count -= static_cast<size_t>(got);
  }
  return true;
}

void ToolClose(ToolFile* file) {
  if (file == nullptr) return;
  close(file->fd);
  delete file;
}

ToolFile* ToolCreateTemp(const std::string& out, std::string* error) {
  std::string pattern = out + ".tmp-XXXXXX";
  if (pattern.size() >= sizeof g_tempPath) {
    *error = out + ": path too long";
    return nullptr;
  }
  strcpy(g_tempPath, pattern.c_str());
  signal(SIGINT, RemoveTempAndExit);
  signal(SIGTERM, RemoveTempAndExit);
  signal(SIGHUP, RemoveTempAndExit);
  int fd = mkstemp(g_tempPath);
  if (fd < 0) {
    g_tempPath[0] = 0;
    *error = Errno(out);
    return nullptr;
  }
  // mkstemp makes the file private; the result is an ordinary file.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  return new ToolFile{fd};
}

bool ToolWrite(ToolFile* temp, const void* data, size_t count, const std::string& out, std::string* error) {
  const char* in = static_cast<const char*>(data);
  while (count) {
    ssize_t put = write(temp->fd, in, count);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = ENOSPC;
      *error = Errno(out + ": writing");
      return false;
    }
    in += put;
    count -= static_cast<size_t>(put);
  }
  return true;
}

bool ToolFinishTemp(ToolFile* temp, const std::string& out, bool ok, std::string* error) {
  if (ok && fsync(temp->fd) != 0) {
    *error = Errno(out);
    ok = false;
  }
  if (close(temp->fd) != 0 && ok) {
    *error = Errno(out);
    ok = false;
  }
  delete temp;
  if (ok && rename(g_tempPath, out.c_str()) != 0) {
    *error = Errno(out);
    ok = false;
  }
  if (!ok) unlink(g_tempPath);
  g_tempPath[0] = 0;
  return ok;
}

HANDLE ToolOpenArchive(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
}

std::string ToolBareName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Linux hands the arguments over as bytes; they are taken for UTF-8.
std::vector<std::string> ToolArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}
