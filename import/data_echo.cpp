// The data echo "tmp.txt".
#include "import/data_echo.h"

#include <algorithm>
#include <cstdio>

#include "import/model_spec.h"
#include "io/atomic_file.h"

namespace quorvel {
namespace {

// Appends printf-formatted text cut to at most `limit` characters.
template <typename... Args>
void AppendCut(std::string& out, std::size_t limit, const char* format, Args... args) {
  char field[64];
  const std::size_t size = limit + 1 < sizeof field ? limit + 1 : sizeof field;
  const int length = std::snprintf(field, size, format, args...);
  if (length <= 0) return;
  out.append(field, std::min(static_cast<std::size_t>(length), size - 1));
}

}  // namespace

std::string ComposeDataEcho(const DesignData& data, const std::vector<std::string>& traitNames) {
  const int factors = data.factorCount;
  const int traits = data.traitCount;
  std::string out;
  out.reserve(256 + static_cast<std::size_t>(data.observationCount) *
                        (8 * static_cast<std::size_t>(factors) + 4 +
                         18 * static_cast<std::size_t>(traits)));

  out += "\r\n   The data can be analyzed with the following model: \r\n";
  const ModelSpec* spec = FindModelSpec(data.kind);
  if (spec != nullptr) out += spec->echoFormula;
  out += "   Factor Levels:\r\n\r\n";

  // One line per factor: its name and its distinct codes in ascending order.
  for (int f = 0; f < factors; ++f) {
    out += "   ";
    out += data.factorNames[f];
    out += ": ";
    const auto& codes = data.levelCodes[f];
    const int count = std::min<int>(data.levelCounts[f], static_cast<int>(codes.size()));
    for (int k = 0; k < count; ++k) out += std::to_string(codes[k]) + ' ';
    out += "\r\n";
  }
  out += "\r\n\r\n";
  out += "   Individual data: \r\n\r\n\r\n";
  out += "\r\n";

  // Column header: factor names as they stand, trait names right-aligned in 18 characters.
  for (int f = 0; f < factors; ++f) {
    out += "   ";
    out += data.factorNames[f];
  }
  for (int t = 0; t < traits; ++t) {
    const std::string name = static_cast<std::size_t>(t) < traitNames.size() ? traitNames[t] : "";
    AppendCut(out, 18, "%18s", name.c_str());
  }
  out += "\r\n";

  // Observations: each field is cut to its width, so long numbers touch the next field.
  for (int i = 0; i < data.observationCount; ++i) {
    for (int f = 0; f < factors; ++f) AppendCut(out, 8, "%8d", data.factorCodes[f][i]);
    out += "  ";
    for (int t = 0; t < traits; ++t) AppendCut(out, 18, "%16.4f  ", data.traitValues[t][i]);
    out += "\r\n";
  }
  return out;
}

bool WriteDataEcho(const std::string& path, const DesignData& data,
                   const std::vector<std::string>& traitNames) {
  return WriteFileAtomically(path, ComposeDataEcho(data, traitNames));
}

}  // namespace quorvel
