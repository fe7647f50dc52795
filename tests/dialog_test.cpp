// The update dialog's procedure, run by the host dialog model.
#include <string.h>

#include "delivery/apply.h"
#include "dialog/update_dialog.h"
#include "driver/driver.h"
#include "support.h"
#include "dialog/update_template_host.h"

namespace {

const auto& NAMES = UPDATE_NAMES;

TEST(VersionText, FourDigitsWithAPointAndAStarBeyond9999) {
  struct Case {
    int line;
    DWORD version;
    const char* text;
  } cases[] = {
      {__LINE__, 1000, "1.000"}, {__LINE__, 1100, "1.100"}, {__LINE__, 1234, "1.234"},
      {__LINE__, 999, "0.999"},  {__LINE__, 7, "0.007"},    {__LINE__, 0, "0.000"},
      {__LINE__, 9999, "9.999"}, {__LINE__, 10000, "*.000"}, {__LINE__, 12345, "*.345"},
      {__LINE__, 4294967295u, "*.295"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line);
    char text[VERSION_TEXT_SIZE + 2];
    memset(text, 'Z', sizeof text);
    FormatVersionText(c.version, text);
    EXPECT_STREQ(text, c.text);
    EXPECT_EQ(text[VERSION_TEXT_SIZE], 'Z') << "wrote past the text";
  }
}

class DialogTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    DefineUpdateDialog();
    MakeFolder("game");
    for (const char* name : NAMES) WriteBytes(name, std::string("new ") + name);
    strcpy(g_installFolder, "game");
    g_installedVersion = 1000;
  }

  static INT_PTR Run(const std::vector<HostInput>& inputs) {
    HostScriptDialog(inputs);
    return DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_UPDATE), nullptr, UpdateDialogProc, 0);
  }

  static const HostDialogRun& LastRun() { return HostDialogRuns().back(); }

  static void ExpectAllFalse() {
    for (INT_PTR result : LastRun().procResults) EXPECT_EQ(result, FALSE);
  }

  static bool Copied() { return Exists("game/patch110.dat"); }
};

HostInput Command(WPARAM wParam) { return HostInput{HOST_INPUT_MESSAGE, WM_COMMAND, wParam, 0}; }
HostInput Key(HostInputKind kind) { return HostInput{kind, 0, 0, 0}; }

TEST_F(DialogTest, InitialisationShowsTheVersionTextAndTheFolderInPlaceOfThePlaceholders) {
  struct Case {
    int line;
    DWORD version;
    const char* folder;
    const char* text;
  } cases[] = {
      {__LINE__, 1000, "C:\\Program Files\\Game", "1.000"},
      {__LINE__, 1100, "D:\\\x83\x5C\x95\x5C\\", "1.100"},  // trail bytes 0x5C, a trailing backslash
      {__LINE__, 0, "%USERPROFILE%\\game", "0.000"},
      {__LINE__, 10000, "x", "*.000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line);
    HostResetPlatform();
    DefineUpdateDialog();
    g_installedVersion = c.version;
    strcpy(g_installFolder, c.folder);
    EXPECT_EQ(Run({Command(IDCANCEL)}), 0);
    const HostDialogRun& run = LastRun();
    ASSERT_EQ(run.shownTexts.size(), 11u);
    EXPECT_EQ(run.shownTexts[VERSION_CONTROL], c.text);
    EXPECT_EQ(run.shownTexts[FOLDER_CONTROL], c.folder);
    EXPECT_EQ(run.param, 0);
    ExpectAllFalse();
  }
}

TEST_F(DialogTest, CommandsCountOnlyAsWholeValues) {
  const WPARAM notified = static_cast<WPARAM>(1) << 16;
  struct Case {
    int line;
    std::vector<HostInput> inputs;
    INT_PTR result;  // -1: the dialog never ended
    bool copied;
    size_t boxes;
  } cases[] = {
      {__LINE__, {Command(IDCANCEL)}, 0, false, 0},
      {__LINE__, {Key(HOST_INPUT_ESCAPE)}, 0, false, 0},
      {__LINE__, {Key(HOST_INPUT_CLOSE)}, 0, false, 0},
      {__LINE__, {Key(HOST_INPUT_ENTER)}, 1, true, 1},
      {__LINE__, {Command(IDOK)}, 1, true, 1},
      {__LINE__, {Command(IDOK | notified), Command(IDCANCEL | notified)}, -1, false, 0},
      {__LINE__, {Command(IDOK | notified), Command(IDCANCEL)}, 0, false, 0},
      {__LINE__, {Command(3), Command(0), Command(1000)}, -1, false, 0},
      {__LINE__, {HostInput{HOST_INPUT_MESSAGE, 0x0200, IDOK, 0},
                  HostInput{HOST_INPUT_MESSAGE, WM_COMMAND | 0x10000u, IDOK, 0}}, -1, false, 0},  // WM_COMMAND only in the low half
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line);
    HostResetPlatform();
    DefineUpdateDialog();
    unlink("game/patch110.dat");
    EXPECT_EQ(Run(c.inputs), c.result);
    EXPECT_EQ(Copied(), c.copied);
    EXPECT_EQ(HostBoxes().size(), c.boxes);
    EXPECT_EQ(LastRun().endDialogCalls, c.result == -1 ? 0u : 1u);
    ExpectAllFalse();
  }
}

// The outcome box comes while the dialog is still up: it has not ended yet.
void ExpectDialogNotEnded(const HostBox&, void*) {
  ASSERT_FALSE(HostDialogRuns().empty());
  EXPECT_EQ(HostDialogRuns().back().endDialogCalls, 0u);
}

TEST_F(DialogTest, AnAppliedUpdateShowsOnlyTheCompletionMessageThenEndsWithOne) {
  HostSetBoxHook(ExpectDialogNotEnded, nullptr);
  EXPECT_EQ(Run({Key(HOST_INPUT_ENTER)}), 1);
  EXPECT_EQ(BoxCodes(), "C");
  for (const char* name : NAMES) {
    std::string bytes;
    ASSERT_TRUE(ReadBytes(std::string("game/") + name, &bytes));
    EXPECT_EQ(bytes, std::string("new ") + name);
  }
  ExpectAllFalse();
}

TEST_F(DialogTest, AFailedCopyShowsTheErrorBoxThenTheFailureMessageThenEndsWithZero) {
  unlink("InstData.pak");
  HostSetBoxHook(ExpectDialogNotEnded, nullptr);
  EXPECT_EQ(Run({Command(IDOK)}), 0);
  EXPECT_EQ(BoxCodes(), "EF");
  EXPECT_EQ(HostBoxes()[0].text, WriteErrorText("InstData.pak"));
  EXPECT_TRUE(Copied()) << "the row before the failure stays written";
  ExpectAllFalse();
}

}  // namespace
