#include "tools/mkupdate/archive_tool.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "delivery/patch_source.h"
#include "tools/common/bytes.h"

namespace {

// The temporary file being written, removed if the run is interrupted.
char g_tempPath[4096];

void RemoveTempAndExit(int sig) {
  if (g_tempPath[0]) unlink(g_tempPath);
  _exit(128 + sig);
}

std::string Errno(const std::string& what) { return what + ": " + strerror(errno); }

// For each name, the earlier name that the updater's lookup takes for the
// same (its own lstrcmpiA says they are equal), or -1.  Names that can
// never match anything (skip) take part in nothing.  A stable sort by the
// same comparison brings equal names together, in their original order.
std::vector<int64_t> EarlierEqualNames(const std::vector<std::string>& names,
                                       const std::vector<bool>& skip) {
  std::vector<size_t> order;
  for (size_t i = 0; i < names.size(); ++i) {
    if (!skip[i]) order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return lstrcmpiA(names[a].c_str(), names[b].c_str()) < 0;
  });
  std::vector<int64_t> earlier(names.size(), -1);
  for (size_t k = 1; k < order.size(); ++k) {
    size_t previous = order[k - 1];
    if (lstrcmpiA(names[previous].c_str(), names[order[k]].c_str()) == 0)
      earlier[order[k]] = earlier[previous] >= 0 ? earlier[previous] : static_cast<int64_t>(previous);
  }
  return earlier;
}

