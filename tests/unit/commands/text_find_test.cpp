// Finding text in the shown echo or report: direction, wrapping round, letter case, and
// the lines read as the view draws them.
#include "app/commands/text_find.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace quorvel {
namespace {

const std::vector<std::string> kLines = {"Sigma_M  12", "", "sigma_m and SIGMA_M", "Hi"};

TEST(FindText, ForwardFromAPlaceAndRoundTheEnd) {
  using D = FindDirection;
  EXPECT_EQ(FindText(kLines, "sigma_m", 0, 0, D::Forward), (TextMatch{0, 0, 7}));
  EXPECT_EQ(FindText(kLines, "sigma_m", 0, 1, D::Forward), (TextMatch{2, 0, 7}));
  EXPECT_EQ(FindText(kLines, "sigma_m", 2, 1, D::Forward), (TextMatch{2, 12, 7}));
  EXPECT_EQ(FindText(kLines, "sigma_m", 2, 13, D::Forward), (TextMatch{0, 0, 7}));  // wraps
  EXPECT_EQ(FindText(kLines, "12", 0, 10, D::Forward),
            (TextMatch{0, 9, 2}));  // the start line's rest
}

TEST(FindText, BackwardBeforeAPlaceAndRoundTheStart) {
  using D = FindDirection;
  EXPECT_EQ(FindText(kLines, "SIGMA_m", 2, 12, D::Backward), (TextMatch{2, 0, 7}));
  EXPECT_EQ(FindText(kLines, "SIGMA_m", 2, 0, D::Backward), (TextMatch{0, 0, 7}));
  EXPECT_EQ(FindText(kLines, "SIGMA_m", 0, 0, D::Backward), (TextMatch{2, 12, 7}));  // wraps
  EXPECT_EQ(FindText(kLines, "Hi", 3, 0, D::Backward), (TextMatch{3, 0, 2}));        // the only one
}

TEST(FindText, NothingForAnEmptyOrAbsentNeedle) {
  EXPECT_FALSE(FindText(kLines, "", 0, 0, FindDirection::Forward));
  EXPECT_FALSE(FindText(kLines, "Sigma_F", 1, 0, FindDirection::Forward));
  EXPECT_FALSE(FindText({}, "Hi", 0, 0, FindDirection::Backward));
  EXPECT_EQ(FindText(kLines, "Hi", 99, 0, FindDirection::Forward), (TextMatch{3, 0, 2}));
}

TEST(ShownTextLines, TheFileOfTheDisplayModeWithoutLineEnds) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("text_find_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "result.txt", std::ios::binary) << "\r\n  Report\r\n\r\nend\r\n";
  std::ofstream(folder / "tmp.txt", std::ios::binary) << "echo\r\n";
  AppState state;
  state.dataFolder = folder.string() + "/";
  EXPECT_TRUE(ShownTextLines(state).empty());  // Blank
  state.displayMode = DisplayMode::Report;
  EXPECT_EQ(ShownTextLines(state), (std::vector<std::string>{"", "  Report", "", "end"}));
  state.displayMode = DisplayMode::Echo;
  EXPECT_EQ(ShownTextLines(state), (std::vector<std::string>{"echo"}));
  state.displayMode = DisplayMode::Waiting;
  EXPECT_TRUE(ShownTextLines(state).empty());
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quorvel
