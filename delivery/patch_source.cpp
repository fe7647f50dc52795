#include "delivery/patch_source.h"

namespace {

DWORD ReadLittle32(const BYTE* bytes) {
  return static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 |
         static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24;
}

HANDLE OpenForReading(LPCSTR path) {
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
}

bool IsOpen(HANDLE file) { return file != NULL && file != INVALID_HANDLE_VALUE; }

void FreeBlock(LPCVOID block) { GlobalFree(GlobalHandle(block)); }

}  // namespace

DWORD ArchiveNameWidth(BYTE format) {
  return format == ARCHIVE_LONG_FORMAT ? ARCHIVE_LONG_NAME : ARCHIVE_SHORT_NAME;
}

// The count comes from the file: an index whose size does not fit in 32
// bits cannot be read, and the size wrapped would overrun its buffer.
BOOL ArchiveIndexSize(DWORD count, DWORD width, DWORD* size) {
  unsigned long long wide = static_cast<unsigned long long>(count) * (width + ARCHIVE_PAIR_SIZE);
  if (wide > 0xFFFFFFFFull) return FALSE;
  *size = static_cast<DWORD>(wide);
  return TRUE;
}

// A field with no NUL inside it holds a name that did not fit, so it
// matches no key: a cut name could stand for another file.
BOOL ArchiveFieldMatches(const BYTE* field, DWORD width, LPCSTR key) {
  for (DWORD i = 0; i < width; ++i) {
    if (field[i] == 0) return lstrcmpiA(reinterpret_cast<LPCSTR>(field), key) == 0;
  }
  return FALSE;
}

// Every 0x5C counts, also the trail byte of a two-byte character, as the
// archive's names are bare.
LPCSTR ArchiveLookupKey(LPCSTR name) {
  LPCSTR key = name;
  for (LPCSTR p = name; *p; ++p) {
    if (*p == '\\') key = p + 1;
  }
  return key;
}

DWORD SeekArchiveEntry(PatchSource* source, LPCSTR name) {
  LPCSTR key = ArchiveLookupKey(name);

  // A short or failed read of the header or index is not looked at: the
  // buffers start zero-filled, so what the archive lacks reads as zeros,
  // and a cut archive yields entries of size 0, which never open.
  BYTE* header = static_cast<BYTE*>(GlobalAlloc(GPTR, ARCHIVE_HEADER_SIZE));
  if (header == NULL) return 0;
  DWORD got = 0;
  ReadFile(source->file, header, ARCHIVE_HEADER_SIZE, &got, NULL);
  BYTE format = header[11];
  DWORD count = ReadLittle32(header + 12);
  FreeBlock(header);

  DWORD width = ArchiveNameWidth(format);
  DWORD indexSize = 0;
  if (!ArchiveIndexSize(count, width, &indexSize)) return 0;

  BYTE* index = static_cast<BYTE*>(GlobalAlloc(GPTR, indexSize));
  if (index == NULL) return 0;
  ReadFile(source->file, index, indexSize, &got, NULL);

  DWORD found = count;
  for (DWORD i = 0; i < count; ++i) {
    if (ArchiveFieldMatches(index + i * width, width, key)) {
      found = i;
      break;
    }
  }
  if (found == count) {
    FreeBlock(index);
    return 0;
  }
  const BYTE* pair = index + count * width + found * ARCHIVE_PAIR_SIZE;
  DWORD offset = ReadLittle32(pair);
  DWORD size = ReadLittle32(pair + 4);
  FreeBlock(index);

  source->dataOffset = ARCHIVE_HEADER_SIZE + indexSize + offset;
  // After a whole index read the position is the data area's first byte,
  // so the signed offset moves straight to the entry.
  if (SetFilePointer(source->file, static_cast<LONG>(offset), NULL, FILE_CURRENT) ==
      INVALID_SET_FILE_POINTER)
    return 0;
  return size;
}

PatchSource* OpenPatchSource(LPCSTR name, LPCSTR archivePath) {
  PatchSource* source = static_cast<PatchSource*>(GlobalAlloc(GPTR, sizeof(PatchSource)));
  if (source == NULL) return NULL;

  source->inArchive = 0;
  source->file = OpenForReading(name);
  if (IsOpen(source->file)) {
    // The size must be known and fit in 32 bits: a loose file is never
    // delivered cut to its low 32 bits.  INVALID_FILE_SIZE is a real size
    // only when no error comes with it.
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(source->file, &high);
    if (high != 0 || (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)) {
      CloseHandle(source->file);
      FreeBlock(source);
      return NULL;
    }
    source->size = low;
    source->dataOffset = 0;
  } else {
    // Whatever kept the loose file shut, the archive is tried.
    source->file = OpenForReading(archivePath);
    if (!IsOpen(source->file)) {
      FreeBlock(source);
      return NULL;
    }
    source->inArchive = 1;
    source->size = SeekArchiveEntry(source, name);
    if (source->size == 0) {
      CloseHandle(source->file);
      FreeBlock(source);
      return NULL;
    }
  }
  source->transferred = 0;
  source->requested = 0;
  return source;
}

DWORD GetPatchSourceSize(const PatchSource* source) { return source->size; }

BOOL ReadPatchSource(PatchSource* source, LPVOID buffer) {
  if (source == NULL) return FALSE;
  source->requested = source->size;
  return ReadFile(source->file, buffer, source->size, &source->transferred, NULL) ? TRUE : FALSE;
}

BOOL WaitPatchSource(PatchSource* source) {
  if (source == NULL || !IsOpen(source->file)) return FALSE;
  return source->transferred >= source->requested ? TRUE : FALSE;
}

void ClosePatchSource(PatchSource* source) {
  CloseHandle(source->file);
  FreeBlock(source);
}
