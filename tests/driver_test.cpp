// WinMain over the host models: the installation record as the game's
// installer may leave it, what the user sees, and what is recorded.
#include <string.h>

#include "delivery/apply.h"
#include "delivery/patch_source.h"
#include "dialog/update_dialog.h"
#include "driver/driver.h"
#include "support.h"
#include "tools/common/bytes.h"
#include "dialog/update_template_host.h"

namespace {

const std::string APPLIED("\x4c\x04\x00\x00", 4);

std::string Bytes(const char* text) { return std::string(text, strlen(text) + 1); }
std::string Le32(uint32_t v) { return Little32Bytes(v); }

class DriverTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    MakeFolder("game");
    for (const char* name : UPDATE_NAMES) WriteBytes(name, std::string("new ") + name);
  }

  // Starts the program as a new process would: globals zero, the dialog
  // template present, the user's input scripted.
  static int Start(const std::vector<HostInput>& inputs = {{HOST_INPUT_ENTER, 0, 0, 0}}) {
    memset(g_installFolder, 0, sizeof g_installFolder);
    g_installedVersion = 0;
    DefineUpdateDialog();
    HostScriptDialog(inputs);
    int code = WinMain(nullptr, nullptr, const_cast<LPSTR>("ignored args"), 1);
    EXPECT_FALSE(HostMutexExists(g_mutexName)) << "the mutex outlived the run";
    return code;
  }

  // A fresh start with the game installed in "game" and no Version.
  static void FreshInstall() {
    HostResetPlatform();
    HostRegSetValue(RECORD_KEY, "InstallFolder", REG_SZ, "game", 5);
  }

  static bool VersionValue(DWORD* type, std::string* bytes) {
    return HostRegGetValue(RECORD_KEY, "Version", type, bytes);
  }
};

struct RecordCase {
  int line;
  bool key;
  const char* folderNote;  // what the InstallFolder value is
  bool hasFolder;
  std::string folder;      // raw bytes of the value
  bool hasVersion;
  DWORD versionType;
  std::string version;     // raw bytes of the value
  int answer;              // to the already-updated question
  const char* boxes;       // as BoxCodes() spells them
  const char* versionText; // shown in the dialog; null: no dialog
  bool recorded;           // Version is REG_BINARY 4C 04 00 00 afterwards
};

TEST_F(DriverTest, TheInstallationRecordDecidesWhatTheUserSeesAndWhatIsRecorded) {
  const std::string game = Bytes("game");
  const RecordCase cases[] = {
      {__LINE__, false, "no key", false, "", false, 0, "", IDOK, "N", nullptr, false},
      {__LINE__, true, "missing", false, "", false, 0, "", IDOK, "N", nullptr, false},
      {__LINE__, true, "empty", true, Bytes(""), false, 0, "", IDOK, "N", nullptr, false},
      {__LINE__, true, "261 bytes", true, std::string(260, 'x') + '\0', false, 0, "", IDOK, "N", nullptr, false},
      {__LINE__, true, "260 bytes, no NUL", true, std::string(260, 'x'), false, 0, "", IDOK, "N", nullptr, false},
      {__LINE__, true, "game", true, game, false, 0, "", IDOK, "C", "1.000", true},
      {__LINE__, true, "no NUL stored", true, "game", false, 0, "", IDOK, "C", "1.000", true},
      {__LINE__, true, "game", true, game, true, REG_BINARY, Le32(1099), IDOK, "C", "1.099", true},
      {__LINE__, true, "game", true, game, true, REG_BINARY, "", IDOK, "C", "0.000", true},
      {__LINE__, true, "game", true, game, true, REG_BINARY, "\x4c\x04", IDOK, "QC", "1.100", true},
      {__LINE__, true, "game", true, game, true, REG_BINARY, "\x4c\x04", IDCANCEL, "Q", nullptr, false},
      {__LINE__, true, "game", true, game, true, REG_BINARY, Le32(1100), IDCANCEL, "Q", nullptr, false},
      {__LINE__, true, "game", true, game, true, REG_BINARY, Le32(1100), IDOK, "QC", "1.100", true},
      {__LINE__, true, "game", true, game, true, REG_DWORD, Le32(1100), IDOK, "QC", "1.100", true},
      {__LINE__, true, "game", true, game, true, REG_BINARY, Le32(4294967295u), IDOK, "QC", "*.295", true},
      {__LINE__, true, "game", true, game, true, REG_BINARY, Le32(1100) + Le32(0), IDOK, "C", "1.000", true},
      {__LINE__, true, "game", true, game, true, REG_SZ, "12", IDOK, "QC", "*.849", true},  // 0x3231
  };
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line);
    HostResetPlatform();
    for (const char* name : UPDATE_NAMES) unlink((std::string("game/") + name).c_str());
    if (c.key) HostRegCreateKey(RECORD_KEY);
    if (c.hasFolder) HostRegSetValue(RECORD_KEY, "InstallFolder", REG_SZ, c.folder.data(), static_cast<DWORD>(c.folder.size()));
    if (c.hasVersion) HostRegSetValue(RECORD_KEY, "Version", c.versionType, c.version.data(), static_cast<DWORD>(c.version.size()));
    HostQueueBoxAnswer(c.answer);

    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(BoxCodes(), c.boxes) << c.folderNote;
    const std::vector<HostDialogRun>& runs = HostDialogRuns();
    EXPECT_EQ(runs.size(), c.versionText ? 1u : 0u);
    if (c.versionText && runs.size() == 1) {
      EXPECT_EQ(runs[0].shownTexts[VERSION_CONTROL], c.versionText);
      EXPECT_EQ(runs[0].shownTexts[FOLDER_CONTROL], "game");
      EXPECT_EQ(runs[0].templateId, IDD_UPDATE);
      EXPECT_EQ(runs[0].owner, nullptr);
      EXPECT_EQ(runs[0].param, 0);
    }
    DWORD type = 0;
    std::string bytes;
    bool has = VersionValue(&type, &bytes);
    if (c.recorded) {
      EXPECT_TRUE(has && type == REG_BINARY && bytes == APPLIED);
    } else {
      EXPECT_EQ(has, c.hasVersion);
      if (has) {
        EXPECT_TRUE(type == c.versionType && bytes == c.version);
      }
    }
    EXPECT_EQ(HostRegKeyExists(RECORD_KEY), c.key) << "the key is never made";
    EXPECT_EQ(HostOpenHandles(), 0u);
    EXPECT_EQ(HostLiveBlocks(), 0u);
  }
}

