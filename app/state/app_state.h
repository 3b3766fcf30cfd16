// The application state shared by the commands, the view and the analysis runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace quorvel {

// What the view draws. The values are compared for equality only.
enum class DisplayMode : int { Blank = 0, Echo = 3, Waiting = 100, Report = 300 };

// How the last analysis run ended; published by the worker before finishTick. A cancelled
// run leaves the previous report as it was.
enum class RunStatus : int { Done = 0, ReportNotCreated = 1, Cancelled = 2 };

inline constexpr int kFinishTickBeforeFirstRun = 1'000'000'000;
inline constexpr int kFinishTickAfterRun = 10'000'000;

// One instance lives for the whole program. During a run the worker writes runStartTime,
// reportPath, reportLineCount, reportWidth and runStatus, then displayMode, and finishTick
// last with release order; the user-interface thread reads finishTick with acquire order
// and only then the fields written before it.
struct AppState {
  std::string dataFolder;     // folder of the opened workbook, ending in a separator
  std::string dataFileName;   // file name of the opened workbook
  std::string reportPath;     // dataFolder + "result.txt", set by each run
  std::string dialogFolder;   // where the Open and Save As dialogs start
  std::string programFolder;  // folder of the program's files (Manual.pdf), no trailing separator

  std::atomic<DisplayMode> displayMode{DisplayMode::Blank};
  std::atomic<int> tickCount{0};  // timer ticks since the run started
  std::atomic<int> finishTick{kFinishTickBeforeFirstRun};
  int reportLineCount = 200;      // lines of the report
  int reportWidth = 100;          // characters of its longest line
  std::int64_t runStartTime = 0;  // calendar time, seconds
  RunStatus runStatus = RunStatus::Done;
};

// The current calendar time in seconds; SOURCE_DATE_EPOCH, when set to a number, takes
// the place of the clock so that reports can be reproduced. Either is clamped to the
// times whose year ctime() can print (1000 to 9999 in any time zone).
std::int64_t CurrentCalendarTime();

// The 24 characters of the C library's ctime() text for t (local time), without its
// line feed, e.g. "Thu Jan  1 00:00:00 1970". A t outside the printable years is
// clamped to them.
std::string CtimeText(std::int64_t t);

}  // namespace quorvel
