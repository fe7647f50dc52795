// The host platform's test controls: fault injection, short reads and
// writes, files another program holds, the allocation limit and the
// accounting of blocks.  What the calls themselves do is held against the
// real Win32 by the conformance suite (tests/conformance), on both
// backends.  Out-parameters start as 0xdeadbeef so that a call which
// forgets to set them shows.
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
