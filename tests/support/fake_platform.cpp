// A scripted Platform for tests.
#include "tests/support/fake_platform.h"

namespace quorvel {
namespace {

ChosenFile FileOf(const std::string& fullPath) {
  const std::size_t slash = fullPath.find_last_of('/');
  return ChosenFile{fullPath, slash == std::string::npos ? fullPath : fullPath.substr(slash + 1)};
}

std::optional<ChosenFile> NextAnswer(std::deque<std::optional<ChosenFile>>& answers) {
  if (answers.empty()) return std::nullopt;
  std::optional<ChosenFile> answer = answers.front();
  answers.pop_front();
  return answer;
}

}  // namespace

void FakePlatform::RunPendingWorkers() {
  std::vector<std::function<void()>> bodies;
  bodies.swap(pendingWorkers);
  for (auto& body : bodies) body();
}

void FakePlatform::ChooseNextOpen(const std::string& fullPath) {
  openAnswers.push_back(FileOf(fullPath));
}
void FakePlatform::ChooseNextSave(const std::string& fullPath) {
  saveAnswers.push_back(FileOf(fullPath));
}

int FakePlatform::CountCalls(const std::string& prefix) const {
  int count = 0;
  for (const auto& call : calls) count += call.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
  return count;
}

void FakePlatform::ShowMessage(const std::string& text, MessageIcon icon) {
  calls.push_back(std::string("ShowMessage(") +
                  (icon == MessageIcon::Warning ? "Warning" : "None") + "): " + text);
  messages.push_back(text);
}

std::optional<ChosenFile> FakePlatform::ChooseOpenFile(const FileDialogSpec& spec) {
  calls.push_back("ChooseOpenFile(" + spec.startFolder + ")");
  openSpecs.push_back(spec);
  return NextAnswer(openAnswers);
}

std::optional<ChosenFile> FakePlatform::ChooseSaveFile(const FileDialogSpec& spec) {
  calls.push_back("ChooseSaveFile(" + spec.startFolder + ")");
  saveSpecs.push_back(spec);
  return NextAnswer(saveAnswers);
}

void FakePlatform::StartTimer(int id, int periodMs) {
  calls.push_back("StartTimer(" + std::to_string(id) + ", " + std::to_string(periodMs) + ")");
  runningTimers.insert(id);
}

void FakePlatform::StopTimer(int id) {
  calls.push_back("StopTimer(" + std::to_string(id) + ")");
  runningTimers.erase(id);
}

void FakePlatform::InvalidateView() {
  calls.push_back("InvalidateView");
  ++invalidations;
}

void FakePlatform::SetScrollSize(int width, int height) {
  calls.push_back("SetScrollSize(" + std::to_string(width) + ", " + std::to_string(height) + ")");
  scrollWidth = width;
  scrollHeight = height;
}

void FakePlatform::StartWorker(std::function<void()> body) {
  calls.push_back("StartWorker");
  if (deferWorkers) {
    pendingWorkers.push_back(std::move(body));
  } else {
    body();
  }
}

void FakePlatform::ShellOpen(const std::string& path) {
  calls.push_back("ShellOpen(" + path + ")");
}

std::string FakePlatform::ExecutablePath() const { return executablePath; }

ViewSize FakePlatform::ClientAreaSize() const { return clientArea; }

void FakePlatform::RunStateChanged(bool running) {
  calls.push_back(std::string("RunStateChanged(") + (running ? "true" : "false") + ")");
}

void FakePlatform::ShowStatus(const std::string& text) {
  calls.push_back("ShowStatus(" + text + ")");
  statusTexts.push_back(text);
}

}  // namespace quorvel