bool ReadAll(int fd, void* buffer, size_t count) {
  char* out = static_cast<char*>(buffer);
  while (count) {
    ssize_t got = read(fd, out, count);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    out += got;
    count -= static_cast<size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const void* buffer, size_t count) {
  const char* in = static_cast<const char*>(buffer);
  while (count) {
    ssize_t put = write(fd, in, count);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    in += put;
    count -= static_cast<size_t>(put);
  }
  return true;
}

// Opens a temporary file beside out; -1 with *error when it cannot.
int OpenTemp(const std::string& out, std::string* error) {
  std::string pattern = out + ".tmp-XXXXXX";
  if (pattern.size() >= sizeof g_tempPath) {
    *error = out + ": path too long";
    return -1;
  }
  strcpy(g_tempPath, pattern.c_str());
  signal(SIGINT, RemoveTempAndExit);
  signal(SIGTERM, RemoveTempAndExit);
  signal(SIGHUP, RemoveTempAndExit);
  int fd = mkstemp(g_tempPath);
  if (fd < 0) {
    g_tempPath[0] = 0;
    *error = Errno(out);
    return -1;
  }
  // mkstemp makes the file private; the result is an ordinary file.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  return fd;
}

// Ends a temporary file: renamed to out when ok, removed otherwise.
bool FinishTemp(int fd, const std::string& out, bool ok, std::string* error) {
  if (ok && fsync(fd) != 0) {
    *error = Errno(out);
    ok = false;
  }
  if (close(fd) != 0 && ok) {
    *error = Errno(out);
    ok = false;
  }
  if (ok && rename(g_tempPath, out.c_str()) != 0) {
    *error = Errno(out);
    ok = false;
  }
  if (!ok) unlink(g_tempPath);
  g_tempPath[0] = 0;
  return ok;
}

struct Input {
  std::string path;
  std::string name;  // bare, in code page 932
  uint64_t size;
};

// Checks one file for packing; false with *error naming it.
bool CheckInput(const std::string& path, uint32_t width, Input* input, std::string* error) {
  input->path = path;
  int fd = open(path.c_str(), O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    *error = Errno(path);
    if (fd >= 0) close(fd);
    return false;
  }
  close(fd);
  if (!S_ISREG(st.st_mode)) {
    *error = path + ": not a regular file";
    return false;
  }
  size_t slash = path.find_last_of('/');
  std::string bare = slash == std::string::npos ? path : path.substr(slash + 1);
  if (!ConvertText(bare, "UTF-8", "CP932", &input->name)) {
    *error = path + ": the name cannot be written in code page 932";
    return false;
  }
  if (input->name.empty()) {
    *error = path + ": no file name";
    return false;
  }
  if (input->name.find('\\') != std::string::npos) {
    *error = path + ": the name holds the byte 0x5C (a backslash, or a character whose second "
                    "byte is one), which the updater's lookup can never find";
    return false;
  }
  if (input->name.size() > width - 1) {
    *error = path + ": the name is " + std::to_string(input->name.size()) +
             " bytes; this layout holds at most " + std::to_string(width - 1);
    return false;
  }
  if (st.st_size == 0) {
    *error = path + ": the file is empty, and the updater never opens an entry of size 0";
    return false;
  }
  input->size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool CopyInto(int out, const Input& input, const std::string& archive, std::string* error) {
  int in = open(input.path.c_str(), O_RDONLY);
  if (in < 0) {
    *error = Errno(input.path);
    return false;
  }
  static char buffer[1 << 16];
  uint64_t left = input.size;
  while (left) {
    size_t chunk = left < sizeof buffer ? static_cast<size_t>(left) : sizeof buffer;
    if (!ReadAll(in, buffer, chunk)) {
      *error = input.path + ": changed or could not be read while packing";
      close(in);
      return false;
    }
    if (!WriteAll(out, buffer, chunk)) {
      *error = Errno(archive + ": writing");
      close(in);
      return false;
    }
    left -= chunk;
  }
  close(in);
  return true;
}

}  // namespace

bool PackArchive(const std::string& out, uint8_t format, const std::vector<std::string>& files,
                 std::string* error) {
  uint32_t width = ArchiveNameWidth(format);
  std::vector<Input> inputs;
  std::vector<std::string> names;
  for (const std::string& path : files) {
    Input input;
    if (!CheckInput(path, width, &input, error)) return false;
    inputs.push_back(input);
    names.push_back(input.name);
  }
  std::vector<int64_t> clashes = EarlierEqualNames(names, std::vector<bool>(names.size(), false));
  for (size_t i = 0; i < inputs.size(); ++i) {
    if (clashes[i] >= 0) {
      *error = inputs[i].path + ": its name equals that of " + inputs[static_cast<size_t>(clashes[i])].path +
               " ignoring case; the updater would only ever find the first";
      return false;
    }
  }
  DWORD indexSize = 0;
  if (!ArchiveIndexSize(static_cast<DWORD>(inputs.size()), width, &indexSize) ||
      inputs.size() > 0xFFFFFFFFu) {
    *error = "too many files for one archive";
    return false;
  }
  // Offsets are signed 32-bit and the updater moves with 32-bit file
  // positions: every entry must start below 2 GiB into the data area and
  // the whole archive stay below 4 GiB.
  std::string head(11, '\0');
  head.push_back(static_cast<char>(format));
  PutLittle32(&head, static_cast<uint32_t>(inputs.size()));
  std::string pairs;
  uint64_t offset = 0;
  for (const Input& input : inputs) {
    std::string field = input.name;
    field.resize(width, '\0');
    head += field;
    if (offset > 0x7FFFFFFFu || input.size > 0xFFFFFFFFu ||
        16 + indexSize + offset + input.size > 0xFFFFFFFFu) {
      *error = input.path + ": the archive would reach past what 32-bit offsets and sizes address";
      return false;
    }
    PutLittle32(&pairs, static_cast<uint32_t>(offset));
    PutLittle32(&pairs, static_cast<uint32_t>(input.size));
    offset += input.size;
  }
  head += pairs;
  int fd = OpenTemp(out, error);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, head.data(), head.size());
  if (!ok) *error = Errno(out + ": writing");
  for (size_t i = 0; ok && i < inputs.size(); ++i) ok = CopyInto(fd, inputs[i], out, error);
  return FinishTemp(fd, out, ok, error);
}

bool WriteWhole(const std::string& out, const std::string& bytes, std::string* error) {
  int fd = OpenTemp(out, error);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes.data(), bytes.size());
  if (!ok) *error = Errno(out);
  return FinishTemp(fd, out, ok, error);
}

