// The applier over real folders, run inside a modelled dialog so that its
// error box has a live owner, as in the program.
#include <sys/stat.h>

#include "delivery/apply.h"
#include "support.h"

namespace {

const auto& NAMES = UPDATE_NAMES;
const char* const NEW_BYTES[] = {"new patch bytes\x00\x01\xff", "new pak", "[new]\r\nini=1\r\n"};
const size_t NEW_SIZES[] = {18, 7, 14};
const char* const OLD_BYTES[] = {"old patch", "old pak", "old ini"};
const int DIALOG = 101;

std::string NewBytes(int row) { return std::string(NEW_BYTES[row], NEW_SIZES[row]); }

struct ApplyRun {
  int result;
  HWND owner;
};

const char* g_folder;
ApplyRun g_run;

INT_PTR ApplyingProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) {
    g_run.owner = dialog;
    g_run.result = ApplyUpdateFiles(dialog, g_folder);
    EndDialog(dialog, 0);
  }
  return FALSE;
}

ApplyRun ApplyInDialog(const std::string& folder) {
  HostControl none[] = {{IDOK, "ok"}};
  HostDefineDialog(DIALOG, none, 1, IDOK);
  g_folder = folder.c_str();
  g_run = ApplyRun{-1, nullptr};
  DialogBoxParamA(nullptr, MAKEINTRESOURCEA(DIALOG), nullptr, ApplyingProc, 0);
  return g_run;
}

class ApplyTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    MakeFolder("game");
    for (int row = 0; row < 3; ++row) WriteBytes(Target(row), OLD_BYTES[row]);
  }

  static std::string Target(int row) { return std::string("game/") + NAMES[row]; }

  static void LooseSources() {
    for (int row = 0; row < 3; ++row) WriteBytes(NAMES[row], NewBytes(row));
  }

  static void ArchiveSources(uint8_t format) {
    WriteBytes("UpdateData.dat",
               PackFiles(format, {{"Archive.ini", NewBytes(2)},
                                  {"patch110.dat", NewBytes(0)},
                                  {"InstData.pak", NewBytes(1)}}));
  }

  static std::string Contents(const std::string& path) {
    std::string bytes;
    return ReadBytes(path, &bytes) ? bytes : "<missing>";
  }

  // Rows before failedRow hold their new bytes, rows after it their old
  // ones; failedRow itself is checked by the caller.
  static void ExpectRowsAround(int failedRow) {
    for (int row = 0; row < 3; ++row) {
      if (row < failedRow) {
        EXPECT_EQ(Contents(Target(row)), NewBytes(row));
      }
      if (row > failedRow) {
        EXPECT_EQ(Contents(Target(row)), OLD_BYTES[row]);
      }
    }
  }

  // Exactly one box: the error box naming that file, owned by the dialog
  // the applier ran in.
  static void ExpectOneErrorBox(HWND owner, const char* name) {
    EXPECT_EQ(BoxCodes(), "E");
    ASSERT_EQ(HostBoxes().size(), 1u);
    EXPECT_EQ(HostBoxes()[0].text, WriteErrorText(name));
    EXPECT_EQ(HostBoxes()[0].owner, owner);
  }
};

TEST_F(ApplyTest, TheWholeSetIsWrittenWithExactBytesFromEitherPlace) {
  struct Case {
    int line;
    bool loose;
    int archiveFormat;  // 0: no archive
  } cases[] = {{__LINE__, true, 0}, {__LINE__, false, 0x32}, {__LINE__, false, '1'},
               {__LINE__, true, 0x32}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line);
    HostResetPlatform();
    for (int row = 0; row < 3; ++row) {
      WriteBytes(Target(row), OLD_BYTES[row]);
      unlink(NAMES[row]);
    }
    if (c.archiveFormat) ArchiveSources(static_cast<uint8_t>(c.archiveFormat));
    if (c.loose) {
      LooseSources();
      // Loose files win; an archive with other bytes shows if they did not.
      if (c.archiveFormat)
        WriteBytes("UpdateData.dat", PackFiles(0x32, {{"patch110.dat", "wrong"},
                                                      {"InstData.pak", "wrong"},
                                                      {"Archive.ini", "wrong"}}));
    }
    ApplyRun run = ApplyInDialog("game");
    EXPECT_EQ(run.result, 1);
    ExpectRowsAround(3);
    EXPECT_TRUE(HostBoxes().empty());
    EXPECT_EQ(HostOpenHandles(), 0u);
    EXPECT_EQ(HostLiveBlocks(), 0u);
  }
}

