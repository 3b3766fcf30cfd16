// Sequential sums of squares and products from the atoms' means.
#include "analysis/sequential_sums.h"

#include <span>

namespace quorvel {

AtomTraits SummariseAtoms(const RandomDesign& design, const std::vector<int>& cellOfObservation,
                          const std::vector<std::vector<double>>& values) {
  AtomTraits out;
  const int traits = static_cast<int>(values.size());
  const std::size_t t = static_cast<std::size_t>(traits);
  out.traits = traits;
  out.mean.assign(static_cast<std::size_t>(design.atoms) * t, 0.0);
  out.within.assign(t * t, 0.0);
  const std::size_t n = cellOfObservation.size();
  for (std::size_t i = 0; i < n; ++i) {
    double* mean = out.mean.data() + static_cast<std::size_t>(cellOfObservation[i]) * t;
    for (std::size_t k = 0; k < t; ++k) mean[k] += values[k][i];
  }
  for (int a = 0; a < design.atoms; ++a) {
    for (std::size_t k = 0; k < t; ++k) out.mean[a * t + k] /= design.atomSize[a];
  }
  // Deviations from the atom means, in a second pass.
  std::vector<double> deviation(t);
  for (std::size_t i = 0; i < n; ++i) {
    const double* mean = out.mean.data() + static_cast<std::size_t>(cellOfObservation[i]) * t;
    for (std::size_t k = 0; k < t; ++k) deviation[k] = values[k][i] - mean[k];
    for (std::size_t k = 0; k < t; ++k) {
      for (std::size_t l = 0; l <= k; ++l) out.within[k * t + l] += deviation[k] * deviation[l];
    }
  }
  for (std::size_t k = 0; k < t; ++k) {
    for (std::size_t l = 0; l < k; ++l) out.within[l * t + k] = out.within[k * t + l];
  }
  return out;
}

LevelFits FitLevels(const RandomDesign& design, const AtomTraits& atoms, const StopToken& stop) {
  LevelFits fits;
  const std::size_t t = static_cast<std::size_t>(atoms.traits);
  const std::size_t atomCount = static_cast<std::size_t>(design.atoms);
  for (const LevelCells& level : design.levels) {
    stop.ThrowIfStopped();
    const std::size_t q = fits.systems.size();
    fits.systems.emplace_back(design, level.size, level.leading);
    const LeadingSystem& system = fits.systems.back();

    // Cell means, and the leading right-hand sides v = L'(I - Pi) y per region.
    std::vector<double> cellMean(static_cast<std::size_t>(level.count) * t, 0.0);
    for (std::size_t a = 0; a < atomCount; ++a) {
      const int c = design.atomCell[q][a];
      for (std::size_t k = 0; k < t; ++k)
        cellMean[c * t + k] += design.atomSize[a] * atoms.mean[a * t + k];
    }
    for (int c = 0; c < level.count; ++c) {
      for (std::size_t k = 0; k < t; ++k) cellMean[c * t + k] /= level.size[c];
    }
    std::vector<double> v(static_cast<std::size_t>(design.leadingCount) * t, 0.0);
    for (std::size_t a = 0; a < atomCount; ++a) {
      const int l = design.atomLeading[a];
      const int c = design.atomCell[q][a];
      for (std::size_t k = 0; k < t; ++k)
        v[l * t + k] += design.atomSize[a] * (atoms.mean[a * t + k] - cellMean[c * t + k]);
    }
    // gamma = G^+ v per region and trait.
    std::vector<double> gamma(static_cast<std::size_t>(design.leadingCount) * t, 0.0);
    for (std::size_t r = 0; r < design.regionLeading.size(); ++r) {
      const std::vector<int>& members = design.regionLeading[r];
      if (system.Trivial(static_cast<int>(r))) continue;
      std::vector<double> w(members.size());
      std::vector<double> g(members.size());
      for (std::size_t k = 0; k < t; ++k) {
        for (std::size_t s = 0; s < members.size(); ++s) w[s] = v[members[s] * t + k];
        system.Solve(static_cast<int>(r), w, g);
        for (std::size_t s = 0; s < members.size(); ++s) gamma[members[s] * t + k] = g[s];
      }
    }
    // P_q y at atom a: the cell mean plus (e_l - composition of the cell / its size)' gamma.
    std::vector<double> cellShift(static_cast<std::size_t>(level.count) * t, 0.0);
    for (int c = 0; c < level.count; ++c) {
      for (const auto& [l, nl] : level.leading[c]) {
        for (std::size_t k = 0; k < t; ++k)
          cellShift[c * t + k] += nl / level.size[c] * gamma[l * t + k];
      }
    }
    std::vector<double> fitted(atomCount * t);
    for (std::size_t a = 0; a < atomCount; ++a) {
      const int c = design.atomCell[q][a];
      const int l = design.atomLeading[a];
      for (std::size_t k = 0; k < t; ++k) {
        fitted[a * t + k] = cellMean[c * t + k] + (gamma[l * t + k] - cellShift[c * t + k]);
      }
    }
    fits.fitted.push_back(std::move(fitted));
  }
  return fits;
}

std::vector<std::vector<double>> SumsOfProducts(const RandomDesign& design, const AtomTraits& atoms,
                                                const LevelFits& fits) {
  const std::size_t t = static_cast<std::size_t>(atoms.traits);
  const int terms = design.terms;
  std::vector<std::vector<double>> sp(static_cast<std::size_t>(terms) + 1,
                                      std::vector<double>(t * t, 0.0));
  std::vector<double> d(t);
  auto accumulate = [&](std::vector<double>& target, double weight) {
    for (std::size_t k = 0; k < t; ++k) {
      for (std::size_t l = 0; l <= k; ++l) target[k * t + l] += weight * d[k] * d[l];
    }
  };
  for (int a = 0; a < design.atoms; ++a) {
    for (int q = 0; q < terms; ++q) {
      const double* upper = fits.fitted[q + 1].data() + a * t;
      const double* lower = fits.fitted[q].data() + a * t;
      for (std::size_t k = 0; k < t; ++k) d[k] = upper[k] - lower[k];
      accumulate(sp[q], design.atomSize[a]);
    }
    const double* top = fits.fitted[terms].data() + a * t;
    for (std::size_t k = 0; k < t; ++k) d[k] = atoms.mean[a * t + k] - top[k];
    accumulate(sp[terms], design.atomSize[a]);
  }
  for (std::size_t k = 0; k < t * t; ++k) sp[terms][k] += atoms.within[k];
  for (auto& matrix : sp) {
    for (std::size_t k = 0; k < t; ++k) {
      for (std::size_t l = 0; l < k; ++l) matrix[l * t + k] = matrix[k * t + l];
    }
  }
  return sp;
}

}  // namespace quorvel
