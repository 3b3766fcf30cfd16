// Test support: generated data sets.
#include "tests/support/design_generator.h"

#include <cmath>
#include <numbers>

#include "analysis/canonical_order.h"
#include "numeric/distinct_levels.h"

namespace quorvel::testing {

double Rng::Normal() {
  const double u = Uniform();
  const double v = Uniform();
  return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * v);
}

void FillLevels(DesignData& data) {
  for (int f = 0; f < data.factorCount; ++f) {
    data.levelCodes[f] = DistinctLevels(data.factorCodes[f]);
    data.levelCounts[f] = static_cast<int>(data.levelCodes[f].size());
  }
}

DesignData GenerateDesign(const Shape& shape) {
  Rng rng(shape.seed);
  const int traits = shape.traits;
  auto count = [&](int most, bool atLeastTwo) {
    if (shape.balanced) return most;
    const int n = 1 + rng.Below(most);
    return atLeastTwo ? std::max(n, std::min(2, most)) : n;
  };
  auto effect = [&](double sd) {
    std::vector<double> e(static_cast<std::size_t>(traits));
    const double common = rng.Normal();
    for (int t = 0; t < traits; ++t) {
      const double rho = t % 2 == 0 ? 0.7 : -0.5;
      e[t] = sd * (1 + 0.5 * t) * (rho * common + std::sqrt(1 - rho * rho) * rng.Normal());
    }
    return e;
  };
  struct Row {
    std::array<int, 4> codes;
    std::vector<double> y;
  };
  std::vector<Row> rows;
  // Adds n observations of one cell with the sum of the given effects.
  auto addCell = [&](std::array<int, 4> codes, const std::vector<std::vector<double>>& effects,
                     int n) {
    for (int i = 0; i < n; ++i) {
      Row row{codes, effect(1.0)};
      for (int t = 0; t < traits; ++t) {
        row.y[t] += 40.0 * (t + 1);
        for (const auto& e : effects) row.y[t] += e[t];
      }
      rows.push_back(std::move(row));
    }
  };

  int factors = 2;
  if (shape.kind == ModelKind::Nested) {
    for (int m = 0; m < shape.males; ++m) {
      const int male = shape.balanced ? m + 1 : 7 + 4 * m;
      const auto maleEffect = effect(2.0);
      const int females = count(shape.females, m == 0);
      for (int f = 0; f < females; ++f) {
        const int female = shape.balanced ? f + 1 : 1 + 2 * f + rng.Below(2);
        const auto femaleEffect = effect(1.5);
        addCell({male, female, 0, 0}, {maleEffect, femaleEffect}, count(shape.progeny, f == 0));
      }
    }
  } else if (shape.kind == ModelKind::Blocked) {
    factors = 3;
    std::vector<std::vector<double>> maleEffect;
    std::vector<std::vector<std::vector<double>>> femaleEffect;
    std::vector<int> females;
    for (int m = 0; m < shape.males; ++m) {
      maleEffect.push_back(effect(2.0));
      females.push_back(count(shape.females, m == 0));
      femaleEffect.emplace_back();
      for (int f = 0; f < females[m]; ++f) femaleEffect[m].push_back(effect(1.5));
    }
    for (int b = 0; b < shape.blocks; ++b) {
      const int block = shape.balanced ? b + 1 : b - 1;
      const auto blockEffect = effect(3.0);
      for (int m = 0; m < shape.males; ++m) {
        if (!shape.balanced && b > 0 && rng.Below(3) == 0) continue;  // male missing from the block
        const int male = shape.balanced ? m + 1 : -20 + 6 * m;
        for (int f = 0; f < females[m]; ++f) {
          if (!shape.balanced && b > 0 && rng.Below(4) == 0) continue;
          addCell({block, male, f + 1, 0}, {blockEffect, maleEffect[m], femaleEffect[m][f]},
                  count(shape.progeny, b == 0 && f == 0));
        }
      }
    }
  } else {
    factors = 4;
    for (int b = 0; b < shape.blocks; ++b) {
      const int block = shape.balanced ? b + 1 : 10 * (b + 1);
      const auto blockEffect = effect(3.0);
      const int repeats = count(shape.repeats, b == 0);
      std::vector<std::vector<double>> repeatEffect;
      for (int r = 0; r < repeats; ++r) repeatEffect.push_back(effect(2.0));
      const int males = count(shape.males, b == 0);
      for (int m = 0; m < males; ++m) {
        const int male = shape.balanced ? m + 1 : 100 * (b + 1) + m + 1;
        const auto maleEffect = effect(2.0);
        const int females = count(shape.females, m == 0);
        for (int f = 0; f < females; ++f) {
          const auto femaleEffect = effect(1.5);
          for (int r = 0; r < repeats; ++r) {
            if (!shape.balanced && r > 0 && rng.Below(5) == 0)
              continue;  // missing female x repeat cell
            const auto interaction = effect(1.0);
            addCell({block, male, f + 1, r + 1},
                    {blockEffect, repeatEffect[r], maleEffect, femaleEffect, interaction},
                    count(shape.progeny, f == 0));
          }
        }
      }
    }
  }
  if (!shape.balanced) {
    for (std::size_t i = rows.size(); i > 1; --i)
      std::swap(rows[i - 1], rows[rng.Below(static_cast<int>(i))]);
  }

  DesignData data;
  data.kind = shape.kind;
  data.factorCount = factors;
  data.traitCount = traits;
  data.observationCount = static_cast<int>(rows.size());
  data.factorCodes.assign(static_cast<std::size_t>(factors), {});
  data.traitValues.assign(static_cast<std::size_t>(traits), {});
  for (const Row& row : rows) {
    for (int f = 0; f < factors; ++f) data.factorCodes[f].push_back(row.codes[f]);
    for (int t = 0; t < traits; ++t) data.traitValues[t].push_back(row.y[t]);
  }
  FillLevels(data);
  return data;
}

DesignData NestedFromCells(const std::vector<std::array<int, 3>>& cells, unsigned seed) {
  Rng rng(seed);
  DesignData data;
  data.kind = ModelKind::Nested;
  data.factorCount = 2;
  data.traitCount = 1;
  data.factorCodes.assign(2, {});
  data.traitValues.assign(1, {});
  for (const auto& [male, female, size] : cells) {
    const double mean = 10.0 + 3.0 * rng.Normal();
    for (int k = 0; k < size; ++k) {
      data.factorCodes[0].push_back(male);
      data.factorCodes[1].push_back(female);
      data.traitValues[0].push_back(mean + rng.Normal());
    }
  }
  data.observationCount = static_cast<int>(data.traitValues[0].size());
  FillLevels(data);
  return data;
}

DesignData ReorderRows(const DesignData& data, const std::vector<int>& order) {
  return ReorderObservations(data, order);
}

}  // namespace quorvel::testing
