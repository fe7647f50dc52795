// The host platform behaves like Win32 where the updater relies on it.
// Out-parameters start as 0xdeadbeef so that a call which forgets to set
// them shows.
#include <sys/stat.h>

#include "platform/platform.h"
#include "support.h"

namespace {

const DWORD SENTINEL = 0xdeadbeef;

class HostPlatformTest : public HostTest {};

HANDLE OpenRead(const char* path, DWORD share = FILE_SHARE_READ) {
  return CreateFileA(path, GENERIC_READ, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
}

HANDLE OpenWrite(const char* path, DWORD share = FILE_SHARE_WRITE) {
  return CreateFileA(path, GENERIC_WRITE, share, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

TEST(HostText, LstrcmpiFoldsLettersAndKeepsTwoByteCharactersWhole) {
  struct Case {
    int line;
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {__LINE__, "patch110.dat", "PATCH110.DAT", true},
      {__LINE__, "InstData.pak", "instdata.PAK", true},
      {__LINE__, "", "", true},
      {__LINE__, "a", "ab", false},
      {__LINE__, "ab", "a", false},
      {__LINE__, "[", "{", false},           // not letters: no folding
      {__LINE__, "\x83\x41", "\x83\x61", false},  // trail bytes 'A' and 'a' differ
      {__LINE__, "\x83\x41x", "\x83\x41X", true},
      {__LINE__, "\x82\x60", "\x82\x81", true},   // full-width A and a are one letter
      {__LINE__, "\x82\x60", "A", false},          // width counts
      {__LINE__, "\x83", "\x83", true},          // a lead byte at the end stands alone
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line);
    int result = lstrcmpiA(c.a, c.b);
    EXPECT_EQ(result == 0, c.equal) << "got " << result;
    EXPECT_EQ(lstrcmpiA(c.b, c.a), -result);
  }
}

TEST(HostText, WsprintfFormatsStringFieldsWithinItsLimit) {
  char out[2048];
  memset(out, 'Z', sizeof out);
  EXPECT_EQ(wsprintfA(out, "%s\\%s", "C:\\Game", "a.dat"), 13);
  EXPECT_STREQ(out, "C:\\Game\\a.dat");
  EXPECT_EQ(out[14], 'Z') << "wrote past the NUL";
  std::string big(1500, 'x');
  EXPECT_EQ(wsprintfA(out, "%s", big.c_str()), 1023);
  EXPECT_EQ(out[1023], '\0');
}

TEST_F(HostPlatformTest, GlobalAllocGivesZeroFilledBlocksAndRefusesBadFrees) {
  BYTE* empty = static_cast<BYTE*>(GlobalAlloc(GPTR, 0));
  ASSERT_NE(empty, nullptr) << "a block of 0 bytes is still a block";
  BYTE* block = static_cast<BYTE*>(GlobalAlloc(GPTR, 4096));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(block[i], 0) << "byte " << i;
  EXPECT_EQ(HostLiveBlocks(), 2u);
  EXPECT_EQ(GlobalHandle(block), static_cast<HGLOBAL>(block));
  EXPECT_EQ(GlobalFree(GlobalHandle(block)), nullptr);
  EXPECT_EQ(GlobalFree(block), static_cast<HGLOBAL>(block)) << "a second free must be refused";
  EXPECT_EQ(GlobalFree(GlobalHandle(empty)), nullptr);

  HostSetAllocLimit(100);
  SetLastError(SENTINEL);
  EXPECT_EQ(GlobalAlloc(GPTR, 101), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  HostFailCall(HOST_CALL_ALLOC, HostCallCount(HOST_CALL_ALLOC) + 1);
  EXPECT_EQ(GlobalAlloc(GPTR, 1), nullptr);
}

TEST_F(HostPlatformTest, ReadFileDeliversShortAtTheEndAndSeeksStayInsideTheFile) {
  WriteBytes("f.bin", "0123456789");
  HANDLE file = OpenRead("f.bin");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char buffer[32] = {};
  DWORD got = SENTINEL;
  EXPECT_TRUE(ReadFile(file, buffer, 4, &got, NULL));
  EXPECT_EQ(got, 4u);
  got = SENTINEL;
  EXPECT_TRUE(ReadFile(file, buffer, 32, &got, NULL)) << "end of file is no failure";
  EXPECT_EQ(got, 6u);
  EXPECT_EQ(std::string(buffer, 6), "456789");

  struct Case {
    int line;
    DWORD method;
    LONG distance;
    DWORD result;  // INVALID_SET_FILE_POINTER: refused
    DWORD positionAfter;
  } cases[] = {
      {__LINE__, FILE_BEGIN, 3, 3, 3},
      {__LINE__, FILE_CURRENT, -3, 0, 0},
      {__LINE__, FILE_CURRENT, -1, INVALID_SET_FILE_POINTER, 0},  // before byte 0
      {__LINE__, FILE_CURRENT, 25, 25, 25},                       // past the end
      {__LINE__, FILE_END, -10, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line);
    SetLastError(SENTINEL);
    EXPECT_EQ(SetFilePointer(file, c.distance, NULL, c.method), c.result);
    if (c.result == INVALID_SET_FILE_POINTER) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    }
    EXPECT_EQ(SetFilePointer(file, 0, NULL, FILE_CURRENT), c.positionAfter);
  }
  SetFilePointer(file, 0, NULL, FILE_END);
  got = SENTINEL;
  EXPECT_TRUE(ReadFile(file, buffer, 4, &got, NULL));
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_FALSE(CloseHandle(file)) << "a closed handle is no handle";
}

TEST_F(HostPlatformTest, CreateFileFollowsShareModesAndTheReadOnlyAttribute) {
  WriteBytes("data.pak", "old");
  struct Case {
    int line;
    DWORD heldAccess, heldShare;  // what the other program holds
    bool write;                   // the open tried: false reads, true writes
    DWORD error;                  // 0: the open succeeds
  } cases[] = {
      {__LINE__, GENERIC_READ, FILE_SHARE_READ, false, 0},
      {__LINE__, GENERIC_READ, FILE_SHARE_READ, true, ERROR_SHARING_VIOLATION},
      {__LINE__, GENERIC_READ | GENERIC_WRITE, 0, false, ERROR_SHARING_VIOLATION},
      {__LINE__, GENERIC_READ | GENERIC_WRITE, 0, true, ERROR_SHARING_VIOLATION},
      {__LINE__, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false, ERROR_SHARING_VIOLATION},
      {__LINE__, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true, ERROR_SHARING_VIOLATION},
      {__LINE__, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line);
    int held = HostHoldFile("data.pak", c.heldAccess, c.heldShare);
    ASSERT_NE(held, 0);
    SetLastError(SENTINEL);
    HANDLE file = c.write ? OpenWrite("data.pak") : OpenRead("data.pak");
    if (c.error == 0) {
      EXPECT_NE(file, INVALID_HANDLE_VALUE);
      CloseHandle(file);
    } else {
      EXPECT_EQ(file, INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), c.error);
    }
    HostReleaseFile(held);
  }
  std::string bytes;
  ASSERT_TRUE(ReadBytes("data.pak", &bytes));
  EXPECT_EQ(bytes, "") << "the allowed CREATE_ALWAYS empties the file";

  WriteBytes("ro.ini", "keep");
  chmod("ro.ini", 0444);
  SetLastError(SENTINEL);
  EXPECT_EQ(OpenWrite("ro.ini"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ASSERT_TRUE(ReadBytes("ro.ini", &bytes));
  EXPECT_EQ(bytes, "keep") << "a refused open must not empty the file";

  SetLastError(SENTINEL);
  EXPECT_EQ(OpenWrite("no\\such\\folder.dat"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(OpenRead("missing.dat"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  MakeFolder("sub");
  HANDLE file = OpenWrite("sub\\new.dat");
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "a backslash is a path separator";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
  CloseHandle(file);
  EXPECT_TRUE(Exists("sub/new.dat"));
  file = OpenWrite("sub\\new.dat");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "replacing says so";
  CloseHandle(file);
}

TEST_F(HostPlatformTest, WritesAndReadsFailOrComeShortOnRequest) {
  HANDLE file = OpenWrite("w.bin", 0);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD done = SENTINEL;
  HostShortCall(HOST_CALL_WRITE, 1, 3);
  EXPECT_TRUE(WriteFile(file, "abcdef", 6, &done, NULL));
  EXPECT_EQ(done, 3u);
  HostFailCall(HOST_CALL_WRITE, 2, ERROR_DISK_FULL);
  done = SENTINEL;
  EXPECT_FALSE(WriteFile(file, "abcdef", 6, &done, NULL));
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  char buffer[8];
  done = SENTINEL;
  EXPECT_FALSE(ReadFile(file, buffer, 1, &done, NULL)) << "a file opened to write cannot be read";
  CloseHandle(file);

  file = OpenRead("w.bin");
  HostShortCall(HOST_CALL_READ, 1, 1);
  EXPECT_TRUE(ReadFile(file, buffer, 3, &done, NULL));
  EXPECT_EQ(done, 1u);
  HostFailCall(HOST_CALL_READ, 2);
  EXPECT_FALSE(ReadFile(file, buffer, 2, &done, NULL));
  EXPECT_EQ(done, 0u);
  CloseHandle(file);
  EXPECT_EQ(HostCallAt(1), HOST_CALL_OPEN);
  EXPECT_EQ(HostCallAt(2), HOST_CALL_WRITE);
}

}  // namespace
