// Coding of the three designs: level and cell lists, effect blocks, the 0/1 design held
// by its structure, the sum-to-zero restriction rows and the parameter names.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "import/design_data.h"
#include "numeric/distinct_levels.h"

namespace quorvel {

// The effects of the three models, in the order they take in the parameter vector.
enum class Effect { Mean, Block, Repeat, Male, Female, FemaleRepeat };

// A run of consecutive parameters that belong to one effect.
struct EffectBlock {
  Effect effect;
  int start = 0;  // first parameter (column) of the block
  int count = 0;  // number of parameters
};

// The coding of one run. The design matrix X (N x p, 0/1) has exactly one 1 per effect
// block in every row; it is held as the column of each block for each observation,
// never as a dense N x p array.
struct ModelCoding {
  ModelKind kind = ModelKind::None;
  int observationCount = 0;

  // Level lists (ascending) and cell lists (ascending lexicographic, parallel arrays).
  CodeList blockLevels;
  CodeList maleLevels;
  CodeList repeatLevels;
  std::array<CodeList, 2> maleFemaleCells;
  std::array<CodeList, 2> blockRepeatCells;
  std::array<CodeList, 2> blockMaleCells;
  std::array<CodeList, 3> blockMaleFemaleCells;
  std::array<CodeList, 4> blockMaleFemaleRepeatCells;

  std::vector<EffectBlock> blocks;  // u first, then the model's effects in parameter order
  int parameterCount = 0;           // p
  int restrictionCount = 0;         // r

  // designColumns[b][i]: the column of block b that is 1 in row i of X.
  std::vector<std::vector<int>> designColumns;
  // Each restriction row as the ascending list of its columns holding 1 (an all-zero
  // row is an empty list and stays in place).
  std::vector<std::vector<int>> restrictionRows;
  std::vector<std::string> parameterNames;

  // Number of leading effect blocks kept by each sub-model design, in order
  // (e.g. u | u,M for the nested model).
  std::vector<int> subDesignBlockCounts;

  // The block of an effect, or null when the model has none.
  const EffectBlock* Find(Effect effect) const;
};

// Builds the coding of `data` for its kind (which must not be None).
ModelCoding BuildModelCoding(const DesignData& data);

// Row i of the design as its column list, one entry per effect block (ascending).
std::vector<int> DesignRow(const ModelCoding& coding, int row);

// The design's distinct rows ("cells") with the number of observations in each: every
// quantity of the fixed and random stages that does not depend on trait values is a
// function of these. Cells are in ascending order of their column lists.
struct DesignCells {
  std::vector<std::vector<int>> columns;  // per cell, one column per effect block
  std::vector<int> counts;                // observations per cell
  std::vector<int> cellOfObservation;     // per observation, its cell
};
DesignCells BuildDesignCells(const ModelCoding& coding);

// The dense 0/1 design matrix (N x p), for tests and reference computations on small data.
std::vector<std::vector<std::int32_t>> DenseDesignMatrix(const ModelCoding& coding);
// The dense 0/1 restriction matrix (r x p).
std::vector<std::vector<std::int32_t>> DenseRestrictionMatrix(const ModelCoding& coding);

// Labels of the factors tested by the fixed-model analysis, with their effects.
struct TestedFactor {
  const char* label;
  Effect effect;
};
std::vector<TestedFactor> TestedFactors(ModelKind kind);

}  // namespace quorvel
