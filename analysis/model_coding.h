// Coding of a design under its model: the cells of every effect, the effect blocks of the
// parameter vector, the 0/1 design held by its structure, the sum-to-zero restriction rows
// and the parameter names, all built from the model's ModelSpec.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "import/design_data.h"
#include "import/model_spec.h"
#include "numeric/distinct_levels.h"

namespace quorvel {

// Distinct code tuples of some factor columns, ascending lexicographic, as parallel arrays
// (entry j of every array together form tuple j). A tuple of no columns has one entry.
struct TupleList {
  std::vector<CodeList> codes;  // one array per factor column of the tuple
  int size = 0;

  // Position of the tuple (key[0], ...) in the list, or -1 when it does not occur.
  int Find(std::span<const std::int32_t> key) const;
};

// The distinct tuples of the given factor columns of the data.
TupleList DistinctTuples(const DesignData& data, const std::vector<int>& factors);

// A run of consecutive parameters that belong to one effect.
struct EffectBlock {
  int effect = 0;  // index into the spec's effects
  int start = 0;   // first parameter (column) of the block
  int count = 0;   // number of parameters
};

// The coding of one run. The design matrix X (N x p, 0/1) has exactly one 1 per effect
// block in every row; it is held as the column of each block for each observation,
// never as a dense N x p array.
struct ModelCoding {
  const ModelSpec* spec = nullptr;
  int observationCount = 0;

  std::vector<TupleList> cells;     // per effect: its cells, ascending
  std::vector<EffectBlock> blocks;  // per effect, in parameter order
  int parameterCount = 0;           // p
  int restrictionCount = 0;         // r

  // designColumns[e][i]: the column of effect e that is 1 in row i of X.
  std::vector<std::vector<int>> designColumns;
  // Each restriction row as the ascending list of its columns holding 1 (an all-zero
  // row is an empty list and stays in place).
  std::vector<std::vector<int>> restrictionRows;
  std::vector<std::string> parameterNames;

  const EffectBlock& Block(int effect) const { return blocks[static_cast<std::size_t>(effect)]; }
  // The cell of effect e that observation i belongs to (0 .. cells[e].size - 1).
  int CellOf(int effect, int i) const {
    return designColumns[static_cast<std::size_t>(effect)][static_cast<std::size_t>(i)] -
           blocks[static_cast<std::size_t>(effect)].start;
  }
};

// Builds the coding of `data` under `spec`, whose factor columns the data must have.
ModelCoding BuildModelCoding(const DesignData& data, const ModelSpec& spec);
// The same under the model of the data's kind (which must not be None).
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

}  // namespace quorvel
