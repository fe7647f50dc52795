// The conformance fixture over the host model: real files in a fresh
// temporary folder, and the model's own test controls for attributes, the
// registry, mutex ownership and dialog templates.
#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "fixture.h"
#include "platform/host/host_control.h"

namespace {

// The host path of a name made of existing components, as spelled.
std::string HostName(const char* name) {
  std::string path(name);
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
      ++i;
    } else if (c == '\\') {
      path[i] = '/';
    }
  }
  return path;
}

}  // namespace

bool FxStart() {
  HostResetPlatform();
  char pattern[] = "/tmp/updater-conformance-XXXXXX";
  return mkdtemp(pattern) != nullptr && chdir(pattern) == 0;
}

const char* FxBackend() { return "the host model"; }

bool FxUnderWine() { return false; }

bool FxWriteFile(const char* name, const std::string& bytes) {
  std::ofstream out(HostName(name), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out.good();
}

bool FxReadFile(const char* name, std::string* bytes) {
  struct stat st;
  std::string path = HostName(name);
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::ifstream in(path, std::ios::binary);
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return in.good() || in.eof();
}

bool FxMakeFolder(const char* name) {
  std::string path = HostName(name);
  for (size_t slash = path.find('/'); ; slash = path.find('/', slash + 1)) {
    std::string folder = path.substr(0, slash);
    struct stat st;
    if (mkdir(folder.c_str(), 0755) != 0 && !(stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
      return false;
    if (slash == std::string::npos) return true;
  }
}

bool FxSetAttributes(const char* name, DWORD attributes) { return HostSetAttributes(name, attributes); }

bool FxFolderNames(const char* folder, std::vector<std::string>* names) {
  names->clear();
  DIR* dir = opendir(HostName(folder).c_str());
  if (dir == nullptr) return false;
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  closedir(dir);
  std::sort(names->begin(), names->end());
  return true;
}

bool FxRegCreateKey(const char* path) {
  HostRegCreateKey(path);
  return true;
}

bool FxRegDeleteKey(const char* path) {
  HostRegDeleteKey(path);
  return true;
}

bool FxRegSetValue(const char* path, const char* name, DWORD type, const std::string& bytes) {
  HostRegSetValue(path, name, type, bytes.data(), static_cast<DWORD>(bytes.size()));
  return true;
}

bool FxRegReadOnly(const char* path) {
  HostRegDenyWrite(path);
  return true;
}

bool FxMutexOwned(HANDLE handle, const char* name) { return handle != nullptr && HostMutexOwned(name); }

bool FxDefineDialog() {
  static const HostControl controls[] = {{100, "abc"}};
  HostDefineDialog(100, controls, 1, IDOK);
  return true;
}

HINSTANCE FxInstance() { return nullptr; }
