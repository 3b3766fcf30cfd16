// What the commands need from a window system. The desktop program, the command-line
// front end and the tests each supply one implementation.
#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <string>

namespace quorvel {

enum class MessageIcon { None, Warning };

// A file dialog's settings. The filter uses the "Name(*.ext)|*.ext|...||" form.
struct FileDialogSpec {
  std::string filter;
  std::string defaultExtension;
  std::string initialFileName;
  std::string startFolder;
  bool hideReadOnly = true;
  bool promptOverwrite = false;
};

// The file a dialog returned: its full path and its file name.
struct ChosenFile {
  std::string fullPath;
  std::string fileName;
};

struct ViewSize {
  int width = 0;
  int height = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Modal box titled with the application's name, one OK button.
  virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
  // Nothing when the user cancels.
  virtual std::optional<ChosenFile> ChooseOpenFile(const FileDialogSpec& spec) = 0;
  virtual std::optional<ChosenFile> ChooseSaveFile(const FileDialogSpec& spec) = 0;
  // Periodic timer on the view; starting a running timer restarts it.
  virtual void StartTimer(int id, int periodMs) = 0;
  virtual void StopTimer(int id) = 0;
  // Repaint the whole view, background included.
  virtual void InvalidateView() = 0;
  virtual void SetScrollSize(int width, int height) = 0;
  // Runs body on a worker thread (or, where there is none, before returning).
  virtual void StartWorker(std::function<void()> body) = 0;
  // Asks the desktop to open a document with its associated viewer; the result is ignored.
  virtual void ShellOpen(const std::string& path) = 0;
  // Full path of the running executable.
  virtual std::string ExecutablePath() const = 0;
  virtual ViewSize ClientAreaSize() const = 0;
  // A run started (true) or handed over (false): the desktop program greys the commands
  // that must wait for the run's end.
  virtual void RunStateChanged(bool running) { (void)running; }
  // A warning about the last command that needs no answer, such as data a rule left out:
  // the desktop program shows it in its status bar until the next one, the command-line
  // program on standard error. An empty text clears the one shown.
  virtual void ShowStatus(const std::string& text) { (void)text; }
};

}  // namespace quorvel
