// The loaded data set of a nested mating design.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel {

// The sheet layouts; the values are those of the Model menu entries.
enum class ModelKind : int { None = 0, BlockedRepeat = 1, Blocked = 2, Nested = 3 };

// A validated data sheet. Replaced whole by each accepted import; read, never written,
// by the analyses.
struct DesignData {
  ModelKind kind = ModelKind::None;
  int factorCount = 0;                                  // 4, 3 or 2 by kind
  std::array<std::string, 4> factorNames;               // header texts of columns 1..4 as read
  int traitCount = 0;                                   // trait columns, may be 0
  int observationCount = 0;                             // data rows, at least 4
  std::vector<std::vector<std::int32_t>> factorCodes;   // [factor][observation]
  std::vector<std::vector<double>> traitValues;         // [trait][observation]
  std::array<int, 4> levelCounts{};                     // distinct codes per factor
  std::array<std::vector<std::int32_t>, 4> levelCodes;  // ascending distinct codes per factor
};

}  // namespace quorvel
