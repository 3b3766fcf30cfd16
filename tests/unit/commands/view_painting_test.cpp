// What the view draws in each display mode.
#include "app/commands/view_painting.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace quorvel {
namespace {

class ViewPainting : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        std::filesystem::temp_directory_path() / ("view_painting_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    state_.dataFolder = folder_.string() + "/";
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  void WriteFile(const char* name, const std::string& bytes) {
    std::ofstream(folder_ / name, std::ios::binary) << bytes;
  }
  std::vector<TextItem> Paint(ViewSize area = {800, 600}) {
    return PaintView(state_, area, dotPhase_);
  }

  std::filesystem::path folder_;
  AppState state_;
  int dotPhase_ = kDotPhaseStart;
};

TEST_F(ViewPainting, EchoAndReportLinesAreReadAnewFromDataFolder) {
  WriteFile("tmp.txt", "\r\n   The data\r\n\tkept as is \r\nlast line without end");
  WriteFile("result.txt", "line 0\r\nline 1\r\nline 2\r\n");
  EXPECT_TRUE(Paint().empty());  // Blank
  state_.displayMode = DisplayMode::Echo;
  EXPECT_EQ(Paint(), (std::vector<TextItem>{{40, 20, "", kTextBlack},
                                            {40, 40, "   The data", kTextBlack},
                                            {40, 60, "\tkept as is ", kTextBlack},
                                            {40, 80, "last line without end", kTextBlack}}));
  state_.displayMode = DisplayMode::Report;
  EXPECT_EQ(Paint().size(), 3u);
  // Only rows meeting the visible band: [45, 60) meets line 1 (y 40..60) alone.
  EXPECT_EQ(PaintView(state_, {800, 600}, dotPhase_, 45, 60),
            (std::vector<TextItem>{{40, 40, "line 1", kTextBlack}}));
  // A deleted report empties the view at the next repaint.
  std::filesystem::remove(folder_ / "result.txt");
  EXPECT_TRUE(Paint().empty());
  EXPECT_EQ(dotPhase_, kDotPhaseStart);
}

TEST_F(ViewPainting, PleaseWaitDotsCycleThroughSevenPhases) {
  state_.displayMode = DisplayMode::Waiting;
  // An 800 x 600 client area: the text at (250, 280), the dots from x = 363 to 398.
  for (int repaint = 0; repaint < 8; ++repaint) {
    const int dots = repaint % 7;
    const std::vector<TextItem> items = Paint();
    ASSERT_EQ(items.size(), static_cast<std::size_t>(1 + dots)) << "repaint " << repaint;
    EXPECT_EQ(items[0], (TextItem{250, 280, "Please wait", kTextMagenta}));
    for (int k = 0; k < dots; ++k)
      EXPECT_EQ(items[1 + k], (TextItem{363 + 7 * k, 280, ".", kTextMagenta}));
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
