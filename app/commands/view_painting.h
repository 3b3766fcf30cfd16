// What the main view draws for each DisplayMode, independent of the window system: the
// desktop view renders these items and nothing else.
#pragma once

#include <string>
#include <vector>

#include "app/state/app_state.h"
#include "app/state/platform.h"

namespace quorvel {

struct TextColour {
  int red = 0;
  int green = 0;
  int blue = 0;
  bool operator==(const TextColour&) const = default;
};

inline constexpr TextColour kTextBlack{0, 0, 0};
inline constexpr TextColour kTextMagenta{255, 0, 255};

// One string to draw. (x, y) is the top-left corner of the text in the scrolled drawing
// area, in pixels; the text is drawn unchanged (no tab expansion) in the view's font,
// "Courier New" 20 pixels high.
struct TextItem {
  int x = 0;
  int y = 0;
  std::string text;  // bytes of the file as read, without the line end
  TextColour colour = kTextBlack;
  bool operator==(const TextItem&) const = default;
};

inline constexpr int kDotPhaseStart = 100;  // the view's dotPhase when it is created

// The items of one repaint. Echo and Report read state.dataFolder + "tmp.txt" or
// "result.txt" anew and give line k at (40, 20 + 20k); a file that cannot be read gives
// nothing. Waiting gives the magenta "Please wait" at (cx - 150, cy - 20) of the client
// area's centre and one dot at (cx + d - 137, cy - 20) for each d of 100, 107, ..., 135
// below dotPhase, then advances dotPhase by 7 (back to 100 past 142). Blank gives nothing.
// Only lines whose 20-pixel row meets [visibleTop, visibleBottom) are returned; the
// defaults take every line.
std::vector<TextItem> PaintView(const AppState& state, ViewSize clientArea, int& dotPhase,
                                int visibleTop = 0, int visibleBottom = 0x7fffffff);

}  // namespace quorvel