enum Failure {
  WRITE_FAILS,
  WRITE_SHORT,
  TARGET_READ_ONLY,
  TARGET_HELD,
  NO_SOURCE,
  NO_BUFFER,
  READ_FAILS,
  READ_SHORT,
};

TEST_F(ApplyTest, AFailingRowStopsTheCopyWithItsErrorBox) {
  struct Case {
    int line;
    Failure failure;
    bool targetOpened;  // the failure comes at or after the open
  } cases[] = {
      {__LINE__, WRITE_FAILS, true},       {__LINE__, WRITE_SHORT, true},
      {__LINE__, TARGET_READ_ONLY, false}, {__LINE__, TARGET_HELD, false},
      {__LINE__, NO_SOURCE, false},        {__LINE__, NO_BUFFER, false},
      {__LINE__, READ_FAILS, false},       {__LINE__, READ_SHORT, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line);
    for (int failed = 0; failed < 3; ++failed) {
      SCOPED_TRACE(testing::Message() << "failing row " << failed);
      HostResetPlatform();
      for (int row = 0; row < 3; ++row) {
        chmod(Target(row).c_str(), 0644);
        WriteBytes(Target(row), OLD_BYTES[row]);
      }
      LooseSources();
      int held = 0;
      // With loose sources each row makes two allocations (the source's
      // record, then the data buffer), one read and one write.
      unsigned row = static_cast<unsigned>(failed);
      switch (c.failure) {
        case WRITE_FAILS: HostFailCall(HOST_CALL_WRITE, row + 1, ERROR_DISK_FULL); break;
        case WRITE_SHORT: HostShortCall(HOST_CALL_WRITE, row + 1, 2); break;
        case TARGET_READ_ONLY: chmod(Target(failed).c_str(), 0444); break;
        case TARGET_HELD: held = HostHoldFile(Target(failed).c_str(), GENERIC_READ | GENERIC_WRITE, 0); break;
        case NO_SOURCE: unlink(NAMES[failed]); break;
        case NO_BUFFER: HostFailCall(HOST_CALL_ALLOC, 2 * row + 2); break;
        case READ_FAILS: HostFailCall(HOST_CALL_READ, row + 1); break;
        case READ_SHORT: HostShortCall(HOST_CALL_READ, row + 1, 3); break;
      }
      ApplyRun run = ApplyInDialog("game");
      HostReleaseFile(held);
      EXPECT_EQ(run.result, 0);
      ExpectOneErrorBox(run.owner, NAMES[failed]);
      ExpectRowsAround(failed);
      std::string left = Contents(Target(failed));
      if (c.failure == WRITE_FAILS) {
        EXPECT_EQ(left, "");
      }
      if (c.failure == WRITE_SHORT) {
        EXPECT_EQ(left, NewBytes(failed).substr(0, 2));
      }
      if (!c.targetOpened) {
        EXPECT_EQ(left, OLD_BYTES[failed]);
      }
      for (int later = failed + 1; later < 3; ++later) {
        EXPECT_EQ(HostOpenAttempts(("game\\" + std::string(NAMES[later])).c_str()), 0u)
            << " a later row was tried";
      }
      EXPECT_EQ(HostOpenHandles(), 0u);
      EXPECT_EQ(HostLiveBlocks(), 0u);
    }
  }
}

