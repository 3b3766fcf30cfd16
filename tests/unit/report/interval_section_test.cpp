// The report's confidence-interval sections: only when asked for, each right after its
// trait's component box and nowhere else, in the box's width and number format, with the
// level of the run in the title and "nan" where an interval does not exist.
#include <gtest/gtest.h>

#include <string>

#include "analysis/analyze_design.h"
#include "report/text_report.h"
#include "tests/support/csv_design.h"

namespace quorvel {
namespace {

constexpr const char* kEpochText = "Thu Jan  1 00:00:00 1970";

AnalysisResult Analyze(const char* dataSet, double level = 0.95) {
  const DesignData data =
      testing::LoadDesignCsv(std::string(QUORVEL_TEST_DATA) + "/analysis/" + dataSet + ".csv");
  AnalysisOptions options;
  options.diagnostics = nullptr;
  options.confidenceLevel = level;
  return AnalyzeDesign(data, options);
}

// The report with every interval section cut out: from its title to the blank line
// after its closing rule.
std::string WithoutIntervalSections(std::string report, int& sections) {
  const std::string rule =
      "   =====================================================================================\r\n"
      "\r\n";
  sections = 0;
  for (std::size_t at; (at = report.find("   Approximate ")) != std::string::npos;) {
    const std::size_t end = report.find(rule, at);
    if (end == std::string::npos) break;
    report.erase(at, end + rule.size() - at);
    ++sections;
  }
  return report;
}

// Trait 2 of the unbalanced nested data set, whose male component is negative. The
// numbers are R's intervals (interval_reference.inc) printed with %.4f.
TEST(IntervalSection, LaidOutLikeTheComponentBox) {
  const AnalysisResult result = Analyze("nested_unbalanced");
  std::string section;
  AppendIntervalSection(section, result, 1);
  EXPECT_EQ(
      section,
      "   Approximate 95% confidence intervals for trait 2:\r\n"
      "   ====================================================================="
      "================\r\n"
      "      Parameter           Estimate       Lower Limit       Upper Limit   Method\r\n"
      "   ---------------------------------------------------------------------"
      "----------------\r\n"
      "      Sigma_M              -0.2824               nan               nan   "
      "Satterthwaite\r\n"
      "      Sigma_F               1.1562            0.5130            4.5887   "
      "Satterthwaite\r\n"
      "      Sigma_E               3.6529            2.9004            4.7432   Chi-square\r\n"
      "\r\n"
      "      Hi                   -0.2496           -0.6920            0.1929   Wald\r\n"
      "      Hm                   -0.4482           -1.3953            0.4989   Wald\r\n"
      "   ====================================================================="
      "================\r\n"
      "\r\n");
}

TEST(IntervalSection, OnlyWhenAskedAndRightAfterEachComponentBox) {
  for (const char* dataSet : {"nested_unbalanced", "blocked_balanced", "repeat_unbalanced"}) {
    SCOPED_TRACE(dataSet);
    const AnalysisResult result = Analyze(dataSet);
    const std::string plain = FormatTextReport(result, kEpochText);
    EXPECT_EQ(plain.find("confidence intervals"), std::string::npos);
    EXPECT_EQ(FormatTextReport(result, kEpochText, ReportOptions{false, 0.9}), plain);

    const std::string with = FormatTextReport(result, kEpochText, ReportOptions{true, 0.95});
    int sections = 0;
    EXPECT_EQ(WithoutIntervalSections(with, sections), plain);
    EXPECT_EQ(sections, static_cast<int>(result.traits.size()));
    for (std::size_t t = 1; t <= result.traits.size(); ++t) {
      const std::string box = "   Estimates of variance components and heritabilites for trait " +
                              std::to_string(t) + ":\r\n";
      const std::string title =
          "   Approximate 95% confidence intervals for trait " + std::to_string(t) + ":\r\n";
      const std::size_t boxAt = with.find(box);
      const std::size_t titleAt = with.find(title);
      ASSERT_NE(titleAt, std::string::npos) << title;
      // Right after the box: its closing rule and blank line directly precede the title.
      EXPECT_EQ(with.rfind("=\r\n\r\n", titleAt), titleAt - 5);
      EXPECT_LT(boxAt, titleAt);
      EXPECT_EQ(with.find("   Estimates of variance", boxAt + 1) > titleAt, true);
    }
    // Every line of a section as wide as the report's rules at most, the numbers in
    // their columns (repeat_unbalanced has upper limits near 1e44).
    for (std::size_t t = 0; t < result.traits.size(); ++t) {
      std::string section;
      AppendIntervalSection(section, result, static_cast<int>(t));
      std::size_t start = 0;
      for (std::size_t end; (end = section.find("\r\n", start)) != std::string::npos;
           start = end + 2) {
        const std::string line = section.substr(start, end - start);
        EXPECT_LE(line.size(), 88U) << line;
        if (line.rfind("      Sigma_", 0) == 0 || line.rfind("      H", 0) == 0) {
          EXPECT_EQ(line.substr(34, 4), "    ") << line;
          EXPECT_EQ(line.substr(52, 4), "    ") << line;
          EXPECT_EQ(line.substr(70, 3), "   ") << line;
          EXPECT_NE(line[33], ' ') << line;
        }
      }
    }
  }
}

TEST(IntervalSection, TitleCarriesTheLevelOfTheRun) {
  for (const auto& [level, percent] :
       {std::pair{0.9, "90%"}, {0.95, "95%"}, {0.99, "99%"}, {0.975, "97.5%"}, {0.5, "50%"}}) {
    const AnalysisResult result = Analyze("repeat_balanced", level);
    std::string section;
    AppendIntervalSection(section, result, 0);
    EXPECT_EQ(section.substr(0, section.find("\r\n")),
              std::string("   Approximate ") + percent + " confidence intervals for trait 1:");
  }
}

}  // namespace
}  // namespace quorvel
