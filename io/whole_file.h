// A file read whole into memory.
#pragma once

#include <string>

namespace quorvel {

// Replaces `bytes` with the content of the file at `path`. False when the file cannot be
// opened or a read fails (`bytes` then holds what was read before the failure).
bool ReadWholeFile(const std::string& path, std::string& bytes);

}  // namespace quorvel
