// The structure of a design for the random-model stage.
#include "analysis/random_design.h"

#include <algorithm>
#include <map>

namespace quorvel {

RandomDesign BuildRandomDesign(const ModelCoding& coding, const DesignCells& cells) {
  const ModelSpec& spec = *coding.spec;
  RandomDesign design;
  design.observations = coding.observationCount;
  design.terms = static_cast<int>(spec.randomTerms.size());
  design.atoms = static_cast<int>(cells.counts.size());
  const int atoms = design.atoms;
  const int leadingEffect = spec.LeadingEffectCount() - 1;

  auto cellOfAtom = [&](int effect, int atom) {
    return cells.columns[atom][effect] - coding.Block(effect).start;
  };

  design.atomSize.resize(static_cast<std::size_t>(atoms));
  design.atomLeading.resize(static_cast<std::size_t>(atoms));
  for (int a = 0; a < atoms; ++a) {
    design.atomSize[a] = cells.counts[a];
    design.atomLeading[a] = cellOfAtom(leadingEffect, a);
  }
  design.leadingCount = coding.Block(leadingEffect).count;
  design.leadingSize.assign(static_cast<std::size_t>(design.leadingCount), 0.0);
  for (int a = 0; a < atoms; ++a) design.leadingSize[design.atomLeading[a]] += design.atomSize[a];

  // Levels: the top term's parent, then the random terms from the top.
  std::vector<int> effects = {spec.randomTerms.front().parent};
  for (const RandomTermSpec& term : spec.randomTerms) effects.push_back(term.effect);
  design.atomCell.assign(effects.size(), std::vector<int>(static_cast<std::size_t>(atoms)));
  for (std::size_t q = 0; q < effects.size(); ++q) {
    LevelCells level;
    level.effect = effects[q];
    level.count = coding.Block(effects[q]).count;
    level.size.assign(static_cast<std::size_t>(level.count), 0.0);
    level.leading.resize(static_cast<std::size_t>(level.count));
    std::vector<std::map<int, double>> composition(static_cast<std::size_t>(level.count));
    if (q > 0) level.parent.assign(static_cast<std::size_t>(level.count), 0);
    for (int a = 0; a < atoms; ++a) {
      const int c = cellOfAtom(effects[q], a);
      design.atomCell[q][a] = c;
      level.size[c] += design.atomSize[a];
      composition[c][design.atomLeading[a]] += design.atomSize[a];
      if (q > 0) level.parent[c] = design.atomCell[q - 1][a];
    }
    for (int c = 0; c < level.count; ++c) {
      level.leading[c].assign(composition[c].begin(), composition[c].end());
    }
    if (q > 0) {
      // A term's cells are ordered by their codes, which start with their parent's: the
      // children of a parent are consecutive.
      const LevelCells& above = design.levels[q - 1];
      level.firstOfParent.assign(static_cast<std::size_t>(above.count), level.count);
      level.endOfParent.assign(static_cast<std::size_t>(above.count), 0);
      for (int c = 0; c < level.count; ++c) {
        const int p = level.parent[c];
        level.firstOfParent[p] = std::min(level.firstOfParent[p], c);
        level.endOfParent[p] = std::max(level.endOfParent[p], c + 1);
      }
    }
    design.levels.push_back(std::move(level));
  }

  // Regions: the level-0 cells, each holding the leading cells of its atoms.
  const int regions = design.levels[0].count;
  design.leadingRegion.assign(static_cast<std::size_t>(design.leadingCount), 0);
  for (int a = 0; a < atoms; ++a)
    design.leadingRegion[design.atomLeading[a]] = design.atomCell[0][a];
  design.regionLeading.assign(static_cast<std::size_t>(regions), {});
  design.leadingSlot.assign(static_cast<std::size_t>(design.leadingCount), 0);
  for (int l = 0; l < design.leadingCount; ++l) {
    std::vector<int>& members = design.regionLeading[design.leadingRegion[l]];
    design.leadingSlot[l] = static_cast<int>(members.size());
    members.push_back(l);
  }
  // Leading columns: every cell of every leading effect, as the leading cells inside it.
  for (int e = 0; e <= leadingEffect; ++e) {
    const int first = static_cast<int>(design.leadingColumns.size());
    design.leadingColumns.resize(design.leadingColumns.size() + coding.Block(e).count);
    std::vector<int> cellOfLeading(static_cast<std::size_t>(design.leadingCount), 0);
    for (int a = 0; a < atoms; ++a) cellOfLeading[design.atomLeading[a]] = cellOfAtom(e, a);
    for (int l = 0; l < design.leadingCount; ++l)
      design.leadingColumns[first + cellOfLeading[l]].push_back(l);
  }
  return design;
}

}  // namespace quorvel
