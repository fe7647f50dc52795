// Patch sources over real files: loose files first, then the update
// archive in either layout, with every malformed archive giving a clean
// null and nothing left open or allocated (HostTest checks that).
#include <fcntl.h>
#include <unistd.h>

#include "delivery/patch_source.h"
#include "support.h"

namespace {

const char ARCHIVE[] = "UpdateData.dat";

// Opens, reads, waits and closes.  *opened tells whether a source came;
// the result tells whether its bytes came whole.
bool Fetch(const char* name, std::string* bytes, bool* opened = nullptr) {
  PatchSource* source = OpenPatchSource(name, ARCHIVE);
  if (opened) *opened = source != nullptr;
  if (source == nullptr) return false;
  std::string buffer(GetPatchSourceSize(source), '\0');
  BOOL read = ReadPatchSource(source, &buffer[0]);
  BOOL whole = WaitPatchSource(source);
  ClosePatchSource(source);
  *bytes = buffer;
  return read && whole;
}

std::string Fill(size_t n, char c) { return std::string(n, c); }

class PatchSourceTest : public HostTest {};
class ArchiveLayoutTest : public HostTest, public ::testing::WithParamInterface<uint8_t> {};

TEST_F(PatchSourceTest, WorkedLayoutsAddressTheDataAreaAfterTheIndex) {
  struct Case {
    int line;
    uint8_t format;
    DWORD firstByte;
  } cases[] = {{__LINE__, '1', 69}, {__LINE__, 0x32, 101}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line);
    ArchiveParts parts;
    parts.format = c.format;
    parts.entries = {{"a.dat", 0, 5}, {"b.dat", 5, 3}};
    parts.data = "AAAAABCD";
    std::string archive = BuildArchive(parts);
    ASSERT_EQ(archive.size(), c.firstByte - 5 + 8);
    WriteBytes(ARCHIVE, archive);
    PatchSource* source = OpenPatchSource("b.dat", ARCHIVE);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->inArchive, 1u);
    EXPECT_EQ(source->dataOffset, c.firstByte);
    EXPECT_EQ(source->size, 3u);
    EXPECT_EQ(source->requested, 0u);
    EXPECT_EQ(source->transferred, 0u);
    EXPECT_EQ(SetFilePointer(source->file, 0, NULL, FILE_CURRENT), c.firstByte)
        << "the position must stand at the entry's first byte";
    char got[4] = {};
    EXPECT_TRUE(ReadPatchSource(source, got));
    EXPECT_TRUE(WaitPatchSource(source));
    EXPECT_EQ(source->requested, 3u);
    EXPECT_EQ(source->transferred, 3u);
    EXPECT_EQ(std::string(got, 3), "BCD");
    ClosePatchSource(source);
  }
}

