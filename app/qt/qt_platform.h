// The window system of the desktop program: message boxes, file dialogs, the view's timers,
// repaint and scrolling, the analysis worker thread and the desktop's "open".
#pragma once

#include <QStringList>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/state/platform.h"

class QTimer;

namespace quorvel {

class CQuorvelView;

// Turns a filter of the "Name(*.ext)|*.ext|...||" form into Qt's name filters, one
// "Name (*.ext)" per pair. "*.*" becomes "*", which on this system also matches names
// without a dot, as "all files" promises.
QStringList NameFiltersFromDialogFilter(const std::string& filter);

class QtPlatform final : public Platform {
 public:
  explicit QtPlatform(CQuorvelView& view) : view_(view) {}
  // Waits for every worker still running.
  ~QtPlatform() override;
  QtPlatform(const QtPlatform&) = delete;
  QtPlatform& operator=(const QtPlatform&) = delete;

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

  // Joins every worker started so far; the caller's state must outlive them until then.
  void JoinWorkers();
  bool TimerActive(int id) const;

 private:
  CQuorvelView& view_;
  std::map<int, QTimer*> timers_;  // owned by the view, one per timer id
  std::vector<std::thread> workers_;
};

}  // namespace quorvel
