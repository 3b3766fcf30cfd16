// Coefficients k and traces t of the sequential blocks.
#include "analysis/trace_tables.h"

#include <span>

namespace quorvel {
namespace {

// The cell of level `to` (<= from) that holds each cell of level `from`.
std::vector<int> Ancestors(const RandomDesign& design, int from, int to) {
  std::vector<int> cell(static_cast<std::size_t>(design.levels[from].count));
  for (int c = 0; c < design.levels[from].count; ++c) {
    int at = c;
    for (int level = from; level > to; --level) at = design.levels[level].parent[at];
    cell[c] = at;
  }
  return cell;
}

// Dense vectors and matrices over the leading slots of one region.
using Vector = std::vector<double>;

double Bilinear(const Vector& u, const std::vector<double>& h, const Vector& v) {
  const std::size_t m = u.size();
  double sum = 0.0;
  for (std::size_t i = 0; i < m; ++i) {
    if (u[i] == 0.0) continue;
    double row = 0.0;
    for (std::size_t j = 0; j < m; ++j) row += h[i * m + j] * v[j];
    sum += u[i] * row;
  }
  return sum;
}

// trace(H1 A H2 B') for m x m row-major matrices.
double TraceOfProducts(const std::vector<double>& h1, const std::vector<double>& a,
                       const std::vector<double>& h2, const std::vector<double>& b, std::size_t m) {
  // X = H1 A, Y = H2 B'; trace(X Y).
  std::vector<double> x(m * m, 0.0);
  std::vector<double> y(m * m, 0.0);
  for (std::size_t i = 0; i < m; ++i) {
    for (std::size_t k = 0; k < m; ++k) {
      for (std::size_t j = 0; j < m; ++j) {
        x[i * m + j] += h1[i * m + k] * a[k * m + j];
        y[i * m + j] += h2[i * m + k] * b[j * m + k];
      }
    }
  }
  double sum = 0.0;
  for (std::size_t i = 0; i < m; ++i) {
    for (std::size_t j = 0; j < m; ++j) sum += x[i * m + j] * y[j * m + i];
  }
  return sum;
}

// What the traces of block q need of one term x below it: per level-q cell Q and level-
// (q-1) cell P the sums s = sum n_d^2, V = sum n_d a_d and W = sum n_d b_d over x's cells
// d inside, and per region the sums of a a', b b' and a b'.
struct TermAggregates {
  std::vector<double> sQ, sP;
  std::vector<Vector> vQ, wQ, vP, wP;
  std::vector<std::vector<double>> aa, bb, ab;  // per region, slots x slots
};

}  // namespace

TraceTables ComputeTraceTables(const RandomDesign& design,
                               const std::vector<LeadingSystem>& systems) {
  const int terms = design.terms;
  const std::size_t regions = design.regionLeading.size();
  TraceTables tables;
  tables.k.assign(static_cast<std::size_t>(terms),
                  std::vector<double>(static_cast<std::size_t>(terms), 0.0));
  tables.t.assign(
      static_cast<std::size_t>(terms),
      std::vector<std::vector<double>>(static_cast<std::size_t>(terms),
                                       std::vector<double>(static_cast<std::size_t>(terms), 0.0)));
  auto slots = [&](std::size_t r) { return design.regionLeading[r].size(); };
  auto regionOfCell = [&](const LevelCells& level, int c) {
    return level.leading[c].empty() ? 0 : design.leadingRegion[level.leading[c].front().first];
  };

  for (int q = 0; q < terms; ++q) {
    const int lq = q + 1;  // the level of term q; its parent level is q
    const LevelCells& levelQ = design.levels[lq];
    const LevelCells& levelP = design.levels[q];
    const LeadingSystem& hq = systems[lq];
    const LeadingSystem& hp = systems[q];
    std::vector<TermAggregates> aggregates(static_cast<std::size_t>(terms));
    for (int x = q; x < terms; ++x) {
      const int lx = x + 1;
      const LevelCells& levelX = design.levels[lx];
      const std::vector<int> toQ = Ancestors(design, lx, lq);
      const std::vector<int> toP = Ancestors(design, lx, q);
      TermAggregates& g = aggregates[x];
      g.sQ.assign(static_cast<std::size_t>(levelQ.count), 0.0);
      g.sP.assign(static_cast<std::size_t>(levelP.count), 0.0);
      g.vQ.resize(static_cast<std::size_t>(levelQ.count));
      g.wQ.resize(static_cast<std::size_t>(levelQ.count));
      g.vP.resize(static_cast<std::size_t>(levelP.count));
      g.wP.resize(static_cast<std::size_t>(levelP.count));
      g.aa.resize(regions);
      g.bb.resize(regions);
      g.ab.resize(regions);
      for (std::size_t r = 0; r < regions; ++r) {
        g.aa[r].assign(slots(r) * slots(r), 0.0);
        g.bb[r].assign(slots(r) * slots(r), 0.0);
        g.ab[r].assign(slots(r) * slots(r), 0.0);
      }
      for (int c = 0; c < levelQ.count; ++c) {
        const std::size_t m = slots(static_cast<std::size_t>(regionOfCell(levelQ, c)));
        g.vQ[c].assign(m, 0.0);
        g.wQ[c].assign(m, 0.0);
      }
      for (int c = 0; c < levelP.count; ++c) {
        const std::size_t m = slots(static_cast<std::size_t>(regionOfCell(levelP, c)));
        g.vP[c].assign(m, 0.0);
        g.wP[c].assign(m, 0.0);
      }
      double k = 0.0;
      for (int d = 0; d < levelX.count; ++d) {
        const int cq = toQ[d];
        const int cp = toP[d];
        const int r = regionOfCell(levelX, d);
        const std::size_t m = slots(static_cast<std::size_t>(r));
        const double nd = levelX.size[d];
        const double nq = levelQ.size[cq];
        const double np = levelP.size[cp];
        // a_d = L'(I - Pi_q) x_d, b_d = L'(I - Pi_{q-1}) x_d over the region's slots.
        Vector a(m, 0.0);
        Vector b(m, 0.0);
        for (const auto& [l, count] : levelX.leading[d]) {
          a[design.leadingSlot[l]] += count;
          b[design.leadingSlot[l]] += count;
        }
        for (const auto& [l, count] : levelQ.leading[cq])
          a[design.leadingSlot[l]] -= nd / nq * count;
        for (const auto& [l, count] : levelP.leading[cp])
          b[design.leadingSlot[l]] -= nd / np * count;
        const bool leadingQ = !hq.Trivial(r);
        const bool leadingP = !hp.Trivial(r);
        k += nd * nd / nq - nd * nd / np;
        if (leadingQ) k += Bilinear(a, hq.Inverse(r), a);
        if (leadingP) k -= Bilinear(b, hp.Inverse(r), b);

        g.sQ[cq] += nd * nd;
        g.sP[cp] += nd * nd;
        for (std::size_t i = 0; i < m; ++i) {
          g.vQ[cq][i] += nd * a[i];
          g.wQ[cq][i] += nd * b[i];
          g.vP[cp][i] += nd * a[i];
          g.wP[cp][i] += nd * b[i];
          for (std::size_t j = 0; j < m; ++j) {
            g.aa[r][i * m + j] += a[i] * a[j];
            g.bb[r][i * m + j] += b[i] * b[j];
            g.ab[r][i * m + j] += a[i] * b[j];
          }
        }
      }
      tables.k[q][x] = k;
    }

    // t(q; x, y) = sum over pairs of cells of (A_de + a_d'H_q a_e - b_d'H_p b_e)^2.
    for (int x = q; x < terms; ++x) {
      for (int y = q; y <= x; ++y) {
        const TermAggregates& gx = aggregates[x];
        const TermAggregates& gy = aggregates[y];
        double sum = 0.0;
        // The pairs' share of the partition part alone.
        for (int c = 0; c < levelQ.count; ++c) {
          const double nq = levelQ.size[c];
          const double np = levelP.size[levelQ.parent[c]];
          sum += gx.sQ[c] * gy.sQ[c] * (1.0 / (nq * nq) - 2.0 / (nq * np));
        }
        for (int c = 0; c < levelP.count; ++c) {
          const double np = levelP.size[c];
          sum += gx.sP[c] * gy.sP[c] / (np * np);
        }
        // Cross terms with the leading parts, and the leading parts alone.
        for (int c = 0; c < levelQ.count; ++c) {
          const int r = regionOfCell(levelQ, c);
          const double nq = levelQ.size[c];
          if (!hq.Trivial(r)) sum += 2.0 / nq * Bilinear(gx.vQ[c], hq.Inverse(r), gy.vQ[c]);
          if (!hp.Trivial(r)) sum -= 2.0 / nq * Bilinear(gx.wQ[c], hp.Inverse(r), gy.wQ[c]);
        }
        for (int c = 0; c < levelP.count; ++c) {
          const int r = regionOfCell(levelP, c);
          const double np = levelP.size[c];
          if (!hq.Trivial(r)) sum -= 2.0 / np * Bilinear(gx.vP[c], hq.Inverse(r), gy.vP[c]);
          if (!hp.Trivial(r)) sum += 2.0 / np * Bilinear(gx.wP[c], hp.Inverse(r), gy.wP[c]);
        }
        for (std::size_t r = 0; r < regions; ++r) {
          const std::size_t m = slots(r);
          const int region = static_cast<int>(r);
          if (!hq.Trivial(region))
            sum += TraceOfProducts(hq.Inverse(region), gx.aa[r], hq.Inverse(region), gy.aa[r], m);
          if (!hp.Trivial(region))
            sum += TraceOfProducts(hp.Inverse(region), gx.bb[r], hp.Inverse(region), gy.bb[r], m);
          if (!hq.Trivial(region) && !hp.Trivial(region))
            sum -= 2.0 *
                   TraceOfProducts(hq.Inverse(region), gy.ab[r], hp.Inverse(region), gx.ab[r], m);
        }
        tables.t[q][x][y] = tables.t[q][y][x] = sum;
      }
    }
  }
  return tables;
}

}  // namespace quorvel
