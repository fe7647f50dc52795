#include "tools/mkupdate/archive_tool.h"

#include <stdio.h>

#include <algorithm>

#include "delivery/patch_source.h"
#include "tools/common/bytes.h"
#include "tools/mkupdate/tool_os.h"

namespace {

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

struct Input {
  std::string path;
  std::string name;  // bare, in code page 932
  uint64_t size;
};

// Checks one file for packing; false with *error naming it.
bool CheckInput(const std::string& path, uint32_t width, Input* input, std::string* error) {
  input->path = path;
  ToolFile* file = ToolOpenRead(path, error);
  if (file == nullptr) return false;
  uint64_t size = 0;
  bool regular = false;
  bool known = ToolFileInfo(file, &size, &regular);
  ToolClose(file);
  if (!known || !regular) {
    *error = path + ": not a regular file";
    return false;
  }
  if (!ConvertText(ToolBareName(path), "UTF-8", "CP932", &input->name)) {
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
  if (size == 0) {
    *error = path + ": the file is empty, and the updater never opens an entry of size 0";
    return false;
  }
  input->size = size;
  return true;
}

bool CopyInto(ToolFile* out, const Input& input, const std::string& archive, std::string* error) {
  ToolFile* in = ToolOpenRead(input.path, error);
  if (in == nullptr) return false;
  static char buffer[1 << 16];
  uint64_t left = input.size;
  bool ok = true;
  while (ok && left) {
    size_t chunk = left < sizeof buffer ? static_cast<size_t>(left) : sizeof buffer;
    if (!ToolRead(in, buffer, chunk)) {
      *error = input.path + ": changed or could not be read while packing";
      ok = false;
    } else {
      ok = ToolWrite(out, buffer, chunk, archive, error);
      left -= chunk;
    }
  }
  ToolClose(in);
  return ok;
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
  ToolFile* temp = ToolCreateTemp(out, error);
  if (temp == nullptr) return false;
  bool ok = ToolWrite(temp, head.data(), head.size(), out, error);
  for (size_t i = 0; ok && i < inputs.size(); ++i) ok = CopyInto(temp, inputs[i], out, error);
  return ToolFinishTemp(temp, out, ok, error);
}

bool WriteWhole(const std::string& out, const std::string& bytes, std::string* error) {
  ToolFile* temp = ToolCreateTemp(out, error);
  if (temp == nullptr) return false;
  bool ok = ToolWrite(temp, bytes.data(), bytes.size(), out, error);
  return ToolFinishTemp(temp, out, ok, error);
}

bool InspectArchive(const std::string& path, ArchiveInfo* info, std::string* error) {
  ToolFile* file = ToolOpenRead(path, error);
  if (file == nullptr) return false;
  bool regular = false;
  if (!ToolFileInfo(file, &info->fileSize, &regular) || !regular) {
    *error = path + ": not a regular file";
    ToolClose(file);
    return false;
  }
  unsigned char header[16];
  if (info->fileSize < sizeof header || !ToolRead(file, header, sizeof header)) {
    *error = path + ": " + std::to_string(info->fileSize) +
             " bytes, shorter than the 16-byte archive header";
    ToolClose(file);
    return false;
  }
  info->format = header[11];
  info->width = ArchiveNameWidth(info->format);
  info->count = Little32(header + 12);
  DWORD indexSize = 0;
  if (!ArchiveIndexSize(info->count, info->width, &indexSize)) {
    *error = path + ": " + std::to_string(info->count) + " entries: the index would not fit in 32 bits";
    ToolClose(file);
    return false;
  }
  info->dataStart = 16 + static_cast<uint64_t>(indexSize);
  if (info->dataStart > info->fileSize) {
    *error = path + ": cut short: an index of " + std::to_string(info->count) + " entries needs " +
             std::to_string(indexSize) + " bytes after the header, and the file holds " +
             std::to_string(info->fileSize - 16);
    ToolClose(file);
    return false;
  }
  std::string index(indexSize, '\0');
  bool read = indexSize == 0 || ToolRead(file, &index[0], indexSize);
  ToolClose(file);
  if (!read) {
    *error = path + ": the index could not be read";
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
  source.file = ToolOpenArchive(archive);
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
