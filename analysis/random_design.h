// The structure of a design as the random-model stage sees it. The random terms form a
// hierarchy of partitions of the observations (each term's cells nested in its parent's),
// and the leading fixed effects span the indicators of one more partition, the leading
// cells (the cells of the last leading effect, e.g. the block-repeat cells). Every
// projection the stage needs is onto the span of the leading cells together with the cells
// of one partition; with the observations grouped into atoms (the design's distinct rows)
// all of it is computed from counts.
#pragma once

#include <utility>
#include <vector>

#include "analysis/model_coding.h"

namespace quorvel {

// One sparse entry of a cell's composition over the leading cells: (leading cell, count).
using LeadingCount = std::pair<int, double>;

// The cells of one partition: level 0 is the parent of the top random term (the mean or a
// leading effect), level q >= 1 the q-th random term from the top.
struct LevelCells {
  int effect = 0;                                  // the spec's effect
  int count = 0;                                   // number of cells
  std::vector<double> size;                        // observations per cell
  std::vector<int> parent;                         // level q >= 1: cell of level q-1
  std::vector<std::vector<LeadingCount>> leading;  // composition over the leading cells
  std::vector<int> firstOfParent;                  // per parent cell: its first child
  std::vector<int> endOfParent;                    // per parent cell: one past its last child
};

struct RandomDesign {
  int observations = 0;
  int terms = 0;  // random terms K; levels run 0 .. K

  // Atoms: the design's distinct rows (DesignCells order), their sizes, their leading cell
  // and their cell at every level.
  int atoms = 0;
  std::vector<double> atomSize;
  std::vector<int> atomLeading;
  std::vector<std::vector<int>> atomCell;  // [level][atom]

  // Leading cells and their regions (the level-0 cells): no partition of the stage groups
  // observations of two regions, so every matrix over the leading cells splits by region.
  int leadingCount = 0;
  std::vector<double> leadingSize;
  std::vector<int> leadingRegion;               // per leading cell: its level-0 cell
  std::vector<int> leadingSlot;                 // per leading cell: its position in its region
  std::vector<std::vector<int>> regionLeading;  // per region: its leading cells, ascending

  std::vector<LevelCells> levels;  // 0 .. K

  // The leading effects' columns in parameter order, each as the leading cells it covers.
  std::vector<std::vector<int>> leadingColumns;
};

// The structure of `coding`'s design; `cells` are its distinct rows.
RandomDesign BuildRandomDesign(const ModelCoding& coding, const DesignCells& cells);

}  // namespace quorvel
