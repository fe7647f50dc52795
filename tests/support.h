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

// What the tests know of the program from the outside, said once: the
// installation record's key, the update file set in row order, and the
// texts the user sees (in UTF-8; Cp932() gives the bytes shown).
extern const char RECORD_KEY[];
extern const char* const UPDATE_NAMES[3];
extern const char TITLE_TEXT[];
extern const char NOT_INSTALLED_TEXT[];
extern const char QUESTION_TEXT[];
extern const char REGISTRY_ERROR_TEXT[];
extern const char COMPLETION_TEXT[];
extern const char FAILURE_TEXT[];
extern const char ERROR_CAPTION_TEXT[];
// The applier's error box for one file of the set.
std::string WriteErrorText(const char* name);

// The boxes shown since the last reset, a letter a box: N not installed,
// Q already updated, R registry error, C completion, F failure, E the
// applier's error box (for any file of the set).  Each box's caption,
// buttons and owner are checked against what its text calls for: the
// driver's boxes have no owner, the others are owned by the dialog that
// ran last.  A box it does not know fails the test and reads as '?'.
std::string BoxCodes();

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
