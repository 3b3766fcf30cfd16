// The window system of the command-line front end: messages go to standard error, the
// "dialogs" answer with files given on the command line, the worker runs to its end
// before StartWorker returns and the timer is driven by a loop.
#pragma once

#include <cstdio>
#include <optional>
#include <set>

#include "app/commands/commands.h"
#include "app/state/platform.h"

namespace quorvel {

class ConsolePlatform : public Platform {
 public:
  explicit ConsolePlatform(std::FILE* messages = stderr) : messages_(messages) {}

  // The answers of the next open and save dialogs; nothing means "cancelled".
  std::optional<ChosenFile> openAnswer;
  std::optional<ChosenFile> saveAnswer;

  // Writes the text as a message box shows it, followed by a line end when it has none.
  void ShowMessage(const std::string& text, MessageIcon icon) override;
  std::optional<ChosenFile> ChooseOpenFile(const FileDialogSpec& spec) override;
  std::optional<ChosenFile> ChooseSaveFile(const FileDialogSpec& spec) override;
  void StartTimer(int id, int periodMs) override;
  void StopTimer(int id) override;
  void InvalidateView() override {}
  void SetScrollSize(int width, int height) override;
  // Runs body on its own thread and waits for it.
  void StartWorker(std::function<void()> body) override;
  // There is no desktop to ask: the path is printed to standard error.
  void ShellOpen(const std::string& path) override;
  // A warning goes to standard error as "quorvel-cli: warning: TEXT"; an empty text
  // writes nothing.
  void ShowStatus(const std::string& text) override;
  std::string ExecutablePath() const override;
  ViewSize ClientAreaSize() const override { return {}; }

  bool TimerRunning(int id) const { return timers_.count(id) != 0; }
  ViewSize ScrollSize() const { return scrollSize_; }

 private:
  std::FILE* messages_;
  std::set<int> timers_;
  ViewSize scrollSize_{};
};

// Delivers the ticks of timer 1 until the commands stop it. The worker has already
// finished (StartWorker waits for it), so the ticks need no real time between them.
void DriveAnalysisTimer(Session& session, ConsolePlatform& platform);

}  // namespace quorvel