TEST_F(DriverTest, TheLongestFolderIsTakenWhole) {
  // 259 bytes, in two folders: no single name may be that long here.
  std::string outer(200, 'p');
  std::string folder = outer + "\\" + std::string(58, 'q');
  MakeFolder(outer);
  MakeFolder(outer + "/" + std::string(58, 'q'));
  ASSERT_EQ(folder.size(), 259u);
  HostRegSetValue(RECORD_KEY, "InstallFolder", REG_SZ, folder.c_str(), 260);
  EXPECT_EQ(Start({{HOST_INPUT_ESCAPE, 0, 0, 0}}), 0);
  ASSERT_EQ(HostDialogRuns().size(), 1u);
  EXPECT_EQ(HostDialogRuns()[0].shownTexts[FOLDER_CONTROL], folder);
  EXPECT_EQ(BoxCodes(), "");
}

TEST_F(DriverTest, AKeyThatRefusesWritingCountsAsNotInstalled) {
  HostRegSetValue(RECORD_KEY, "InstallFolder", REG_SZ, "game", 5);
  HostRegDenyWrite(RECORD_KEY);
  EXPECT_EQ(Start(), 0);
  EXPECT_EQ(BoxCodes(), "N");
  EXPECT_TRUE(HostDialogRuns().empty());
}

