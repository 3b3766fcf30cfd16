// Composition of report text with C printf conventions, written byte for byte.
#pragma once

#include <cstdio>
#include <string>

namespace quorvel {

// Appends the printf-formatted text to out.
void Appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The report file: text is composed in memory and written in pieces, bytes unchanged
// (line ends are the "\r\n" of the composed text).
class ReportStream {
 public:
  ReportStream() = default;
  ReportStream(const ReportStream&) = delete;
  ReportStream& operator=(const ReportStream&) = delete;
  ~ReportStream();

  // Creates or empties the file; false when it cannot be created.
  bool Open(const std::string& path);
  // Text waiting to be written; Flush writes it.
  std::string& Text() { return pending_; }
  void Flush();
  // Flushes and closes; false when a write failed.
  bool Close();

 private:
  std::FILE* file_ = nullptr;
  std::string pending_;
  bool failed_ = false;
};

}  // namespace quorvel
