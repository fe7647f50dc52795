// Replays the fuzzer's seeds and every input it ever found a fault with.
#include <dirent.h>

#include <fstream>
#include <sstream>

#include "support.h"
#include "tests/fuzz/archive_harness.h"

namespace {

class FuzzRegressionTest : public HostTest {};

TEST_F(FuzzRegressionTest, SeedsAndFoundInputsRunClean) {
  unsigned replayed = 0;
  for (const char* folder : {"seeds", "regressions"}) {
    std::string path = std::string(UPDATER_SOURCE_DIR) + "/tests/fuzz/" + folder;
    DIR* dir = opendir(path.c_str());
    ASSERT_NE(dir, nullptr) << path;
    while (struct dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name[0] == '.' || name == "README") continue;
      std::ifstream in(path + "/" + name, std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      std::string input = bytes.str();
      SCOPED_TRACE(name);
      RunArchiveInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
      ++replayed;
    }
    closedir(dir);
  }
  EXPECT_GT(replayed, 0u) << "no seeds found";
}

}  // namespace
