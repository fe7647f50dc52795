// Archives made by mkupdate's writer, read back by the updater's own
// patch sources.
#include "delivery/patch_source.h"
#include "support.h"
#include "tools/mkupdate/archive_tool.h"

namespace {

class PackTest : public HostTest {};

TEST_F(PackTest, WhatPackWritesTheUpdaterReadsInEitherLayout) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"patch110.dat", std::string("\x00\x01patch\xff", 8)},
      {"InstData.pak", std::string(70000, 'i')},
      {"Archive.ini", "[update]\r\n"},
      {"ゲーム.dat", "a Japanese name"},
  };
  for (uint8_t format : {FORMAT_LONG, FORMAT_SHORT}) {
    std::vector<std::string> paths;
    for (const auto& file : files) {
      WriteBytes(file.first, file.second);
      paths.push_back(file.first);
    }
    std::string error;
    ASSERT_TRUE(PackArchive("UpdateData.dat", format, paths, &error)) << error;
    // The updater finds each entry only in the archive once the loose
    // files are gone.
    for (const auto& file : files) unlink(file.first.c_str());
    for (const auto& file : files) {
      std::string name = file.first == "ゲーム.dat" ? Cp932(file.first) : file.first;
      PatchSource* source = OpenPatchSource(name.c_str(), "UpdateData.dat");
      ASSERT_NE(source, nullptr) << file.first << " in layout " << int(format);
      EXPECT_EQ(source->inArchive, 1u);
      std::string bytes(GetPatchSourceSize(source), '\0');
      EXPECT_TRUE(ReadPatchSource(source, &bytes[0]));
      EXPECT_TRUE(WaitPatchSource(source));
      ClosePatchSource(source);
      EXPECT_EQ(bytes, file.second) << file.first;
    }
    ArchiveInfo info;
    ASSERT_TRUE(InspectArchive("UpdateData.dat", &info, &error)) << error;
    EXPECT_EQ(info.width, format == FORMAT_LONG ? 32u : 16u);
    for (const EntryInfo& entry : info.entries) EXPECT_TRUE(EntryFlags(entry).empty()) << entry.index;
  }
}

}  // namespace
