// The data echo "tmp.txt": what an accepted import read, written byte for byte with CR LF
// line ends so that the view can show it.
#pragma once

#include <string>
#include <vector>

#include "import/design_data.h"

namespace quorvel {

// The whole echo of `data` as it goes to the file: model sentence and formula, the
// factor levels, the column header (factor names, then traitNames right-aligned in 18
// characters) and one line per observation (codes in 8 characters, a 2-space gap,
// values as "%16.4f  " cut to 18 characters). A trait without a name in traitNames gets
// an empty header field.
std::string ComposeDataEcho(const DesignData& data, const std::vector<std::string>& traitNames);

// Replaces the file at `path` whole with the echo of `data` (a new file renamed over the
// old one). Returns false when the file cannot be created or fully written; the old file
// is then left as it was.
bool WriteDataEcho(const std::string& path, const DesignData& data,
                   const std::vector<std::string>& traitNames);

}  // namespace quorvel
