// Test support: the data sets of the frozen analysis results.
#include "tests/support/baseline_designs.h"

#include "tests/support/csv_design.h"
#include "tests/support/design_generator.h"

namespace quorvel::testing {

std::vector<BaselineDesign> BaselineDesigns(const std::string& dataFolder) {
  std::vector<BaselineDesign> designs;
  for (const char* name :
       {"blocked_balanced", "blocked_no_traits", "blocked_unbalanced", "nested_10000",
        "nested_balanced", "nested_unbalanced", "repeat_balanced", "repeat_no_traits",
        "repeat_unbalanced", "codes_fractional", "codes_large", "males_101", "traits_20",
        "rows_four_only"}) {
    const std::string stem = name;
    designs.push_back({stem, LoadDesignCsv(dataFolder + "/" + stem + ".csv"),
                       stem == "nested_10000" ? 13
                       : stem == "males_101"  ? 11
                                              : 1});
  }
  const Shape shapes[] = {
      {"gen_nested_balanced", ModelKind::Nested, true, 3, 11, 0, 5, 3, 0, 4},
      {"gen_nested_unbalanced", ModelKind::Nested, false, 2, 12, 0, 7, 4, 0, 6},
      {"gen_nested_one_trait", ModelKind::Nested, false, 1, 13, 0, 5, 3, 0, 5},
      {"gen_nested_large", ModelKind::Nested, false, 3, 14, 0, 40, 5, 0, 8},
      {"gen_blocked_balanced", ModelKind::Blocked, true, 2, 21, 3, 4, 2, 0, 3},
      {"gen_blocked_unbalanced", ModelKind::Blocked, false, 3, 22, 3, 5, 3, 0, 5},
      {"gen_blocked_large", ModelKind::Blocked, false, 2, 23, 4, 20, 4, 0, 6},
      {"gen_repeat_balanced", ModelKind::BlockedRepeat, true, 2, 31, 2, 3, 2, 2, 3},
      {"gen_repeat_unbalanced", ModelKind::BlockedRepeat, false, 3, 32, 3, 3, 3, 3, 5},
      {"gen_repeat_large", ModelKind::BlockedRepeat, false, 2, 34, 4, 8, 4, 3, 6},
      {"gen_repeat_near_1", ModelKind::BlockedRepeat, false, 1, 33000, 3, 3, 4, 2, 3},
      {"gen_repeat_near_2", ModelKind::BlockedRepeat, false, 2, 10407, 3, 3, 3, 2, 3},
      {"gen_repeat_near_3", ModelKind::BlockedRepeat, false, 2, 2290, 2, 3, 3, 2, 6},
      {"gen_repeat_near_4", ModelKind::BlockedRepeat, false, 1, 32051, 3, 2, 2, 3, 3},
      {"gen_repeat_near_5", ModelKind::BlockedRepeat, false, 2, 28591, 3, 2, 3, 3, 3},
      {"gen_repeat_near_6", ModelKind::BlockedRepeat, false, 3, 4438, 2, 4, 4, 2, 3},
      {"gen_repeat_balanced_3", ModelKind::BlockedRepeat, true, 2, 43, 3, 2, 2, 2, 3},
  };
  for (const Shape& shape : shapes) {
    designs.push_back({shape.name, GenerateDesign(shape), shape.males >= 20 ? 5 : 1});
  }
  // Fewer residual rows than random rows (no exact test), and zero degrees of freedom.
  designs.push_back(
      {"cells_few_residual",
       NestedFromCells(
           {{1, 1, 2}, {1, 2, 1}, {1, 3, 1}, {2, 1, 2}, {2, 2, 1}, {3, 1, 1}, {3, 2, 2}, {3, 3, 1}},
           4),
       1});
  designs.push_back(
      {"cells_one_female", NestedFromCells({{1, 1, 3}, {2, 1, 2}, {3, 4, 3}, {4, 2, 2}}, 1), 1});
  designs.push_back({"cells_unbalanced_sizes",
                     NestedFromCells({{3, 1, 5},
                                      {3, 2, 2},
                                      {3, 3, 7},
                                      {5, 1, 3},
                                      {5, 4, 3},
                                      {9, 2, 1},
                                      {9, 3, 6},
                                      {9, 5, 2},
                                      {12, 1, 4},
                                      {12, 2, 4},
                                      {12, 3, 1},
                                      {20, 7, 9}},
                                     6),
                     1});
  return designs;
}

}  // namespace quorvel::testing