bool InspectArchive(const std::string& path, ArchiveInfo* info, std::string* error) {
  int fd = open(path.c_str(), O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = fd < 0 ? Errno(path) : path + ": not a regular file";
    if (fd >= 0) close(fd);
    return false;
  }
  info->fileSize = static_cast<uint64_t>(st.st_size);
  unsigned char header[16];
  if (info->fileSize < sizeof header || !ReadAll(fd, header, sizeof header)) {
    *error = path + ": " + std::to_string(info->fileSize) +
             " bytes, shorter than the 16-byte archive header";
    close(fd);
    return false;
  }
  info->format = header[11];
  info->width = ArchiveNameWidth(info->format);
  info->count = Little32(header + 12);
  DWORD indexSize = 0;
  if (!ArchiveIndexSize(info->count, info->width, &indexSize)) {
    *error = path + ": " + std::to_string(info->count) + " entries: the index would not fit in 32 bits";
    close(fd);
    return false;
  }
  info->dataStart = 16 + static_cast<uint64_t>(indexSize);
  if (info->dataStart > info->fileSize) {
    *error = path + ": cut short: an index of " + std::to_string(info->count) + " entries needs " +
             std::to_string(indexSize) + " bytes after the header, and the file holds " +
             std::to_string(info->fileSize - 16);
    close(fd);
    return false;
  }
  std::string index(indexSize, '\0');
  bool read = ReadAll(fd, &index[0], indexSize);
  close(fd);
  if (!read) {
    *error = Errno(path);
    return false;
  }
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(index.data());
  info->entries.clear();
  for (uint32_t i = 0; i < info->count; ++i) {
    const unsigned char* field = bytes + static_cast<size_t>(i) * info->width;
    const unsigned char* pair = bytes + static_cast<size_t>(info->count) * info->width + 8ull * i;
    EntryInfo entry;
    entry.index = i;
    size_t length = 0;
    while (length < info->width && field[length]) ++length;
    entry.name.assign(reinterpret_cast<const char*>(field), length);
    entry.noNul = length == info->width;
    entry.backslash = entry.name.find('\\') != std::string::npos;
    entry.offset = static_cast<int32_t>(Little32(pair));
    entry.size = Little32(pair + 4);
    entry.start = static_cast<int64_t>(info->dataStart) + entry.offset;
    entry.end = entry.start + entry.size;
    entry.empty = entry.size == 0;
    entry.outside = entry.start < 0 || entry.end > static_cast<int64_t>(info->fileSize);
    entry.shadowedBy = -1;
    info->entries.push_back(entry);
  }
  std::vector<std::string> names;
  std::vector<bool> skip;
  for (const EntryInfo& entry : info->entries) {
    names.push_back(entry.name);
    skip.push_back(entry.noNul);
  }
  std::vector<int64_t> earlier = EarlierEqualNames(names, skip);
  for (size_t i = 0; i < info->entries.size(); ++i) info->entries[i].shadowedBy = earlier[i];
  return true;
}

std::vector<std::string> EntryFlags(const EntryInfo& entry) {
  std::vector<std::string> flags;
  if (entry.shadowedBy >= 0) flags.push_back("shadowed");
  if (entry.empty) flags.push_back("empty");
  if (entry.outside) flags.push_back("past-end");
  if (entry.noNul) flags.push_back("no-nul");
  if (entry.backslash) flags.push_back("backslash");
  return flags;
}

bool ReadArchiveEntry(const std::string& archive, const std::string& name, std::string* bytes,
                      std::string* error) {
  PatchSource source = {};
  source.inArchive = 1;
  source.file = CreateFileA(archive.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
  if (source.file == INVALID_HANDLE_VALUE) {
    *error = archive + ": cannot be opened";
    return false;
  }
  source.size = SeekArchiveEntry(&source, name.c_str());
  if (source.size == 0) {
    CloseHandle(source.file);
    *error = DisplayName(name) + ": the updater finds no entry it can open";
    return false;
  }
  BYTE* data = static_cast<BYTE*>(GlobalAlloc(GPTR, source.size));
  if (data == NULL) {
    CloseHandle(source.file);
    *error = DisplayName(name) + ": no memory for " + std::to_string(source.size) + " bytes";
    return false;
  }
  BOOL read = ReadPatchSource(&source, data);
  BOOL whole = WaitPatchSource(&source);
  CloseHandle(source.file);
  if (read && whole) bytes->assign(reinterpret_cast<const char*>(data), source.size);
  GlobalFree(GlobalHandle(data));
  if (!read || !whole) {
    *error = DisplayName(name) + ": its entry reaches past the end of the archive (" +
             std::to_string(source.transferred) + " of " + std::to_string(source.size) +
             " bytes there)";
    return false;
  }
  return true;
}

std::string DisplayName(const std::string& cp932) {
  std::string utf8;
  bool printable = ConvertText(cp932, "CP932", "UTF-8", &utf8);
  for (unsigned char c : utf8) printable = printable && (c >= 0x20 && c != 0x7F);
  if (printable) return utf8;
  std::string shown;
  for (unsigned char c : cp932) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      shown += static_cast<char>(c);
    } else {
      char hex[5];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      shown += hex;
    }
  }
  return shown;
}
