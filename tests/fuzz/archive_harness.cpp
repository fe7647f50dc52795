#include "tests/fuzz/archive_harness.h"

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "delivery/patch_source.h"
#include "platform/host/host_control.h"
#include "tools/mkupdate/archive_tool.h"

namespace {

const char ARCHIVE[] = "UpdateData.dat";

// The update's names and the awkward ones: a trailing backslash (empty
// key), a name longer than any field, a two-byte character whose trail
// byte is 0x5C, and an empty name.
const char* const NAMES[] = {
    "patch110.dat", "InstData.pak", "Archive.ini", "PATCH110.DAT", "folder\\",
    "a_name_that_is_longer_than_any_name_field.dat", "\x83\\x.dat", "",
};

void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "archive harness: %s\n", what);
    abort();
  }
}

}  // namespace

void RunArchiveInput(const uint8_t* data, size_t size) {
  HostResetPlatform();
  // Allocations past 1 MiB fail: the paths they take are the same as with
  // more memory, and absurd entry counts stay fast.
  HostSetAllocLimit(1u << 20);
  FILE* out = fopen(ARCHIVE, "wb");
  Check(out != nullptr, "cannot write the archive");
  Check(size == 0 || fwrite(data, 1, size, out) == size, "cannot write the archive");
  fclose(out);

  for (const char* name : NAMES) {
    PatchSource* source = OpenPatchSource(name, ARCHIVE);
    if (source == nullptr) continue;
    DWORD n = GetPatchSourceSize(source);
    Check(n != 0, "an archive entry of size 0 opened");
    void* buffer = GlobalAlloc(GPTR, n);
    if (buffer != nullptr) {
      ReadPatchSource(source, buffer);
      BOOL whole = WaitPatchSource(source);
      Check(!whole || source->transferred == n, "a short read waited as whole");
      GlobalFree(GlobalHandle(buffer));
    }
    ClosePatchSource(source);
  }
  Check(HostOpenHandles() == 0 && HostLiveBlocks() == 0, "the patch sources leaked");

  ArchiveInfo info;
  std::string error;
  if (InspectArchive(ARCHIVE, &info, &error)) {
    for (const EntryInfo& entry : info.entries) {
      EntryFlags(entry);
      DisplayName(entry.name);
    }
  }
  for (int i = 0; i < 3; ++i) {
    std::string bytes;
    bool found = ReadArchiveEntry(ARCHIVE, NAMES[i], &bytes, &error);
    Check(!found || !bytes.empty(), "check took an empty entry");
  }
  Check(HostOpenHandles() == 0 && HostLiveBlocks() == 0, "the archive tool leaked");
}
