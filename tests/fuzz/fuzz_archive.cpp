// libFuzzer entry: arbitrary bytes as UpdateData.dat, in a private folder.
#include <stdlib.h>
#include <unistd.h>

#include "tests/fuzz/archive_harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/updater-fuzz-XXXXXX";
  if (mkdtemp(folder) == nullptr || chdir(folder) != 0) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RunArchiveInput(data, size);
  return 0;
}
