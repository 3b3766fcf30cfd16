// What the main view draws: the echo or the report line by line, or "Please wait".
#include "app/commands/view_painting.h"

#include <cstdio>

namespace quorvel {
namespace {

constexpr int kLineX = 40;
constexpr int kFirstLineY = 20;
constexpr int kLinePitch = 20;

// Lines of the file without their line ends (LF, or CR LF), read as the view draws them.
void AppendFileLines(const std::string& path, int visibleTop, int visibleBottom,
                     std::vector<TextItem>& items) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return;
  std::string line;
  int k = 0;
  auto emit = [&] {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const int y = kFirstLineY + kLinePitch * k;
    if (y + kLinePitch > visibleTop && y < visibleBottom) {
      items.push_back(TextItem{kLineX, y, line, kTextBlack});
    }
    line.clear();
    ++k;
  };
  char buffer[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    for (std::size_t i = 0; i < got; ++i) {
      if (buffer[i] == '\n') {
        emit();
      } else {
        line.push_back(buffer[i]);
      }
    }
  }
  if (!line.empty()) emit();
  std::fclose(file);
}

}  // namespace

std::vector<TextItem> PaintView(const AppState& state, ViewSize clientArea, int& dotPhase,
                                int visibleTop, int visibleBottom) {
  std::vector<TextItem> items;
  switch (state.displayMode.load()) {
    case DisplayMode::Waiting: {
      // "Please wait" and up to six dots 7 pixels apart, centred on the client area.
      const int cx = clientArea.width / 2;
      const int cy = clientArea.height / 2;
      items.push_back(TextItem{cx - 150, cy - 20, "Please wait", kTextMagenta});
      for (int d = 100; d <= 135; d += 7) {
        if (dotPhase > d) items.push_back(TextItem{cx + d - 137, cy - 20, ".", kTextMagenta});
      }
      dotPhase += 7;
      if (dotPhase > 142) dotPhase = kDotPhaseStart;
      break;
    }
    case DisplayMode::Echo:
      AppendFileLines(state.dataFolder + "tmp.txt", visibleTop, visibleBottom, items);
      break;
    case DisplayMode::Report:
      AppendFileLines(state.dataFolder + "result.txt", visibleTop, visibleBottom, items);
      break;
    case DisplayMode::Blank:
      break;
  }
  return items;
}

}  // namespace quorvel