TEST_P(ArchiveLayoutTest, LooksNamesUpAsTheUpdaterDoes) {
  const uint8_t format = GetParam();
  const uint32_t w = NameWidth(format);
  const std::string longest = Fill(w - 1, 'm');
  const std::string noNul = Fill(w, 'n');
  ArchiveParts parts;
  parts.format = format;
  parts.reserved = "\xff\x01garbage\x7f\x80";  // never examined
  parts.data = "P1EMPTYfirstsecondslashmaxnonultrail";
  const uint32_t dataStart = 16 + 12 * (w + 8);
  // The name that fills its field is followed by an empty name, whose
  // first byte is zero: still it is no name.
  parts.entries = {
      {"patch110.dat", 0, 2},
      {noNul, 26, 5},
      {"", 2, 5},
      {"InstData.pak", 7, 5},
      {"instdata.PAK", 12, 6},
      {"sub/x.ini", 18, 5},
      {"zero.dat", 0, 0},
      {longest, 23, 3},
      {"X.dat", 31, 5},
      {"neg.dat", static_cast<uint32_t>(-static_cast<int32_t>(dataStart)), 11},
      {"before.dat", static_cast<uint32_t>(-static_cast<int32_t>(dataStart) - 1), 4},
      {"past.dat", 1000, 4},
  };
  const std::string archive = BuildArchive(parts);
  WriteBytes(ARCHIVE, archive);

  struct Case {
    int line;
    std::string name;
    bool opens;
    bool whole;
    std::string bytes;
  } cases[] = {
      {__LINE__, "patch110.dat", true, true, "P1"},
      {__LINE__, "PATCH110.DAT", true, true, "P1"},
      {__LINE__, "sub\\dir\\InstData.pak", true, true, "first"},  // the first of two wins
      {__LINE__, "INSTDATA.PAK", true, true, "first"},
      {__LINE__, "sub/x.ini", true, true, "slash"},  // a slash is an ordinary byte
      {__LINE__, "x.ini", false, false, ""},
      {__LINE__, "folder\\", true, true, "EMPTY"},  // empty key: the first empty name
      {__LINE__, "zero.dat", false, false, ""},     // size 0 never opens
      {__LINE__, longest, true, true, "max"},
      {__LINE__, noNul, false, false, ""},  // a name that filled its field matches nothing
      {__LINE__, noNul.substr(0, w - 1), false, false, ""},
      {__LINE__, "\x83\\X.dat", true, true, "trail"},  // the trail byte 0x5C restarts the key
      {__LINE__, "neg.dat", true, true, archive.substr(0, 11)},
      {__LINE__, "before.dat", false, false, ""},  // a move before byte 0 is refused
      {__LINE__, "past.dat", true, false, std::string(4, '\0')},  // short: never whole
      {__LINE__, "absent.dat", false, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line);
    std::string bytes;
    bool opened = false;
    bool whole = Fetch(c.name.c_str(), &bytes, &opened);
    EXPECT_EQ(opened, c.opens);
    EXPECT_EQ(whole, c.whole);
    if (c.opens) {
      EXPECT_EQ(bytes, c.bytes);
    }
    EXPECT_EQ(HostOpenHandles(), 0u);
    EXPECT_EQ(HostLiveBlocks(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, ArchiveLayoutTest, ::testing::Values(0x32, '1'));

// The scan reads the N name fields and no further, whatever the location
// table after them holds: here one short entry whose pair has no zero
// byte, which a scan one field too far would take for a name (and read
// past the index, which AddressSanitizer reports).
TEST_F(PatchSourceTest, TheScanNeverReadsPastItsFields) {
  ArchiveParts parts;
  parts.format = '1';
  parts.entries = {{"a.dat", 0x01010101u, 0x01010101u}};
  parts.data = "data";
  WriteBytes(ARCHIVE, BuildArchive(parts));
  std::string bytes;
  bool opened = true;
  EXPECT_FALSE(Fetch("b.dat", &bytes, &opened));
  EXPECT_FALSE(opened);
}

TEST_F(PatchSourceTest, ByteElevenAloneChoosesTheLayout) {
  struct Case {
    int line;
    uint8_t format;
    uint32_t width;
  } cases[] = {{__LINE__, 0x32, 32}, {__LINE__, '1', 16}, {__LINE__, 0, 16},
               {__LINE__, 'A', 16}, {__LINE__, 0x33, 16}, {__LINE__, 0xFF, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line);
    // Written with the width the format character names; read back whole.
    std::string field = "InstData.pak";
    field.resize(c.width, '\0');
    std::string archive(11, '\x55');
    archive.push_back(static_cast<char>(c.format));
    archive += std::string("\x01\x00\x00\x00", 4) + field;
    archive += std::string("\x00\x00\x00\x00\x04\x00\x00\x00", 8) + "DATA";
    WriteBytes(ARCHIVE, archive);
    std::string bytes;
    EXPECT_TRUE(Fetch("InstData.pak", &bytes));
    EXPECT_EQ(bytes, "DATA");
  }
}

TEST_F(PatchSourceTest, EmptyCutAndOversizedArchivesYieldNothing) {
  ArchiveParts cut;
  cut.entries = {{"a.dat", 0, 1}, {"patch110.dat", 1, 1}, {"c.dat", 2, 1}};
  cut.data = "abc";
  std::string cutArchive = BuildArchive(cut).substr(0, 16 + 32 + 20);  // inside field 1

  ArchiveParts none;
  none.entries = {};

  struct Case {
    int line;
    std::string archive;
    SIZE_T allocLimit;  // 0: the default
  } cases[] = {
      {__LINE__, BuildArchive(none), 0},
      {__LINE__, "", 0},
      {__LINE__, std::string("\0\0\0\0\0\0\0\0\0\0\0\x32", 12), 0},
      {__LINE__, cutArchive, 0},
      // 0x7FFFFFFF entries of 40 bytes: the index size does not fit 32 bits.
      {__LINE__, std::string(11, '\0') + "\x32\xff\xff\xff\x7f" + "patch110.dat", 0},
      {__LINE__, std::string(11, '\0') + "\x31\xff\xff\xff\xff" + "patch110.dat", 0},
      // An index that fits 32 bits but not in memory.
      {__LINE__, std::string(11, '\0') + "\x32\x00\x00\x10\x00" + "patch110.dat", 1 << 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line);
    HostSetAllocLimit(c.allocLimit ? c.allocLimit : 0x7FFF0000u);
    WriteBytes(ARCHIVE, c.archive);
    for (const char* name : {"a.dat", "patch110.dat", "c.dat", "x\\"}) {
      std::string bytes;
      bool opened = true;
      Fetch(name, &bytes, &opened);
      EXPECT_FALSE(opened) << "" << name;
    }
  }
}

TEST_F(PatchSourceTest, TheLooseFileWinsWithoutTheArchiveBeingOpened) {
  WriteBytes(ARCHIVE, PackFiles(0x32, {{"InstData.pak", "from the archive"}}));
  WriteBytes("InstData.pak", "loose");
  std::string bytes;
  ASSERT_TRUE(Fetch("InstData.pak", &bytes));
  EXPECT_EQ(bytes, "loose");
  EXPECT_EQ(HostOpenAttempts(ARCHIVE), 0u);
  EXPECT_EQ(HostCallCount(HOST_CALL_READ), 1u) << "a loose file comes in one read";

  // A loose file that another program holds opens only if that program
  // shares reading and does not write it; otherwise the archive's entry
  // is taken instead.
  struct Holder {
    const char* what;
    DWORD access, share;
    const char* expected;
  } holders[] = {
      {"reads, shares reading", GENERIC_READ, FILE_SHARE_READ, "loose"},
      {"reads, shares both", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, "loose"},
      {"reads, shares writing", GENERIC_READ, FILE_SHARE_WRITE, "from the archive"},
      {"writes, shares both", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, "from the archive"},
      {"reads and writes, shares nothing", GENERIC_READ | GENERIC_WRITE, 0, "from the archive"},
  };
  for (const Holder& holder : holders) {
    SCOPED_TRACE(holder.what);
    int held = HostHoldFile("InstData.pak", holder.access, holder.share);
    ASSERT_NE(held, 0);
    ASSERT_TRUE(Fetch("InstData.pak", &bytes));
    EXPECT_EQ(bytes, holder.expected);
    HostReleaseFile(held);
  }

  // The file system finds a loose file in any letter case.
  unlink("InstData.pak");
  WriteBytes("INSTDATA.PAK", "loose, upper case");
  ASSERT_TRUE(Fetch("InstData.pak", &bytes));
  EXPECT_EQ(bytes, "loose, upper case");

  WriteBytes("empty.dat", "");
  PatchSource* source = OpenPatchSource("empty.dat", ARCHIVE);
  ASSERT_NE(source, nullptr) << "an empty loose file still opens";
  EXPECT_EQ(source->inArchive, 0u);
  EXPECT_EQ(GetPatchSourceSize(source), 0u);
  EXPECT_TRUE(WaitPatchSource(source)) << "before any read";
  char none[1];
  EXPECT_TRUE(ReadPatchSource(source, none));
  EXPECT_TRUE(WaitPatchSource(source));
  ClosePatchSource(source);
}

TEST_F(PatchSourceTest, EachLookupOpensTheArchiveAfreshAndReadsHeaderIndexAndDataOnce) {
  WriteBytes(ARCHIVE, PackFiles('1', {{"patch110.dat", "one"}, {"Archive.ini", "two"}}));
  HostResetPlatform();
  std::string bytes;
  ASSERT_TRUE(Fetch("Archive.ini", &bytes));
  EXPECT_EQ(bytes, "two");
  EXPECT_EQ(HostCallCount(HOST_CALL_READ), 3u) << "header, index, data";
  ASSERT_TRUE(Fetch("patch110.dat", &bytes));
  EXPECT_EQ(bytes, "one");
  EXPECT_EQ(HostOpenAttempts(ARCHIVE), 2u);
  EXPECT_EQ(HostCallCount(HOST_CALL_SEEK), 2u);
}

TEST_F(PatchSourceTest, PlatformFailuresGiveNullAndLeaveNothingBehind) {
  WriteBytes(ARCHIVE, PackFiles(0x32, {{"patch110.dat", "archived"}}));
  WriteBytes("Archive.ini", "loose");
  struct Case {
    int line;
    const char* name;
    HostCall call;
    unsigned nth;
  } cases[] = {
      {__LINE__, "patch110.dat", HOST_CALL_ALLOC, 1},  // the record
      {__LINE__, "patch110.dat", HOST_CALL_ALLOC, 2},  // the header buffer
      {__LINE__, "patch110.dat", HOST_CALL_ALLOC, 3},  // the index buffer
      {__LINE__, "patch110.dat", HOST_CALL_OPEN, 2},   // the archive itself
      {__LINE__, "patch110.dat", HOST_CALL_SEEK, 1},   // the move to the entry
      {__LINE__, "Archive.ini", HOST_CALL_SIZE, 1},    // a loose file of unknown size
      {__LINE__, "Archive.ini", HOST_CALL_ALLOC, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line);
    HostResetPlatform();
    HostFailCall(c.call, c.nth);
    EXPECT_EQ(OpenPatchSource(c.name, ARCHIVE), nullptr);
    EXPECT_EQ(HostOpenHandles(), 0u);
    EXPECT_EQ(HostLiveBlocks(), 0u);
  }
  HostResetPlatform();
  HostFailCall(HOST_CALL_ALLOC, 1);
  EXPECT_EQ(OpenPatchSource("patch110.dat", ARCHIVE), nullptr);
  EXPECT_EQ(HostCallCount(HOST_CALL_OPEN), 0u) << "nothing is opened without a record";
}

TEST_F(PatchSourceTest, ALooseFileOfFourGibibytesOrMoreIsNeverDeliveredCut) {
  int fd = open("patch110.dat", O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 0x100000005ll), 0) << "no sparse file here";
  close(fd);
  WriteBytes(ARCHIVE, PackFiles(0x32, {{"patch110.dat", "archived"}}));
  EXPECT_EQ(OpenPatchSource("patch110.dat", ARCHIVE), nullptr);
  EXPECT_EQ(HostOpenAttempts(ARCHIVE), 0u) << "the loose file opened, so it decides";
}

TEST_F(PatchSourceTest, ReadsThatFailOrComeShortAreReportedAndNeverWaitedForEver) {
  WriteBytes("Archive.ini", "0123456789");
  struct Case {
    int line;
    bool fail;
    DWORD deliver;
    BOOL read;
    BOOL whole;
  } cases[] = {
      {__LINE__, false, 10, TRUE, TRUE},
      {__LINE__, false, 4, TRUE, FALSE},
      {__LINE__, true, 0, FALSE, FALSE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line);
    HostResetPlatform();
    if (c.fail)
      HostFailCall(HOST_CALL_READ, 1);
    else
      HostShortCall(HOST_CALL_READ, 1, c.deliver);
    PatchSource* source = OpenPatchSource("Archive.ini", ARCHIVE);
    ASSERT_NE(source, nullptr);
    char buffer[10];
    EXPECT_EQ(ReadPatchSource(source, buffer), c.read);
    EXPECT_EQ(source->requested, 10u);
    EXPECT_EQ(source->transferred, c.deliver);
    EXPECT_EQ(WaitPatchSource(source), c.whole);
    ClosePatchSource(source);
  }
  EXPECT_FALSE(ReadPatchSource(nullptr, nullptr));
  EXPECT_FALSE(WaitPatchSource(nullptr));
  PatchSource closed = {0, INVALID_HANDLE_VALUE, 0, 0, 0, 0};
  EXPECT_FALSE(WaitPatchSource(&closed));
}

}  // namespace
