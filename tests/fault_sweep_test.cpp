// The whole run with each fallible platform call failing in turn, and each
// read and write coming up short in turn: whatever fails, the run ends
// with 0, leaks nothing, records the new version only over a complete
// copy, and tells the user what went wrong.
#include <string.h>

#include "driver/driver.h"
#include "support.h"
#include "dialog/update_template_host.h"

namespace {

const auto& NAMES = UPDATE_NAMES;
const std::string APPLIED("\x4c\x04\x00\x00", 4);

std::string NewBytes(int row) { return std::string("new bytes of ") + NAMES[row] + std::string(100 * row, '#'); }
std::string OldBytes(int row) { return std::string("old ") + NAMES[row]; }

class FaultSweepTest : public HostTest {
 protected:
  // One run from a fresh start: the record holds 1100 as a REG_DWORD, so
  // the question comes too and a recorded update shows as REG_BINARY; the
  // first file is loose, the others archived.
  void Prepare() {
    HostResetPlatform();
    for (int row = 0; row < 3; ++row) WriteBytes(std::string("game/") + NAMES[row], OldBytes(row));
    WriteBytes(NAMES[0], NewBytes(0));
    WriteBytes("UpdateData.dat", PackFiles(0x32, {{NAMES[1], NewBytes(1)}, {NAMES[2], NewBytes(2)}}));
    HostRegSetValue(RECORD_KEY, "InstallFolder", REG_SZ, "game", 5);
    HostRegSetValue(RECORD_KEY, "Version", REG_DWORD, APPLIED.data(), 4);
    memset(g_installFolder, 0, sizeof g_installFolder);
    g_installedVersion = 0;
    DefineUpdateDialog();
    HostScriptDialog({{HOST_INPUT_ENTER, 0, 0, 0}});
  }
};

TEST_F(FaultSweepTest, EveryFallibleCallFailingOrComingShortInTurn) {
  MakeFolder("game");
  Prepare();
  ASSERT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
  ASSERT_EQ(BoxCodes(), "QC") << "the run to sweep must be a clean update";
  const unsigned calls = HostCallCount(HOST_CALL_ANY);
  std::vector<HostCall> kinds;
  for (unsigned k = 1; k <= calls; ++k) kinds.push_back(HostCallAt(k));

  struct Step {
    unsigned k;
    bool shortened;
  };
  std::vector<Step> steps;
  for (unsigned k = 1; k <= calls; ++k) {
    steps.push_back({k, false});
    if (kinds[k - 1] == HOST_CALL_READ || kinds[k - 1] == HOST_CALL_WRITE) steps.push_back({k, true});
  }
  ASSERT_GT(steps.size(), 30u) << "the sweep must reach the whole run";
  for (const Step& step : steps) {
    const HostCall kind = kinds[step.k - 1];
    std::string what = "call " + std::to_string(step.k) + " (" + HostCallName(kind) + ") " +
                       (step.shortened ? "short" : "failing");
    Prepare();
    if (step.shortened) {
      HostShortCall(HOST_CALL_ANY, step.k, 1);
    } else {
      HostFailCall(HOST_CALL_ANY, step.k);
    }
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0) << what;
    EXPECT_EQ(HostOpenHandles(), 0u) << what;
    EXPECT_EQ(HostLiveBlocks(), 0u) << what;

    int fresh = 0;
    int stale = 0;
    for (int row = 0; row < 3; ++row) {
      std::string bytes;
      ASSERT_TRUE(ReadBytes(std::string("game/") + NAMES[row], &bytes)) << what;
      if (bytes == NewBytes(row)) ++fresh;
      if (bytes == OldBytes(row)) ++stale;
    }
    // Only the row whose write failed can hold anything but old or new bytes.
    EXPECT_GE(fresh + stale, 2) << what;
    DWORD type = 0;
    std::string version;
    ASSERT_TRUE(HostRegGetValue(RECORD_KEY, "Version", &type, &version)) << what;
    const bool recorded = type == REG_BINARY && version == APPLIED;
    const std::string boxes = BoxCodes();
    SCOPED_TRACE(what + ", boxes " + boxes);

    if (fresh < 3) {
      // A copy that stopped: told twice, once by the applier and once by
      // the dialog, unless the failing call was one of those boxes itself.
      // Failures before the dialog end the run before anything is copied.
      if (!HostDialogRuns().empty() && HostDialogRuns()[0].shownTexts.size() == 11) {
        bool boxFailed = kind == HOST_CALL_BOX;
        EXPECT_TRUE(boxes == "QEF" || (boxFailed && (boxes == "QF" || boxes == "QE" || boxes == "EF")))
            << boxes;
      } else {
        EXPECT_EQ(fresh, 0);
        EXPECT_TRUE(boxes == "N" || boxes == "" || boxes == "Q") << boxes;
      }
    } else if (!recorded) {
      // All three written but no record: the record could not be opened
      // again (told), or its write was refused (not told).
      EXPECT_TRUE(boxes == "QCR" || (boxes == "QC" && kind == HOST_CALL_REG_SET) ||
                  (kind == HOST_CALL_BOX && boxes == "CR"))
          << boxes;
    } else {
      // An unreadable version is taken as 1000 without a question.
      EXPECT_TRUE(boxes == "QC" || (kind == HOST_CALL_BOX && (boxes == "C" || boxes == "Q")) ||
                  (kind == HOST_CALL_REG_QUERY && boxes == "C"))
          << boxes;
    }
    // The version is only ever recorded over a complete copy.
    if (recorded && fresh < 3) ADD_FAILURE() << "Version recorded over an incomplete copy";
  }
}

}  // namespace
