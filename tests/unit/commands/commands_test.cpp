// The commands with a scripted platform: refusals, the run's timer hand-off, Save As and
// Manual. The analysis itself is the real one, run inline by the fake platform.
#include "app/commands/commands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/fake_platform.h"
#include "tests/support/report_compare.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) { return testing::ReadFile(path.string()); }

class CommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("commands_" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    ViewStartUp(session_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  // Opens a copy of a test workbook placed in the temporary folder.
  void Open(const std::string& name) {
    fs::copy_file(fs::path(QUORVEL_TEST_DATA) / "xls" / "fixtures" / name, folder_ / name,
                  fs::copy_options::overwrite_existing);
    platform_.ChooseNextOpen((folder_ / name).string());
    OpenCommand(session_);
    ASSERT_EQ(session_.state.displayMode.load(), DisplayMode::Echo) << name;
  }
  void Tick(int times) {
    for (int k = 0; k < times; ++k) OnAnalysisTick(session_);
  }

  fs::path folder_;
  FakePlatform platform_;
  Session session_{platform_};
};

TEST_F(CommandsTest, ModelCommandsRefuseDataOfAnotherKindOrNone) {
  RunAnalysis(session_, ModelKind::Nested);  // before any Open
  Open("codes_fractional.xlwt.xls");
  RunAnalysis(session_, ModelKind::BlockedRepeat);
  RunAnalysis(session_, ModelKind::Blocked);
  EXPECT_EQ(platform_.CountCalls("ShowMessage(None): The data is not appropriate to this model."),
            3);
  EXPECT_EQ(platform_.CountCalls("StartTimer"), 0);
  EXPECT_EQ(platform_.CountCalls("StartWorker"), 0);
  EXPECT_EQ(session_.state.displayMode.load(), DisplayMode::Echo);
  EXPECT_FALSE(session_.runInProgress);
}

TEST_F(CommandsTest, RunFinishingBeforeTheFirstTickHandsOverAtTickFive) {
  Open("codes_fractional.xlwt.xls");
  platform_.calls.clear();
  RunAnalysis(session_, ModelKind::Nested);
  EXPECT_EQ(platform_.calls,
            (std::vector<std::string>{"RunStateChanged(true)", "StartTimer(1, 200)", "StartWorker",
                                      "InvalidateView"}));
  AppState& state = session_.state;
  EXPECT_EQ(state.displayMode.load(), DisplayMode::Report);
  EXPECT_EQ(state.finishTick.load(), 0);
  EXPECT_EQ(state.reportPath, folder_.string() + "/result.txt");

  const int lines = state.reportLineCount;
  const int widest = state.reportWidth;
  EXPECT_GT(lines, 20);

  platform_.calls.clear();
  Tick(4);
  EXPECT_EQ(platform_.calls, std::vector<std::string>(4, "InvalidateView"));
  Tick(1);
  EXPECT_EQ(platform_.calls.back(), "RunStateChanged(false)");
  EXPECT_EQ(platform_.scrollWidth, std::max(10 * widest + 140, 1100));
  EXPECT_EQ(platform_.scrollHeight, 20 * lines + 50);
  EXPECT_TRUE(platform_.runningTimers.empty());
  EXPECT_EQ(state.finishTick.load(), 10'000'000);
  EXPECT_EQ(state.tickCount.load(), 0);
  EXPECT_FALSE(session_.runInProgress);
}

TEST_F(CommandsTest, ScrollSizeAtHandOffFollowsTheLineMetrics) {
  // The test plays the worker's last stores, so that the metrics are chosen freely.
  const struct {
    int lines, width, expectedWidth, expectedHeight;
  } cases[] = {{50, 95, 1100, 1050}, {50, 120, 1340, 1050}, {0, 0, 1100, 50}};
  Open("codes_fractional.xlwt.xls");
  platform_.deferWorkers = true;
  for (const auto& c : cases) {
    RunAnalysis(session_, ModelKind::Nested);
    platform_.pendingWorkers.clear();
    Tick(3);
    AppState& state = session_.state;
    state.reportLineCount = c.lines;
    state.reportWidth = c.width;
    state.displayMode = DisplayMode::Report;
    state.finishTick.store(state.tickCount, std::memory_order_release);
    Tick(4);
    EXPECT_TRUE(session_.runInProgress);
    Tick(1);
    EXPECT_FALSE(session_.runInProgress);
    EXPECT_EQ(platform_.scrollWidth, c.expectedWidth);
    EXPECT_EQ(platform_.scrollHeight, c.expectedHeight);
  }
}

TEST_F(CommandsTest, CommandsWaitForTheRunAndTheRunKeepsItsData) {
  Open("codes_fractional.xlwt.xls");
  platform_.deferWorkers = true;
  RunAnalysis(session_, ModelKind::Nested);
  EXPECT_EQ(session_.state.displayMode.load(), DisplayMode::Waiting);
  platform_.calls.clear();
  platform_.ChooseNextOpen((folder_ / "codes_fractional.xlwt.xls").string());
  OpenCommand(session_);
  RunAnalysis(session_, ModelKind::Nested);
  SaveReportAs(session_);
  Tick(10);  // the run has not finished: only repaints
  EXPECT_EQ(platform_.calls, std::vector<std::string>(10, "InvalidateView"));

  // A data set replaced under the run does not reach it.
  auto blocked = std::make_shared<DesignData>(*session_.designData);
  blocked->kind = ModelKind::Blocked;
  session_.designData = blocked;
  platform_.RunPendingWorkers();
  EXPECT_NE(ReadBytes(folder_ / "result.txt").find("yijk = u + Mi + Fij + eijk"),
            std::string::npos);
  Tick(5);
  EXPECT_FALSE(session_.runInProgress);
  EXPECT_EQ(platform_.CountCalls("RunStateChanged(false)"), 1);
}

TEST_F(CommandsTest, ReportThatCannotBeCreatedRestoresTheView) {
  Open("codes_fractional.xlwt.xls");
  const int echoWidth = platform_.scrollWidth;
  fs::create_directories(folder_ / "result.txt");  // stops the report's creation for anyone
  RunAnalysis(session_, ModelKind::Nested);
  platform_.calls.clear();
  Tick(1);
  EXPECT_EQ(platform_.calls,
            (std::vector<std::string>{"StopTimer(1)", "RunStateChanged(false)", "InvalidateView",
                                      "ShowMessage(None): Result file cannot be created!"}));
  EXPECT_EQ(session_.state.displayMode.load(), DisplayMode::Echo);
  EXPECT_EQ(platform_.scrollWidth, echoWidth);
  EXPECT_FALSE(session_.runInProgress);
  SaveReportAs(session_);
  EXPECT_EQ(platform_.messages.back(), "Please perform computing!");
}

// A run stopped half-way (Esc, Cancel, Ctrl+C) keeps the previous report whole and
// hands back the view of before the run at the first tick, without a message; the next
// run is not stopped by the old request.
TEST_F(CommandsTest, CancelledRunKeepsThePreviousReportAndRestoresTheView) {
  Open("codes_fractional.xlwt.xls");
  std::ofstream(folder_ / "result.txt", std::ios::binary) << "the previous report";
  CancelRun(session_);  // no run: nothing to stop
  session_.runProgress = [this](std::string_view stage) {
    if (stage == "fixed model") CancelRun(session_);
  };
  RunAnalysis(session_, ModelKind::Nested);
  EXPECT_EQ(session_.state.runStatus, RunStatus::Cancelled);
  EXPECT_EQ(session_.lastRun.result, nullptr);
  platform_.calls.clear();
  Tick(1);
  EXPECT_FALSE(session_.runInProgress);
  EXPECT_EQ(session_.state.displayMode.load(), DisplayMode::Echo);
  EXPECT_EQ(platform_.CountCalls("ShowMessage"), 0);
  EXPECT_EQ(ReadBytes(folder_ / "result.txt"), "the previous report");
  for (const auto& entry : fs::directory_iterator(folder_)) {
    EXPECT_EQ(entry.path().filename().string().rfind(".result.txt", 0), std::string::npos)
        << "left behind";
  }

  session_.runProgress = nullptr;
  RunAnalysis(session_, ModelKind::Nested);
  EXPECT_EQ(session_.state.runStatus, RunStatus::Done);
  ASSERT_NE(session_.lastRun.result, nullptr);
  EXPECT_EQ(ReadBytes(folder_ / "result.txt"), *session_.lastRun.report);
}

TEST_F(CommandsTest, SaveAsCopiesTheReportAndMovesOnlyTheDialogFolder) {
  SaveReportAs(session_);  // before any run
  Open("codes_fractional.xlwt.xls");
  RunAnalysis(session_, ModelKind::Nested);
  Tick(5);
  const std::string report = ReadBytes(folder_ / "result.txt");

  // Cancelled: nothing happens.
  SaveReportAs(session_);
  const FileDialogSpec& spec = platform_.saveSpecs.at(0);
  EXPECT_EQ(spec.filter, "Text files(*.txt)|*.txt|All files(*.*)|*.*||");
  EXPECT_EQ(spec.defaultExtension, "txt");
  EXPECT_EQ(spec.initialFileName, "*.txt");
  EXPECT_EQ(spec.startFolder, "/opt/quorvel/bin");
  EXPECT_TRUE(spec.promptOverwrite);

  // Into another folder: the next dialog starts there, the view still reads dataFolder.
  fs::create_directories(folder_ / "saved");
  platform_.ChooseNextSave((folder_ / "saved" / "copy.txt").string());
  SaveReportAs(session_);
  EXPECT_EQ(ReadBytes(folder_ / "saved" / "copy.txt"), report);
  EXPECT_EQ(session_.state.dialogFolder, (folder_ / "saved").string() + "/");
  EXPECT_EQ(session_.state.dataFolder, folder_.string() + "/");
  SaveReportAs(session_);
  EXPECT_EQ(platform_.saveSpecs.back().startFolder, (folder_ / "saved").string() + "/");

  // Onto the report itself: the report stays whole.
  platform_.ChooseNextSave((folder_ / "result.txt").string());
  SaveReportAs(session_);
  EXPECT_EQ(ReadBytes(folder_ / "result.txt"), report);

  // A target that cannot be created is named; the dialog folder still moves.
  const fs::path blocked = folder_ / "result.txt" / "copy.txt";
  platform_.ChooseNextSave(blocked.string());
  SaveReportAs(session_);
  EXPECT_EQ(platform_.calls.back(),
            "ShowMessage(None): " + blocked.string() + " cannot be created!");
  EXPECT_EQ(session_.state.dialogFolder, (folder_ / "result.txt").string() + "/");

  // After a new Open the report is no longer shown, so there is nothing to save.
  Open("codes_fractional.xlwt.xls");
  SaveReportAs(session_);
  EXPECT_EQ(platform_.CountCalls("ShowMessage(None): Please perform computing!"), 2);
}

TEST_F(CommandsTest, ManualIsOpenedBesideTheProgramOrFromTheInstalledDataFolder) {
  platform_.executablePath = (folder_ / "bin" / "quorvel").string();
  ViewStartUp(session_);
  EXPECT_EQ(session_.state.programFolder, (folder_ / "bin").string());
  EXPECT_EQ(session_.state.dialogFolder, session_.state.programFolder);
  EXPECT_EQ(platform_.calls, (std::vector<std::string>(2, "SetScrollSize(100, 100)")));
  const fs::path beside = folder_ / "bin" / "Manual.pdf";
  const fs::path installed = folder_ / "share" / "quorvel" / "Manual.pdf";

  OpenManual(session_);  // neither exists: the program's folder is asked anyway
  EXPECT_EQ(platform_.calls.back(), "ShellOpen(" + beside.string() + ")");
  fs::create_directories(installed.parent_path());
  std::ofstream(installed) << "%PDF";
  OpenManual(session_);
  EXPECT_EQ(platform_.calls.back(), "ShellOpen(" + installed.string() + ")");
  fs::create_directories(beside.parent_path());
  std::ofstream(beside) << "%PDF";
  OpenManual(session_);
  EXPECT_EQ(platform_.calls.back(), "ShellOpen(" + beside.string() + ")");
}

}  // namespace
}  // namespace quorvel