TEST_F(DriverTest, QuitOrAFailedUpdateRecordsNothing) {
  struct Case {
    int line;
    std::vector<HostInput> inputs;
    bool removeSource;
    const char* boxes;
  } cases[] = {
      {__LINE__, {{HOST_INPUT_ESCAPE, 0, 0, 0}}, false, ""},
      {__LINE__, {{HOST_INPUT_CLOSE, 0, 0, 0}}, false, ""},
      {__LINE__, {{HOST_INPUT_MESSAGE, WM_COMMAND, IDCANCEL, 0}}, false, ""},
      {__LINE__, {{HOST_INPUT_ENTER, 0, 0, 0}}, true, "EF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line);
    FreshInstall();
    HostRegSetValue(RECORD_KEY, "Version", REG_BINARY, "\xe8\x03\x00\x00", 4);
    if (c.removeSource) unlink("Archive.ini");
    EXPECT_EQ(Start(c.inputs), 0);
    EXPECT_EQ(BoxCodes(), c.boxes);
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(VersionValue(&type, &bytes));
    EXPECT_EQ(bytes, std::string("\xe8\x03\x00\x00", 4));
    if (c.removeSource) WriteBytes("Archive.ini", "new Archive.ini");
  }
}

struct Observed {
  unsigned handles;
  bool mutexHeld;
};

void ObserveDuringDialog(size_t, void* context) {
  Observed* seen = static_cast<Observed*>(context);
  seen->handles = HostOpenHandles();
  seen->mutexHeld = HostMutexExists(g_mutexName);
}

TEST_F(DriverTest, TheMutexIsHeldThroughTheRunAndTheKeyIsClosedWhileTheDialogRuns) {
  HostRegSetValue(RECORD_KEY, "InstallFolder", REG_SZ, "game", 5);
  Observed seen = {99, false};
  HostSetDialogHook(ObserveDuringDialog, &seen);
  EXPECT_EQ(Start(), 0);
  EXPECT_TRUE(seen.mutexHeld);
  EXPECT_EQ(seen.handles, 1u) << "only the mutex is open while the dialog is up";
}

TEST_F(DriverTest, ASecondCopyEndsAtOnceAndSilently) {
  struct Case {
    int line;
    bool denied;  // the first copy runs with more rights
  } cases[] = {{__LINE__, false}, {__LINE__, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line);
    FreshInstall();
    if (c.denied) {
      HostMutexDenied(g_mutexName);
    } else {
      HostMutexHeldElsewhere(g_mutexName);
    }
    memset(g_installFolder, 0, sizeof g_installFolder);
    DefineUpdateDialog();
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
    EXPECT_TRUE(HostBoxes().empty());
    EXPECT_TRUE(HostDialogRuns().empty());
    EXPECT_EQ(HostCallCount(HOST_CALL_REG_OPEN), 0u) << "nothing is read";
    EXPECT_EQ(HostOpenHandles(), 0u);
  }
  // A mutex refused for any other reason: the run goes on without a guard.
  FreshInstall();
  HostFailCall(HOST_CALL_MUTEX, 1, ERROR_INVALID_HANDLE);
  EXPECT_EQ(Start(), 0);
  EXPECT_EQ(BoxCodes(), "C");
}

void DeleteTheKey(size_t, void*) { HostRegDeleteKey(RECORD_KEY); }

// What fails around the dialog, and what the user is told of it.
TEST_F(DriverTest, ARecordGoneOrRefusingAfterTheUpdateIsReportedOrIgnoredAsItShould) {
  struct Case {
    int line;
    const char* what;
    HostCall failing;  // HOST_CALL_ANY: no fault
    bool versionThere;  // Version 1100 already, so the question comes first
    bool deleteKey;     // the key is deleted while the dialog is up
    const char* boxes;
    bool recorded;
    bool keyAfter;
  } cases[] = {
      {__LINE__, "the key deleted under the dialog: the registry error, no new key", HOST_CALL_ANY, false,
       true, "CR", false, false},
      {__LINE__, "the write refused: nothing is said", HOST_CALL_REG_SET, false, false, "C", false, true},
      {__LINE__, "the dialog cannot be shown: nothing written, nothing said", HOST_CALL_DIALOG, false,
       false, "", false, true},
      {__LINE__, "the question cannot be shown: no Cancel, so on it goes", HOST_CALL_BOX, true, false, "C",
       true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line << ": " << c.what);
    FreshInstall();
    if (c.versionThere) HostRegSetValue(RECORD_KEY, "Version", REG_BINARY, Le32(1100).data(), 4);
    if (c.failing != HOST_CALL_ANY) HostFailCall(c.failing, 1);
    if (c.deleteKey) HostSetDialogHook(DeleteTheKey, nullptr);
    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(BoxCodes(), c.boxes);
    DWORD type = 0;
    std::string bytes;
    EXPECT_EQ(VersionValue(&type, &bytes) && type == REG_BINARY && bytes == APPLIED, c.recorded);
    EXPECT_EQ(HostRegKeyExists(RECORD_KEY), c.keyAfter);
  }
}

// Every argument the program passes to the platform in a whole update
// (Version 1.100 already there, so the question comes first; one loose
// source and two archived), exactly.
TEST_F(DriverTest, EachCallGetsExactlyTheArgumentsTheProgramMeans) {
  unlink("InstData.pak");
  unlink("Archive.ini");
  WriteBytes("UpdateData.dat", PackFiles(0x32, {{"InstData.pak", "new pak"}, {"Archive.ini", "new ini"}}));
  HostResetPlatform();
  HostRegSetValue(RECORD_KEY, "InstallFolder", REG_SZ, "game", 5);
  HostRegSetValue(RECORD_KEY, "Version", REG_BINARY, Le32(1100).data(), 4);
  memset(g_installFolder, 0, sizeof g_installFolder);
  g_installedVersion = 0;
  DefineUpdateDialog();
  HostScriptDialog({{HOST_INPUT_ENTER, 0, 0, 0}});
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
  ASSERT_EQ(WinMain(instance, nullptr, const_cast<LPSTR>(""), 1), 0);

  const std::string READ = "GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, "
                           "FILE_ATTRIBUTE_NORMAL|FILE_FLAG_SEQUENTIAL_SCAN, NULL)";
  const std::string WRITE = "GENERIC_WRITE, FILE_SHARE_WRITE, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL)";
  const std::string OPEN_KEY =
      "RegOpenKeyExA(HKEY_CURRENT_USER, \"Software\\Lanternfly\\luminario\", 0, KEY_ALL_ACCESS, &key)";
  // Each source's record, then for an archived one its 16-byte header
  // and its index of two entries, then the data buffer.
  const std::string RECORD = "GlobalAlloc(GPTR, " + std::to_string(sizeof(PatchSource)) + ")";
  const std::string INDEX =
      "GlobalAlloc(GPTR, " + std::to_string(2 * (ArchiveNameWidth(0x32) + ARCHIVE_PAIR_SIZE)) + ")";
  const std::vector<std::string> expected = {
      "CreateMutexA(NULL, TRUE, \"RZUPDATE Ver0.10\")",
      OPEN_KEY,
      "RegQueryValueExA(key, \"InstallFolder\", NULL, NULL, data, 260)",
      "RegQueryValueExA(key, \"Version\", NULL, NULL, data, 4)",
      RECORD,
      "CreateFileA(\"patch110.dat\", " + READ,
      "GlobalAlloc(GPTR, 16)",
      "CreateFileA(\"game\\patch110.dat\", " + WRITE,
      RECORD,
      "CreateFileA(\"InstData.pak\", " + READ,
      "CreateFileA(\"UpdateData.dat\", " + READ,
      "GlobalAlloc(GPTR, 16)",
      INDEX,
      "GlobalAlloc(GPTR, 7)",
      "CreateFileA(\"game\\InstData.pak\", " + WRITE,
      RECORD,
      "CreateFileA(\"Archive.ini\", " + READ,
      "CreateFileA(\"UpdateData.dat\", " + READ,
      "GlobalAlloc(GPTR, 16)",
      INDEX,
      "GlobalAlloc(GPTR, 7)",
      "CreateFileA(\"game\\Archive.ini\", " + WRITE,
      OPEN_KEY,
      "RegSetValueExA(key, \"Version\", 0, REG_BINARY, {4C 04 00 00}, 4)",
  };
  EXPECT_EQ(HostCallLog(), expected);

  // The dialog: this module's template 101, no owner, the dialog
  // procedure, nothing through its parameter.
  ASSERT_EQ(HostDialogRuns().size(), 1u);
  const HostDialogRun& run = HostDialogRuns()[0];
  EXPECT_EQ(run.instance, instance);
  EXPECT_EQ(run.templateId, IDD_UPDATE);
  EXPECT_EQ(run.owner, nullptr);
  EXPECT_EQ(run.proc, &UpdateDialogProc);
  EXPECT_EQ(run.param, 0);
  // The boxes: the question unowned with OK and Cancel, the completion
  // owned by the dialog (BoxCodes checks caption, style and owner).
  EXPECT_EQ(BoxCodes(), "QC");
}

}  // namespace

namespace {

TEST_F(DriverTest, DllsLoadFromTheSystemFolderOnlyFromTheFirstStepOnWhereTheSystemAllows) {
  struct Case {
    int line;
    bool offered;
    unsigned calls;
  } cases[] = {{__LINE__, true, 1}, {__LINE__, false, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line);
    HostResetPlatform();
    HostOfferDllDirectories(c.offered);
    HostRegSetValue(RECORD_KEY, "InstallFolder", REG_SZ, "game", 5);
    EXPECT_EQ(Start(), 0);
    HostDllSearch search = HostDllSearchState();
    EXPECT_EQ(search.calls, c.calls);
    if (c.calls) {
      EXPECT_EQ(search.flags, static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32));
      EXPECT_EQ(search.callsBefore, 0u) << "before the mutex and everything else";
    }
    EXPECT_EQ(BoxCodes(), "C") << "the run goes on either way";
  }
}

}  // namespace
