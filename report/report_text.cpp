// Composition of report text.
#include "report/report_text.h"

#include <cstdarg>
#include <cstdio>

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

}  // namespace quorvel
