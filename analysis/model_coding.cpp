// Coding of a design from its model's spec: cells, design, restrictions, names.
#include "analysis/model_coding.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <numeric>

namespace quorvel {
namespace {

// "u", "B3", "M(2,7)": the symbol alone, with one code, or with the codes in brackets.
std::string ParameterName(const char* symbol, const TupleList& cells, int cell) {
  std::string name = symbol;
  const std::size_t k = cells.codes.size();
  if (k == 0) return name;
  if (k > 1) name += '(';
  for (std::size_t f = 0; f < k; ++f) {
    if (f > 0) name += ',';
    name += std::to_string(cells.codes[f][cell]);
  }
  if (k > 1) name += ')';
  return name;
}

// Appends the restriction rows of one RestrictionSpec: one row per element of the
// product of the `by` lists (first list outermost), each holding the effect's cells whose
// codes match the element.
void AddRestrictionRows(const DesignData& data, const ModelSpec& spec, const RestrictionSpec& rule,
                        ModelCoding& coding) {
  const EffectSpec& effect = spec.effects[rule.effect];
  const TupleList& cells = coding.cells[rule.effect];
  const EffectBlock& block = coding.blocks[rule.effect];
  std::vector<TupleList> lists;
  std::size_t elements = 1;
  for (const auto& factors : rule.by) {
    lists.push_back(DistinctTuples(data, factors));
    elements *= static_cast<std::size_t>(lists.back().size);
  }
  std::vector<std::vector<int>> rows(elements);
  std::vector<std::int32_t> key;
  for (int c = 0; c < cells.size; ++c) {
    std::size_t element = 0;
    bool occurs = true;
    for (std::size_t l = 0; l < lists.size() && occurs; ++l) {
      key.clear();
      for (const int f : rule.by[l]) {
        const auto at = std::find(effect.factors.begin(), effect.factors.end(), f);
        key.push_back(cells.codes[static_cast<std::size_t>(at - effect.factors.begin())][c]);
      }
      const int position = lists[l].Find(key);
      occurs = position >= 0;
      element =
          element * static_cast<std::size_t>(lists[l].size) + static_cast<std::size_t>(position);
    }
    if (occurs) rows[element].push_back(block.start + c);
  }
  for (auto& row : rows) coding.restrictionRows.push_back(std::move(row));
}

// Cells of the given factor columns with each observation's cell: the observations
// sorted by their codes packed into one 128-bit key per observation.
struct CellsOfObservations {
  TupleList cells;
  std::vector<int> cellOf;
};
CellsOfObservations GroupByCodes(const DesignData& data, const std::vector<int>& factors) {
  CellsOfObservations out;
  const int n = data.observationCount;
  out.cells.codes.assign(factors.size(), {});
  out.cellOf.assign(static_cast<std::size_t>(n), 0);
  if (factors.empty()) {
    out.cells.size = n > 0 ? 1 : 0;
    return out;
  }
  // Up to four 32-bit codes in two words, the first code highest; offsetting by 2^31 keeps
  // the order of signed codes in unsigned keys.
  using Key = std::pair<std::uint64_t, std::uint64_t>;
  std::vector<std::pair<Key, int>> keys(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    std::uint64_t words[2] = {0, 0};
    for (std::size_t k = 0; k < factors.size(); ++k) {
      const std::uint64_t code =
          static_cast<std::uint32_t>(data.factorCodes[factors[k]][i]) ^ 0x80000000u;
      words[k / 2] |= code << (k % 2 == 0 ? 32 : 0);
    }
    keys[i] = {{words[0], words[1]}, i};
  }
  std::sort(keys.begin(), keys.end());
  for (std::size_t k = 0; k < keys.size(); ++k) {
    const int i = keys[k].second;
    if (k == 0 || keys[k].first != keys[k - 1].first) {
      for (std::size_t f = 0; f < factors.size(); ++f)
        out.cells.codes[f].push_back(data.factorCodes[factors[f]][i]);
      ++out.cells.size;
    }
    out.cellOf[i] = out.cells.size - 1;
  }
  return out;
}

}  // namespace

int TupleList::Find(std::span<const std::int32_t> key) const {
  int lo = 0;
  int hi = size;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    bool less = false;
    for (std::size_t k = 0; k < codes.size(); ++k) {
      if (codes[k][mid] != key[k]) {
        less = codes[k][mid] < key[k];
        break;
      }
    }
    if (less) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (lo >= size) return -1;
  for (std::size_t k = 0; k < codes.size(); ++k) {
    if (codes[k][lo] != key[k]) return -1;
  }
  return lo;
}

TupleList DistinctTuples(const DesignData& data, const std::vector<int>& factors) {
  return GroupByCodes(data, factors).cells;
}

ModelCoding BuildModelCoding(const DesignData& data, const ModelSpec& spec) {
  ModelCoding coding;
  coding.spec = &spec;
  coding.observationCount = data.observationCount;

  // Cells of every effect in parameter order, and the column of every effect in every row.
  for (std::size_t e = 0; e < spec.effects.size(); ++e) {
    CellsOfObservations grouped = GroupByCodes(data, spec.effects[e].factors);
    const int count = grouped.cells.size;
    coding.cells.push_back(std::move(grouped.cells));
    coding.blocks.push_back({static_cast<int>(e), coding.parameterCount, count});
    for (int& column : grouped.cellOf) column += coding.parameterCount;
    coding.designColumns.push_back(std::move(grouped.cellOf));
    coding.parameterCount += count;
  }

  for (const RestrictionSpec& rule : spec.restrictions)
    AddRestrictionRows(data, spec, rule, coding);
  coding.restrictionCount = static_cast<int>(coding.restrictionRows.size());

  for (std::size_t e = 0; e < spec.effects.size(); ++e) {
    for (int c = 0; c < coding.cells[e].size; ++c) {
      coding.parameterNames.push_back(ParameterName(spec.effects[e].symbol, coding.cells[e], c));
    }
  }
  return coding;
}

ModelCoding BuildModelCoding(const DesignData& data) {
  return BuildModelCoding(data, SpecOf(data.kind));
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

}  // namespace quorvel
