// Composition of report text and the report file.
#include "analysis/report_text.h"

#include <cstdarg>

namespace quorvel {

void Appendf(std::string& out, const char* format, ...) {
  char small[256];
  std::va_list args;
  va_start(args, format);
  std::va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (length < 0) {
    va_end(copy);
    return;
  }
  if (static_cast<std::size_t>(length) < sizeof small) {
    out.append(small, static_cast<std::size_t>(length));
  } else {
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(length) + 1);
    std::vsnprintf(out.data() + at, static_cast<std::size_t>(length) + 1, format, copy);
    out.resize(at + static_cast<std::size_t>(length));
  }
  va_end(copy);
}

ReportStream::~ReportStream() { Close(); }

bool ReportStream::Open(const std::string& path) {
  Close();
  file_ = std::fopen(path.c_str(), "wb");
  failed_ = false;
  pending_.clear();
  return file_ != nullptr;
}

void ReportStream::Flush() {
  if (file_ != nullptr && !pending_.empty()) {
    if (std::fwrite(pending_.data(), 1, pending_.size(), file_) != pending_.size()) failed_ = true;
  }
  pending_.clear();
}

bool ReportStream::Close() {
  if (file_ == nullptr) return !failed_;
  Flush();
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  return !failed_;
}

}  // namespace quorvel
