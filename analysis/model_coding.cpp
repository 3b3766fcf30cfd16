// Coding of the three designs: level and cell lists, design, restrictions, names.
#include "analysis/model_coding.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <span>

namespace quorvel {
namespace {

using Codes = std::span<const std::int32_t>;

// Position of the code tuple (c[0], .., c[K-1]) in an ascending lexicographic list held
// as K parallel arrays; every tuple of the data occurs in its list.
template <std::size_t K>
int FindTuple(const std::array<CodeList, K>& list, const std::array<std::int32_t, K>& key) {
  int lo = 0;
  int hi = static_cast<int>(list[0].size());
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    bool less = false;
    for (std::size_t k = 0; k < K; ++k) {
      if (list[k][mid] != key[k]) {
        less = list[k][mid] < key[k];
        break;
      }
    }
    if (less) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

int FindLevel(const CodeList& list, std::int32_t code) {
  return static_cast<int>(std::lower_bound(list.begin(), list.end(), code) - list.begin());
}

std::string Format(const char* format, int a, int b = 0, int c = 0, int d = 0) {
  char text[96];
  std::snprintf(text, sizeof text, format, a, b, c, d);
  return text;
}

// Appends one effect block of `count` parameters and returns its start column.
int AddBlock(ModelCoding& coding, Effect effect, int count) {
  EffectBlock block{effect, coding.parameterCount, count};
  coding.blocks.push_back(block);
  coding.parameterCount += count;
  return block.start;
}

std::vector<int> Iota(int start, int count) {
  std::vector<int> columns(static_cast<std::size_t>(count));
  std::iota(columns.begin(), columns.end(), start);
  return columns;
}

// The nested and the blocked model: males and male-female cells over the whole data,
// preceded by the blocks in the blocked model.
void CodeMalesAndFemales(const DesignData& data, ModelCoding& coding, bool blocked) {
  const int maleColumn = blocked ? 1 : 0;
  const Codes male(data.factorCodes[maleColumn]);
  const Codes female(data.factorCodes[maleColumn + 1]);
  if (blocked) coding.blockLevels = DistinctLevels(data.factorCodes[0]);
  coding.maleLevels = DistinctLevels(male);
  coding.maleFemaleCells = DistinctPairs(male, female);

  const int nBlock = static_cast<int>(coding.blockLevels.size());
  const int nMale = static_cast<int>(coding.maleLevels.size());
  const int nCell = static_cast<int>(coding.maleFemaleCells[0].size());
  AddBlock(coding, Effect::Mean, 1);
  const int b0 = blocked ? AddBlock(coding, Effect::Block, nBlock) : 0;
  const int m0 = AddBlock(coding, Effect::Male, nMale);
  const int f0 = AddBlock(coding, Effect::Female, nCell);

  const int n = coding.observationCount;
  const std::size_t blocks = coding.blocks.size();
  coding.designColumns.assign(blocks, std::vector<int>(static_cast<std::size_t>(n), 0));
  for (int i = 0; i < n; ++i) {
    if (blocked) coding.designColumns[1][i] = b0 + FindLevel(coding.blockLevels, data.factorCodes[0][i]);
    coding.designColumns[blocks - 2][i] = m0 + FindLevel(coding.maleLevels, male[i]);
    coding.designColumns[blocks - 1][i] =
        f0 + FindTuple<2>(coding.maleFemaleCells, {male[i], female[i]});
  }

  // (blocked: all B;) all M; for each male, the F columns of its cells.
  if (blocked) coding.restrictionRows.push_back(Iota(b0, nBlock));
  coding.restrictionRows.push_back(Iota(m0, nMale));
  for (int m = 0; m < nMale; ++m) {
    std::vector<int> row;
    for (int c = 0; c < nCell; ++c) {
      if (coding.maleFemaleCells[0][c] == coding.maleLevels[m]) row.push_back(f0 + c);
    }
    coding.restrictionRows.push_back(std::move(row));
  }

  coding.parameterNames.push_back("u");
  for (int b = 0; b < nBlock; ++b) coding.parameterNames.push_back(Format("B%d", coding.blockLevels[b]));
  for (int m = 0; m < nMale; ++m) coding.parameterNames.push_back(Format("M%d", coding.maleLevels[m]));
  for (int c = 0; c < nCell; ++c) {
    coding.parameterNames.push_back(
        Format("F(%d,%d)", coding.maleFemaleCells[0][c], coding.maleFemaleCells[1][c]));
  }
  coding.subDesignBlockCounts = blocked ? std::vector<int>{2, 3} : std::vector<int>{1, 2};
}

void CodeBlockedRepeat(const DesignData& data, ModelCoding& coding) {
  const Codes block(data.factorCodes[0]);
  const Codes male(data.factorCodes[1]);
  const Codes female(data.factorCodes[2]);
  const Codes repeat(data.factorCodes[3]);
  coding.blockLevels = DistinctLevels(block);
  coding.maleLevels = DistinctLevels(male);
  coding.repeatLevels = DistinctLevels(repeat);
  coding.maleFemaleCells = DistinctPairs(male, female);
  coding.blockRepeatCells = DistinctPairs(block, repeat);
  coding.blockMaleCells = DistinctPairs(block, male);
  coding.blockMaleFemaleCells = DistinctTriples(block, male, female);
  coding.blockMaleFemaleRepeatCells = DistinctQuadruples(block, male, female, repeat);

  const auto& br = coding.blockRepeatCells;
  const auto& bm = coding.blockMaleCells;
  const auto& bmf = coding.blockMaleFemaleCells;
  const auto& bmfr = coding.blockMaleFemaleRepeatCells;
  const int nBlock = static_cast<int>(coding.blockLevels.size());
  const int nBR = static_cast<int>(br[0].size());
  const int nBM = static_cast<int>(bm[0].size());
  const int nBMF = static_cast<int>(bmf[0].size());
  const int nBMFR = static_cast<int>(bmfr[0].size());
  AddBlock(coding, Effect::Mean, 1);
  const int b0 = AddBlock(coding, Effect::Block, nBlock);
  const int r0 = AddBlock(coding, Effect::Repeat, nBR);
  const int m0 = AddBlock(coding, Effect::Male, nBM);
  const int f0 = AddBlock(coding, Effect::Female, nBMF);
  const int fr0 = AddBlock(coding, Effect::FemaleRepeat, nBMFR);

  const int n = coding.observationCount;
  coding.designColumns.assign(6, std::vector<int>(static_cast<std::size_t>(n), 0));
  for (int i = 0; i < n; ++i) {
    coding.designColumns[1][i] = b0 + FindLevel(coding.blockLevels, block[i]);
    coding.designColumns[2][i] = r0 + FindTuple<2>(br, {block[i], repeat[i]});
    coding.designColumns[3][i] = m0 + FindTuple<2>(bm, {block[i], male[i]});
    coding.designColumns[4][i] = f0 + FindTuple<3>(bmf, {block[i], male[i], female[i]});
    coding.designColumns[5][i] = fr0 + FindTuple<4>(bmfr, {block[i], male[i], female[i], repeat[i]});
  }

  // (1) all B; (2) R of each block; (3) M of each block; (4) F of each block-male cell;
  // (5) FR of each block and male-female cell; (6) FR of each block and repeat level.
  auto& rows = coding.restrictionRows;
  rows.push_back(Iota(b0, nBlock));
  auto columnsWhere = [](int start, int count, auto&& keep) {
    std::vector<int> row;
    for (int c = 0; c < count; ++c) {
      if (keep(c)) row.push_back(start + c);
    }
    return row;
  };
  for (const std::int32_t b : coding.blockLevels) {
    rows.push_back(columnsWhere(r0, nBR, [&](int c) { return br[0][c] == b; }));
  }
  for (const std::int32_t b : coding.blockLevels) {
    rows.push_back(columnsWhere(m0, nBM, [&](int c) { return bm[0][c] == b; }));
  }
  for (int k = 0; k < nBM; ++k) {
    rows.push_back(columnsWhere(
        f0, nBMF, [&](int c) { return bmf[0][c] == bm[0][k] && bmf[1][c] == bm[1][k]; }));
  }
  const auto& mf = coding.maleFemaleCells;
  for (const std::int32_t b : coding.blockLevels) {
    for (std::size_t k = 0; k < mf[0].size(); ++k) {
      rows.push_back(columnsWhere(fr0, nBMFR, [&](int c) {
        return bmfr[0][c] == b && bmfr[1][c] == mf[0][k] && bmfr[2][c] == mf[1][k];
      }));
    }
  }
  for (const std::int32_t b : coding.blockLevels) {
    for (const std::int32_t r : coding.repeatLevels) {
      rows.push_back(
          columnsWhere(fr0, nBMFR, [&](int c) { return bmfr[0][c] == b && bmfr[3][c] == r; }));
    }
  }

  auto& names = coding.parameterNames;
  names.push_back("u");
  for (const std::int32_t b : coding.blockLevels) names.push_back(Format("B%d", b));
  for (int c = 0; c < nBR; ++c) names.push_back(Format("R(%d,%d)", br[0][c], br[1][c]));
  for (int c = 0; c < nBM; ++c) names.push_back(Format("M(%d,%d)", bm[0][c], bm[1][c]));
  for (int c = 0; c < nBMF; ++c) {
    names.push_back(Format("F(%d,%d,%d)", bmf[0][c], bmf[1][c], bmf[2][c]));
  }
  for (int c = 0; c < nBMFR; ++c) {
    names.push_back(Format("FR(%d,%d,%d,%d)", bmfr[0][c], bmfr[1][c], bmfr[2][c], bmfr[3][c]));
  }
  coding.subDesignBlockCounts = {3, 4, 5};
}

}  // namespace

const EffectBlock* ModelCoding::Find(Effect effect) const {
  for (const EffectBlock& block : blocks) {
    if (block.effect == effect) return &block;
  }
  return nullptr;
}

ModelCoding BuildModelCoding(const DesignData& data) {
  ModelCoding coding;
  coding.kind = data.kind;
  coding.observationCount = data.observationCount;
  switch (data.kind) {
    case ModelKind::Nested:
      CodeMalesAndFemales(data, coding, false);
      break;
    case ModelKind::Blocked:
      CodeMalesAndFemales(data, coding, true);
      break;
    case ModelKind::BlockedRepeat:
      CodeBlockedRepeat(data, coding);
      break;
    case ModelKind::None:
      break;
  }
  // Column 0 (u) is 1 in every row: designColumns[0] is all zeros already.
  coding.restrictionCount = static_cast<int>(coding.restrictionRows.size());
  return coding;
}

std::vector<int> DesignRow(const ModelCoding& coding, int row) {
  std::vector<int> columns;
  columns.reserve(coding.designColumns.size());
  for (const auto& block : coding.designColumns) columns.push_back(block[row]);
  return columns;
}

DesignCells BuildDesignCells(const ModelCoding& coding) {
  const int n = coding.observationCount;
  const std::size_t nb = coding.designColumns.size();
  std::vector<int> order(static_cast<std::size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  auto less = [&](int a, int b) {
    for (std::size_t k = 0; k < nb; ++k) {
      const int ca = coding.designColumns[k][a];
      const int cb = coding.designColumns[k][b];
      if (ca != cb) return ca < cb;
    }
    return false;
  };
  std::stable_sort(order.begin(), order.end(), less);

  DesignCells cells;
  cells.cellOfObservation.assign(static_cast<std::size_t>(n), 0);
  for (std::size_t k = 0; k < order.size(); ++k) {
    const int i = order[k];
    if (k == 0 || less(order[k - 1], i)) {
      cells.columns.push_back(DesignRow(coding, i));
      cells.counts.push_back(0);
    }
    cells.counts.back() += 1;
    cells.cellOfObservation[i] = static_cast<int>(cells.counts.size()) - 1;
  }
  return cells;
}

std::vector<std::vector<std::int32_t>> DenseDesignMatrix(const ModelCoding& coding) {
  std::vector<std::vector<std::int32_t>> x(
      static_cast<std::size_t>(coding.observationCount),
      std::vector<std::int32_t>(static_cast<std::size_t>(coding.parameterCount), 0));
  for (int i = 0; i < coding.observationCount; ++i) {
    for (const auto& block : coding.designColumns) x[i][block[i]] = 1;
  }
  return x;
}

std::vector<std::vector<std::int32_t>> DenseRestrictionMatrix(const ModelCoding& coding) {
  std::vector<std::vector<std::int32_t>> r(
      coding.restrictionRows.size(),
      std::vector<std::int32_t>(static_cast<std::size_t>(coding.parameterCount), 0));
  for (std::size_t k = 0; k < coding.restrictionRows.size(); ++k) {
    for (const int column : coding.restrictionRows[k]) r[k][column] = 1;
  }
  return r;
}

std::vector<TestedFactor> TestedFactors(ModelKind kind) {
  switch (kind) {
    case ModelKind::Nested:
      return {{"Male", Effect::Male}, {"Female", Effect::Female}};
    case ModelKind::Blocked:
      return {{"Block", Effect::Block}, {"Male", Effect::Male}, {"Female", Effect::Female}};
    case ModelKind::BlockedRepeat:
      return {{"Block", Effect::Block},
              {"Repeat", Effect::Repeat},
              {"Male", Effect::Male},
              {"Female", Effect::Female},
              {"Repeat*Female", Effect::FemaleRepeat}};
    case ModelKind::None:
      break;
  }
  return {};
}

}  // namespace quorvel
