// The update archive as its makers see it: packing files into one, and
// reading one back entry by entry with everything the updater would trip
// over flagged.  Lookups go through the updater's own code.
#ifndef MKUPDATE_ARCHIVE_TOOL_H
#define MKUPDATE_ARCHIVE_TOOL_H

#include <stdint.h>

#include <string>
#include <vector>

const uint8_t FORMAT_LONG = 0x32;   // '2': 32-byte name fields
const uint8_t FORMAT_SHORT = 0x31;  // '1': 16-byte name fields

// Writes an archive of files, under their bare names in code page 932,
// to a temporary file beside out and renames it into place.  False with
// *error naming the file at fault; no file is left at out then.
bool PackArchive(const std::string& out, uint8_t format, const std::vector<std::string>& files,
                 std::string* error);

struct EntryInfo {
  uint32_t index;
  std::string name;  // the field's bytes up to its NUL, or all of them
  int32_t offset;
  uint32_t size;
  int64_t start;  // the entry's bytes in the file: [start, end)
  int64_t end;
  int64_t shadowedBy;  // the earlier entry the lookup finds first, or -1
  bool noNul;
  bool backslash;
  bool empty;
  bool outside;  // not wholly inside the file
};

struct ArchiveInfo {
  uint8_t format;
  uint32_t width;
  uint32_t count;
  uint64_t fileSize;
  uint64_t dataStart;
  std::vector<EntryInfo> entries;
};

// Reads the header and index.  False with *error for a file that cannot
// be read, is shorter than a header, or whose index does not fit in 32
// bits or in the file.
bool InspectArchive(const std::string& path, ArchiveInfo* info, std::string* error);

// The flags of an entry, in words: "shadowed", "empty", "past-end",
// "no-nul", "backslash".
std::vector<std::string> EntryFlags(const EntryInfo& entry);

// What the updater takes for name (code page 932) from the archive alone
// (no loose file): its own lookup and read.  False with *error when it
// finds nothing or the entry cannot be read whole.
bool ReadArchiveEntry(const std::string& archive, const std::string& name, std::string* bytes,
                      std::string* error);

// Code page 932 bytes for display in UTF-8; undecodable bytes as \xNN.
std::string DisplayName(const std::string& cp932);

// Writes bytes to out through a temporary file and a rename.
bool WriteWhole(const std::string& out, const std::string& bytes, std::string* error);

#endif
