// Patch sources: one file of the update, read whole, from a loose file in
// the current directory or else from its entry in the update archive.
//
// The update archive: a 16-byte header (bytes 0 to 10 unused; byte 11 the
// format character, '2' for 32-byte name fields and anything else for
// 16-byte ones; bytes 12 to 15 the entry count N), then N name fields,
// then N location pairs (signed 32-bit offset from the start of the data
// area, unsigned 32-bit size), then the data area.  All little-endian.
#ifndef UPDATER_PATCH_SOURCE_H
#define UPDATER_PATCH_SOURCE_H

#include "platform/platform.h"

#define ARCHIVE_HEADER_SIZE 16
#define ARCHIVE_LONG_FORMAT 0x32
#define ARCHIVE_LONG_NAME 32
#define ARCHIVE_SHORT_NAME 16
#define ARCHIVE_PAIR_SIZE 8

struct PatchSource {
  DWORD inArchive;    // 0: a loose file; 1: an archive entry
  HANDLE file;        // owned: the loose file or the archive
  DWORD dataOffset;   // position in file of the source's first byte
  DWORD size;         // the source's length in bytes
  DWORD requested;    // bytes the last read asked for
  DWORD transferred;  // bytes the last read delivered
};

// Opens name as a loose file, or else looks it up in the archive at
// archivePath.  The record comes from fixed memory and the caller holds it
// until ClosePatchSource.  Null when neither can be opened, when no memory
// is to be had, and for a loose file whose length is unknown or 4 GiB or
// more; nothing is left open then.
PatchSource* OpenPatchSource(LPCSTR name, LPCSTR archivePath);

DWORD GetPatchSourceSize(const PatchSource* source);

// Reads the whole source into buffer, which has room for its size.
// 1 when the platform reports the read successful (even a short one);
// 0 for a failed read or a null source.
BOOL ReadPatchSource(PatchSource* source, LPVOID buffer);

// 1 once the last read has delivered all it asked for, and before any
// read.  Reads are synchronous, so a read that came up short can never
// catch up: 0 at once then, and for a null source or one without a file.
BOOL WaitPatchSource(PatchSource* source);

// Closes the source's file and gives the record back.
void ClosePatchSource(PatchSource* source);

// The archive layout, shared with the tools that make and check archives.
// The width of a name field for a format character.
DWORD ArchiveNameWidth(BYTE format);
// The index size of count entries of that width; FALSE when it does not
// fit in 32 bits.
BOOL ArchiveIndexSize(DWORD count, DWORD width, DWORD* size);
// Whether the lookup key matches the name field, compared within the
// field's width.  A field with no NUL inside it matches nothing.
BOOL ArchiveFieldMatches(const BYTE* field, DWORD width, LPCSTR key);
// The part of a requested name that the archive is searched for: what
// follows its last 0x5C byte, or all of it.
LPCSTR ArchiveLookupKey(LPCSTR name);

// Looks name up in the archive that source->file has just opened, at byte
// 0.  Returns the entry's size with the file positioned at its first byte,
// or 0: no such name, an empty index, an entry of size 0, a refused move,
// an index too large for 32 bits or for memory.
DWORD SeekArchiveEntry(PatchSource* source, LPCSTR name);

#endif
