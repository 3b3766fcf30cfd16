// Composition of report text with C printf conventions.
#pragma once

#include <string>

namespace quorvel {

// Appends the printf-formatted text to out.
void Appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace quorvel
