// Shared fixtures of the host tests: a private temporary folder as the
// current directory, byte-exact file helpers, a writer of update archives
// from their parts, and code page 932 conversion through iconv.
#ifndef UPDATER_TEST_SUPPORT_H
#define UPDATER_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "platform/host/host_control.h"

// Each test runs in a fresh temporary folder with the platform models
// reset, and fails if it leaves a handle open or a block live.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string dir_;  // the temporary folder, also the current directory

 private:
  std::string previous_;
};

void WriteBytes(const std::string& path, const std::string& bytes);
// The file's bytes; false when it cannot be read.
bool ReadBytes(const std::string& path, std::string* bytes);
bool Exists(const std::string& path);
void MakeFolder(const std::string& path);

// UTF-8 to code page 932, by iconv.  Fails the test if it cannot convert.
std::string Cp932(const std::string& utf8);

// An archive built field by field, so a test can make any of them wrong.
struct ArchiveEntry {
  std::string name;  // the name field's bytes; padded with NULs to the width
  uint32_t offset;
  uint32_t size;
};
struct ArchiveParts {
  std::string reserved = std::string(11, '\0');
  uint8_t format = 0x32;
  uint32_t count = 0xFFFFFFFFu;  // 0xFFFFFFFF: the number of entries
  std::vector<ArchiveEntry> entries;
  std::string data;
};
std::string BuildArchive(const ArchiveParts& parts);
// An archive of these files, their data laid out in order from offset 0.
std::string PackFiles(uint8_t format, const std::vector<std::pair<std::string, std::string>>& files);
uint32_t NameWidth(uint8_t format);

#endif
