// Finding text in what the view shows (the data echo or the report), for Ctrl+F and F3.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/state/app_state.h"

namespace quorvel {

// A place in the shown text: line and column count from 0, in bytes of the line.
struct TextMatch {
  int line = 0;
  int column = 0;
  int length = 0;
  bool operator==(const TextMatch&) const = default;
};

enum class FindDirection { Forward, Backward };

// The lines the view draws for the current DisplayMode (the echo or the report, read
// anew, without line ends); none while "Please wait" or nothing is shown.
std::vector<std::string> ShownTextLines(const AppState& state);

// Finds `needle` (ASCII letters in any case) in `lines`. Forward: the first match that
// starts at or after (line, column) in reading order, else wrapping round to the first
// match from the top. Backward: the last match that starts before (line, column), else
// wrapping round to the last match. Nothing for an empty needle or when it occurs nowhere.
// A match lies within one line.
std::optional<TextMatch> FindText(const std::vector<std::string>& lines, std::string_view needle,
                                  int line, int column, FindDirection direction);

}  // namespace quorvel
