// The command-line front end's window system.
#include "cli/console_platform.h"

#include <limits.h>
#include <unistd.h>

#include <thread>

namespace quorvel {

void ConsolePlatform::ShowMessage(const std::string& text, MessageIcon /*icon*/) {
  std::fwrite(text.data(), 1, text.size(), messages_);
  if (text.empty() || text.back() != '\n') std::fputc('\n', messages_);
  std::fflush(messages_);
}

std::optional<ChosenFile> ConsolePlatform::ChooseOpenFile(const FileDialogSpec& /*spec*/) {
  return openAnswer;
}

std::optional<ChosenFile> ConsolePlatform::ChooseSaveFile(const FileDialogSpec& /*spec*/) {
  return saveAnswer;
}

void ConsolePlatform::StartTimer(int id, int /*periodMs*/) { timers_.insert(id); }

void ConsolePlatform::StopTimer(int id) { timers_.erase(id); }

void ConsolePlatform::SetScrollSize(int width, int height) { scrollSize_ = {width, height}; }

void ConsolePlatform::StartWorker(std::function<void()> body) {
  std::thread worker(std::move(body));
  worker.join();
}

void ConsolePlatform::ShellOpen(const std::string& path) {
  std::fprintf(messages_, "%s\n", path.c_str());
}

void ConsolePlatform::ShowStatus(const std::string& text) {
  if (text.empty()) return;
  std::fprintf(messages_, "quorvel-cli: warning: %s\n", text.c_str());
  std::fflush(messages_);
}

std::string ConsolePlatform::ExecutablePath() const {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

void DriveAnalysisTimer(Session& session, ConsolePlatform& platform) {
  constexpr int kAnalysisTimer = 1;
  while (platform.TimerRunning(kAnalysisTimer)) OnAnalysisTick(session);
}

}  // namespace quorvel
