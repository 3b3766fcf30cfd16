// The analysis of one data set: the stages in order, gathered into the result value.
#include "analysis/analyze_design.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "analysis/fixed_model.h"
#include "analysis/intervals.h"
#include "analysis/model_coding.h"
#include "analysis/random_model.h"

namespace quorvel {
namespace {

// Announces the next stage; a raised stop flag ends the analysis here.
void Progress(const AnalysisOptions& options, std::string_view stage) {
  options.stop.ThrowIfStopped();
  if (options.progress) options.progress(stage);
}

// The random-model numbers of trait i.
RandomTraitResult RandomTrait(const RandomModel& model, int i) {
  static const char* const kNames[] = {"Sigma_M", "Sigma_F", "Sigma_FR"};
  const std::size_t ii = static_cast<std::size_t>(i) * model.traits + i;
  const int e = model.randomTerms;
  RandomTraitResult random;
  for (int x = 0; x < e; ++x) {
    ComponentEstimate c;
    c.parameter = kNames[x];
    c.estimate = model.component[x][ii];
    c.stdError = std::sqrt(model.componentVar[x][ii]);
    c.tested = true;
    c.f = model.testF[i][x];
    c.p = model.testP[i][x];
    random.components.push_back(c);
  }
  ComponentEstimate residual;
  residual.parameter = "Sigma_E";
  residual.estimate = model.component[e][ii];
  residual.stdError = std::sqrt(model.componentVarE[i]);
  random.components.push_back(residual);
  random.heritabilities.push_back({"Hi", model.hi[i], model.hiError[i], {}});
  random.heritabilities.push_back({"Hm", model.hm[i], model.hmError[i], {}});
  return random;
}

}  // namespace

int ModelNumber(ModelKind kind) { return static_cast<int>(kind); }

const char* ModelName(ModelKind kind) {
  switch (kind) {
    case ModelKind::BlockedRepeat:
      return "BlockedRepeat";
    case ModelKind::Blocked:
      return "Blocked";
    case ModelKind::Nested:
      return "Nested";
    case ModelKind::None:
      break;
  }
  return "None";
}

const char* ModelFormula(ModelKind kind) {
  switch (kind) {
    case ModelKind::BlockedRepeat:
      return "yijklt = u + Bi + Ril + Mij + Fijk + (FR)ijkl + eijklt";
    case ModelKind::Blocked:
      return "yijkl = u + Bi + Mj + Fjk + eijkl";
    case ModelKind::Nested:
      return "yijk = u + Mi + Fij + eijk";
    case ModelKind::None:
      break;
  }
  return "";
}

AnalysisResult AnalyzeDesign(const DesignData& data, const AnalysisOptions& options) {
  AnalysisResult result;
  result.kind = data.kind;
  result.observationCount = data.observationCount;
  for (int f = 0; f < data.factorCount; ++f) {
    const auto& codes = data.levelCodes[f];
    const std::size_t count = std::min(codes.size(), static_cast<std::size_t>(data.levelCounts[f]));
    result.factors.push_back(
        {data.factorNames[f], {codes.begin(), codes.begin() + static_cast<std::ptrdiff_t>(count)}});
  }

  Progress(options, "coding");
  const ModelCoding coding = BuildModelCoding(data);
  const DesignCells cells = BuildDesignCells(coding);
  result.parameterNames = coding.parameterNames;
  const EffectBlock& male = MaleBlock(coding);
  result.maleStart = male.start;
  result.maleCount = male.count;
  result.traits.resize(static_cast<std::size_t>(data.traitCount));
  for (int t = 0; t < data.traitCount; ++t) {
    // The sheet's header names the traits Trait1, Trait2, ... in order.
    result.traits[t].name = "Trait" + std::to_string(t + 1);
  }

  Progress(options, "fixed model");
  int modelRank = 0;
  {
    const FixedModel fixed(coding, cells, options.diagnostics);
    modelRank = fixed.ModelRank();
    for (int t = 0; t < data.traitCount; ++t)
      result.traits[t].fixed = fixed.Fit(data.traitValues[t]);
  }

  Progress(options, "random model");
  const RandomModel random = EstimateComponents(coding, cells, data, modelRank);
  for (int t = 0; t < data.traitCount; ++t) result.traits[t].random = RandomTrait(random, t);
  Progress(options, "genetic correlations");
  result.correlations = GeneticCorrelations(random);
  AddConfidenceIntervals(result, options.confidenceLevel);
  options.stop.ThrowIfStopped();
  return result;
}

}  // namespace quorvel
