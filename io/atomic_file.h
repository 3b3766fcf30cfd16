// Files replaced whole or not at all. The new content goes to a fresh temporary file in
// the target's folder (created exclusively, so no existing file or link is ever opened),
// is flushed to the disk and then renamed over the target. A reader of the target sees
// the old content or the new one, never a mixture; a failed or interrupted write leaves
// the old file as it was; a link at the target is replaced, never followed.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

class AtomicFile {
 public:
  AtomicFile() = default;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  // Discards the temporary file unless Commit succeeded.
  ~AtomicFile();

  // Creates the temporary file beside `target`. False (with Error() set) when the folder
  // does not take a new file.
  bool Create(const std::string& target);
  // Writes the whole content, flushes it and renames the temporary file over the target.
  // False (with Error() set) on any failure; the target is then untouched and the
  // temporary file removed.
  bool Commit(std::string_view content);
  // Removes the temporary file; the target is untouched.
  void Discard();

  const std::string& Error() const { return error_; }

 private:
  bool Fail(const char* what);

  std::string target_;
  std::string temporary_;
  int fd_ = -1;
  std::string error_;
};

// Create and Commit in one step.
bool WriteFileAtomically(const std::string& target, std::string_view content,
                         std::string* error = nullptr);

}  // namespace quorvel