// The running game holds InstData.pak open: whether the copy may replace
// it depends on how the game shares it.  The target is opened to write,
// sharing writing only, so a game that reads the file (sharing or not)
// keeps it, and only a game that merely writes it, sharing writing, lets
// it be replaced.
TEST_F(ApplyTest, HowTheGameSharesAnOpenTargetDecidesWhetherItIsReplaced) {
  struct Holder {
    const char* what;
    DWORD access, share;
    bool replaced;
  } holders[] = {
      {"reads, shares nothing", GENERIC_READ, 0, false},
      {"reads, shares reading", GENERIC_READ, FILE_SHARE_READ, false},
      {"reads, shares writing", GENERIC_READ, FILE_SHARE_WRITE, false},
      {"reads, shares both", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
      {"writes, shares writing", GENERIC_WRITE, FILE_SHARE_WRITE, true},
      {"writes, shares both", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
      {"reads and writes, shares both", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
  };
  LooseSources();
  for (const Holder& holder : holders) {
    SCOPED_TRACE(holder.what);
    HostResetPlatform();
    for (int row = 0; row < 3; ++row) WriteBytes(Target(row), OLD_BYTES[row]);
    int held = HostHoldFile("game\\InstData.pak", holder.access, holder.share);
    ASSERT_NE(held, 0);
    ApplyRun run = ApplyInDialog("game");
    HostReleaseFile(held);
    if (holder.replaced) {
      EXPECT_EQ(run.result, 1);
      ExpectRowsAround(3);
    } else {
      EXPECT_EQ(run.result, 0);
      ExpectOneErrorBox(run.owner, "InstData.pak");
      ExpectRowsAround(1);
      EXPECT_EQ(Contents(Target(1)), OLD_BYTES[1]) << "a refused open leaves the file whole";
    }
  }
}

// Targets as the game's installer may have left them: another letter
// case is replaced in place (no second file), a hidden or system file is
// refused like a read-only one.
TEST_F(ApplyTest, TargetsInAnotherCaseOrHiddenAreTreatedAsWindowsTreatsThem) {
  LooseSources();
  unlink(Target(1).c_str());
  WriteBytes("game/INSTDATA.PAK", OLD_BYTES[1]);
  ApplyRun run = ApplyInDialog("game");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(Contents("game/INSTDATA.PAK"), NewBytes(1));
  EXPECT_FALSE(Exists(Target(1))) << "a second file was made beside the first";

  const DWORD attributes[] = {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_READONLY};
  for (DWORD attribute : attributes) {
    SCOPED_TRACE(attribute);
    HostResetPlatform();
    for (int row = 0; row < 3; ++row) {
      unlink(("game/" + std::string(row == 1 ? "INSTDATA.PAK" : NAMES[row])).c_str());
      WriteBytes(Target(row), OLD_BYTES[row]);
    }
    ASSERT_TRUE(HostSetAttributes("game\\Archive.ini", attribute));
    run = ApplyInDialog("game");
    EXPECT_EQ(run.result, 0);
    ExpectOneErrorBox(run.owner, "Archive.ini");
    ExpectRowsAround(2);
    EXPECT_EQ(Contents(Target(2)), OLD_BYTES[2]);
    HostSetAttributes("game\\Archive.ini", 0);
  }
}

TEST_F(ApplyTest, AMissingInstallFolderFailsTheFirstRow) {
  LooseSources();
  ApplyRun run = ApplyInDialog("no such folder");
  EXPECT_EQ(run.result, 0);
  ExpectOneErrorBox(run.owner, "patch110.dat");
  EXPECT_FALSE(Exists("no such folder"));
}

TEST_F(ApplyTest, TargetPathsArePassedOnAsFormedAndNeverOverrunTheirBuffer) {
  LooseSources();
  ApplyRun run = ApplyInDialog("game\\");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(HostOpenAttempts("game\\\\patch110.dat"), 1u) << "a trailing backslash stays";
  ExpectRowsAround(3);

  // 246 bytes of folder, a backslash and a twelve-byte name fill all 260
  // bytes with the NUL; one byte more cannot be formed.
  std::string fits(246, 'f');
  MakeFolder(fits);
  HostResetPlatform();
  run = ApplyInDialog(fits);
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(Contents(fits + "/patch110.dat"), NewBytes(0));

  std::string tooLong(247, 'g');
  MakeFolder(tooLong);
  HostResetPlatform();
  run = ApplyInDialog(tooLong);
  EXPECT_EQ(run.result, 0);
  ExpectOneErrorBox(run.owner, "patch110.dat");
  EXPECT_EQ(HostCallCount(HOST_CALL_OPEN), 0u) << "nothing is opened for a path that does not fit";
  EXPECT_FALSE(Exists(tooLong + "/patch110.dat"));
}

TEST_F(ApplyTest, AnEmptySourceEmptiesItsTarget) {
  LooseSources();
  WriteBytes("InstData.pak", "");
  ApplyRun run = ApplyInDialog("game");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(Contents(Target(1)), "");
  EXPECT_EQ(Contents(Target(0)), NewBytes(0));
  EXPECT_EQ(Contents(Target(2)), NewBytes(2));
}

TEST_F(ApplyTest, TheCurrentDirectoryAsInstallFolderRewritesEachFileWithItsOwnBytes) {
  LooseSources();
  ApplyRun run = ApplyInDialog(dir_);
  EXPECT_EQ(run.result, 1);
  for (int row = 0; row < 3; ++row) EXPECT_EQ(Contents(NAMES[row]), NewBytes(row)) << row;
  EXPECT_TRUE(HostBoxes().empty());
}

TEST(ApplyTables, TheUpdateFileSetRowForRow) {
  for (int row = 0; row < 3; ++row) {
    EXPECT_STREQ(g_sourceNames[row], NAMES[row]);
    EXPECT_STREQ(g_targetNames[row], NAMES[row]);
  }
  EXPECT_EQ(g_sourceNames[3], nullptr);
  EXPECT_EQ(g_targetNames[3], nullptr);
  EXPECT_STREQ(g_archiveName, "UpdateData.dat");
}

}  // namespace
