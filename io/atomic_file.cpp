// Files replaced by rename.
#include "io/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace quorvel {
namespace {

// The process's file-mode creation mask, read without changing it (umask() can only be
// read by setting it, which would race with other threads creating files).
mode_t CurrentUmask() {
  mode_t mask = 022;
  if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
      unsigned value = 0;
      if (std::sscanf(line, "Umask: %o", &value) == 1) {
        mask = static_cast<mode_t>(value);
        break;
      }
    }
    std::fclose(status);
  }
  return mask;
}

}  // namespace

AtomicFile::~AtomicFile() { Discard(); }

bool AtomicFile::Fail(const char* what) {
  error_ = std::string(what) + ": " + std::strerror(errno);
  Discard();
  return false;
}

bool AtomicFile::Create(const std::string& target) {
  Discard();
  error_.clear();
  target_ = target;
  const std::size_t slash = target.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  // A hidden name that mkostemp completes with six random characters; O_EXCL inside it
  // refuses any existing file or link of that name.
  std::vector<char> pattern(folder.begin(), folder.end());
  const std::string hidden = "." + name + ".XXXXXX";
  pattern.insert(pattern.end(), hidden.begin(), hidden.end());
  pattern.push_back('\0');
  fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) {
    error_ = std::string("cannot create a file in the folder: ") + std::strerror(errno);
    return false;
  }
  temporary_ = pattern.data();
  // mkostemp creates the file readable by its owner only; a report takes the usual mode.
  ::fchmod(fd_, static_cast<mode_t>(0666 & ~CurrentUmask()));
  return true;
}

bool AtomicFile::Commit(std::string_view content) {
  if (fd_ < 0) {
    if (error_.empty()) error_ = "no file was created";
    return false;
  }
  const char* data = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    const ssize_t written = ::write(fd_, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return Fail("cannot write");
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) return Fail("cannot flush");
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
    error_ = std::string("cannot close: ") + std::strerror(errno);
    return false;
  }
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    error_ = std::string("cannot replace the file: ") + std::strerror(errno);
    ::unlink(temporary_.c_str());
    temporary_.clear();
    return false;
  }
  temporary_.clear();
  return true;
}

void AtomicFile::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
}

bool WriteFileAtomically(const std::string& target, std::string_view content, std::string* error) {
  AtomicFile file;
  const bool ok = file.Create(target) && file.Commit(content);
  if (!ok && error != nullptr) *error = file.Error();
  return ok;
}

}  // namespace quorvel
