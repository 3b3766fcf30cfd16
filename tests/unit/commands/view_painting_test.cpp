// What the view draws in each display mode.
#include "app/commands/view_painting.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace quorvel {
namespace {

class ViewPainting : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() / ("view_painting_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    state_.dataFolder = folder_.string() + "/";
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  void WriteFile(const char* name, const std::string& bytes) {
    std::ofstream(folder_ / name, std::ios::binary) << bytes;
  }
  std::vector<TextItem> Paint(ViewSize area = {800, 600}) { return PaintView(state_, area, dotPhase_); }

  std::filesystem::path folder_;
  AppState state_;
  int dotPhase_ = kDotPhaseStart;
};

TEST_F(ViewPainting, BlankDrawsNothingWhateverFilesExist) {
  WriteFile("tmp.txt", "a\r\n");
  WriteFile("result.txt", "b\r\n");
  EXPECT_TRUE(Paint().empty());
  EXPECT_EQ(dotPhase_, kDotPhaseStart);
}

TEST_F(ViewPainting, EchoAndReportLinesAreDrawnFromTheirFilesEachRepaint) {
  WriteFile("tmp.txt", "\r\n   The data\r\n\tkept as is \r\nlast line without end");
  WriteFile("result.txt", "report line\r\n");
  state_.displayMode = DisplayMode::Echo;
  const std::vector<TextItem> expected{{40, 20, "", kTextBlack},
                                       {40, 40, "   The data", kTextBlack},
                                       {40, 60, "\tkept as is ", kTextBlack},
                                       {40, 80, "last line without end", kTextBlack}};
  EXPECT_EQ(Paint(), expected);

  state_.displayMode = DisplayMode::Report;
  EXPECT_EQ(Paint(), (std::vector<TextItem>{{40, 20, "report line", kTextBlack}}));
  // The file is read anew: a deleted report empties the view at the next repaint.
  std::filesystem::remove(folder_ / "result.txt");
  EXPECT_TRUE(Paint().empty());
  // The files live in dataFolder, wherever it points now.
  state_.dataFolder = (folder_ / "elsewhere").string() + "/";
  state_.displayMode = DisplayMode::Echo;
  EXPECT_TRUE(Paint().empty());
}

TEST_F(ViewPainting, OnlyLinesMeetingTheVisibleBandAreReturned) {
  std::string lines;
  for (int k = 0; k < 100; ++k) lines += "line " + std::to_string(k) + "\r\n";
  WriteFile("result.txt", lines);
  state_.displayMode = DisplayMode::Report;
  // Rows are 20 pixels from y = 20 + 20k; the band [1000, 1100) meets lines 49 to 53.
  const std::vector<TextItem> items = PaintView(state_, {800, 600}, dotPhase_, 1000, 1100);
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items.front().text, "line 49");
  EXPECT_EQ(items.front().y, 1000);
  EXPECT_EQ(items.back().text, "line 53");
  EXPECT_EQ(Paint().size(), 100u);
}

TEST_F(ViewPainting, PleaseWaitDotsCycleThroughSevenPhases) {
  state_.displayMode = DisplayMode::Waiting;
  // An 800 x 600 client area: the text at (250, 280), the dots from x = 363 to 398.
  for (int repaint = 0; repaint < 8; ++repaint) {
    const int dots = repaint % 7;
    const std::vector<TextItem> items = Paint();
    ASSERT_EQ(items.size(), static_cast<std::size_t>(1 + dots)) << "repaint " << repaint;
    EXPECT_EQ(items[0], (TextItem{250, 280, "Please wait", kTextMagenta}));
    for (int k = 0; k < dots; ++k) EXPECT_EQ(items[1 + k], (TextItem{363 + 7 * k, 280, ".", kTextMagenta}));
    EXPECT_EQ(dotPhase_, dots == 6 ? 100 : 100 + 7 * (dots + 1));
  }
  // Odd sizes use integer halves.
  dotPhase_ = 142;
  const std::vector<TextItem> items = Paint({301, 99});
  EXPECT_EQ(items[0].x, 150 - 150);
  EXPECT_EQ(items[0].y, 49 - 20);
  EXPECT_EQ(items.back().x, 150 + 135 - 137);
  EXPECT_EQ(dotPhase_, 100);
}

}  // namespace
}  // namespace quorvel
