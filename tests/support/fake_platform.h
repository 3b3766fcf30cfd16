// A scripted Platform for tests: records every call as a line of text and answers the
// dialogs from queues the test fills.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/state/platform.h"

namespace quorvel {

class FakePlatform : public Platform {
 public:
  // Every call in order, e.g. "ShowMessage(Warning): Data Error!", "StartTimer(1, 200)",
  // "SetScrollSize(820, 620)", "InvalidateView", "StartWorker", "ShellOpen(/x/Manual.pdf)",
  // "ShowStatus(text)".
  std::vector<std::string> calls;

  // Answers of the next dialogs; an empty queue answers "cancelled".
  std::deque<std::optional<ChosenFile>> openAnswers;
  std::deque<std::optional<ChosenFile>> saveAnswers;
  std::vector<FileDialogSpec> openSpecs;  // the settings each dialog was shown with
  std::vector<FileDialogSpec> saveSpecs;

  std::vector<std::string> messages;     // texts of the message boxes, in order
  std::vector<std::string> statusTexts;  // texts passed to ShowStatus, in order
  std::set<int> runningTimers;
  int scrollWidth = -1;  // last scroll size set; -1 before any
  int scrollHeight = -1;
  int invalidations = 0;
  std::string executablePath = "/opt/quorvel/bin/quorvel";
  ViewSize clientArea{800, 600};

  // When set, StartWorker keeps the body for RunPendingWorkers instead of running it.
  bool deferWorkers = false;
  std::vector<std::function<void()>> pendingWorkers;
  void RunPendingWorkers();

  // Queues the answer of the next open or save dialog: a chosen file, its name taken
  // from the path.
  void ChooseNextOpen(const std::string& fullPath);
  void ChooseNextSave(const std::string& fullPath);
  // The number of calls whose text starts with `prefix`.
  int CountCalls(const std::string& prefix) const;

  void ShowMessage(const std::string& text, MessageIcon icon) override;
  std::optional<ChosenFile> ChooseOpenFile(const FileDialogSpec& spec) override;
  std::optional<ChosenFile> ChooseSaveFile(const FileDialogSpec& spec) override;
  void StartTimer(int id, int periodMs) override;
  void StopTimer(int id) override;
  void InvalidateView() override;
  void SetScrollSize(int width, int height) override;
  void StartWorker(std::function<void()> body) override;
  void ShellOpen(const std::string& path) override;
  std::string ExecutablePath() const override;
  ViewSize ClientAreaSize() const override;
  void RunStateChanged(bool running) override;
  void ShowStatus(const std::string& text) override;
};

}  // namespace quorvel
