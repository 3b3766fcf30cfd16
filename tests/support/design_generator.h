// Test support: reproducible data sets of the three layouts, balanced or unbalanced, with
// genetic effects correlated between traits, for analysis tests and benchmarks.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <random>
#include <vector>

#include "import/design_data.h"

namespace quorvel::testing {

// Reproducible pseudo-random numbers (the engine's sequence is fixed by the language).
class Rng {
 public:
  explicit Rng(unsigned seed) : engine_(seed) {}
  int Below(int n) { return static_cast<int>(engine_() % static_cast<unsigned>(n)); }
  double Uniform() { return (static_cast<double>(engine_()) + 0.5) / 4294967296.0; }
  double Normal();  // Box-Muller

 private:
  std::mt19937 engine_;
};

// A generated data set: sizes are exact when balanced, maxima otherwise.
struct Shape {
  const char* name;
  ModelKind kind;
  bool balanced;
  int traits;
  unsigned seed;
  int blocks;   // blocked layouts
  int males;    // in the data set, or per block in the blocked-repeat layout
  int females;  // per male
  int repeats;  // per block, blocked-repeat layout
  int progeny;  // per cell
};

inline void PrintTo(const Shape& shape, std::ostream* out) { *out << shape.name; }

// Simulates a design of the shape with block, repeat, male, female, female-by-repeat and
// residual effects; the genetic effects are correlated between traits (signs alternate)
// so that the correlation matrices carry meaning. Unbalanced data sets have cells of
// different sizes, missing combinations, codes with gaps and rows in random order.
DesignData GenerateDesign(const Shape& shape);

// A nested data set from its cells (male code, female code, number of progeny), in that
// order, with one trait of random values around female means.
DesignData NestedFromCells(const std::vector<std::array<int, 3>>& cells, unsigned seed);

// The level tables of a data set whose codes are filled in.
void FillLevels(DesignData& data);

// The same observations in another row order: row k of the result is row order[k] of data.
DesignData ReorderRows(const DesignData& data, const std::vector<int>& order);

}  // namespace quorvel::testing
