// Finding text in the shown echo or report.
#include "app/commands/text_find.h"

#include <algorithm>
#include <cctype>

#include "app/commands/view_painting.h"

namespace quorvel {
namespace {

constexpr int kLinePitch = 20;
constexpr int kFirstLineY = 20;

bool SameLetter(char a, char b) {
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

// Every column of `line` where `needle` starts.
std::vector<int> MatchColumns(const std::string& line, std::string_view needle) {
  std::vector<int> columns;
  auto at = line.begin();
  while (true) {
    at = std::search(at, line.end(), needle.begin(), needle.end(), SameLetter);
    if (at == line.end()) break;
    columns.push_back(static_cast<int>(at - line.begin()));
    ++at;
  }
  return columns;
}

}  // namespace

std::vector<std::string> ShownTextLines(const AppState& state) {
  const DisplayMode mode = state.displayMode.load();
  if (mode != DisplayMode::Echo && mode != DisplayMode::Report) return {};
  int dotPhase = kDotPhaseStart;
  std::vector<std::string> lines;
  for (TextItem& item : PaintView(state, ViewSize{}, dotPhase)) {
    // Line k is drawn at y = 20 + 20k; lines are given in order without gaps.
    const std::size_t k = static_cast<std::size_t>((item.y - kFirstLineY) / kLinePitch);
    if (lines.size() <= k) lines.resize(k + 1);
    lines[k] = std::move(item.text);
  }
  return lines;
}

std::optional<TextMatch> FindText(const std::vector<std::string>& lines, std::string_view needle,
                                  int line, int column, FindDirection direction) {
  if (needle.empty() || lines.empty()) return std::nullopt;
  const int count = static_cast<int>(lines.size());
  line = std::clamp(line, 0, count - 1);
  const int length = static_cast<int>(needle.size());
  // Lines are visited from the start line round to it again; the start line is visited
  // twice, once for its part on each side of `column`.
  for (int step = 0; step <= count; ++step) {
    const int k = direction == FindDirection::Forward ? (line + step) % count
                                                      : ((line - step) % count + count) % count;
    const std::vector<int> columns = MatchColumns(lines[static_cast<std::size_t>(k)], needle);
    if (columns.empty()) continue;
    // On the first visit of the start line only the part on the search's side of
    // `column` counts, on the second visit only the rest.
    const auto allowed = [&](int c) {
      const bool ahead = direction == FindDirection::Forward ? c >= column : c < column;
      if (step == 0) return ahead;
      if (step == count) return !ahead;
      return true;
    };
    if (direction == FindDirection::Forward) {
      for (int c : columns) {
        if (allowed(c)) return TextMatch{k, c, length};
      }
    } else {
      for (auto c = columns.rbegin(); c != columns.rend(); ++c) {
        if (allowed(*c)) return TextMatch{k, *c, length};
      }
    }
  }
  return std::nullopt;
}

}  // namespace quorvel
