// The table of the three models.
#include "import/model_spec.h"

#include <array>

namespace quorvel {
namespace {

constexpr const char* kMaleTitle =
    "   Genetic correlation matrix of male effects with std. in brackets\r\n";
constexpr const char* kFemaleTitle =
    "   Genetic correlation matrix of female effects with std. in brackets\r\n";
constexpr const char* kRepeatFemaleTitle =
    "   Genetic correlation matrix of repeat x female effects with std. in brackets\r\n";

// Factor columns of the layouts with blocks.
enum BlockedColumn { kBlock = 0, kBlockedMale = 1, kBlockedFemale = 2, kRepeat = 3 };
// Factor columns of the nested layout.
enum NestedColumn { kMale = 0, kFemale = 1 };

// Effects in parameter order. Blocked with repeats: u B R M F FR; males, females and their
// repeats are nested in blocks, repeats cross the males of their block.
ModelSpec BlockedRepeatSpec() {
  ModelSpec spec;
  spec.kind = ModelKind::BlockedRepeat;
  spec.menuNumber = 1;
  spec.name = "BlockedRepeat";
  spec.menuText = "&Model 1";
  spec.factorNames = {"Block", "Male", "Female", "Repeat"};
  spec.formula = "yijklt = u + Bi + Ril + Mij + Fijk + (FR)ijkl + eijklt";
  spec.reportModelLine =
      "                 yijklt = u + Bi + Ril + Mij + Fijk + (FR)ijkl + eijklt\r\n\r\n\r\n";
  spec.echoFormula = "\r\n   yijklm = u + Bi + Ril + Mij + Fijk + (FR)ijkl + eijklm. \r\n\r\n";
  spec.effects = {
      {"u", {}, EffectRole::Mean},
      {"B", {kBlock}, EffectRole::Fixed},
      {"R", {kBlock, kRepeat}, EffectRole::Fixed},
      {"M", {kBlock, kBlockedMale}, EffectRole::Random},
      {"F", {kBlock, kBlockedMale, kBlockedFemale}, EffectRole::Random},
      {"FR", {kBlock, kBlockedMale, kBlockedFemale, kRepeat}, EffectRole::Random},
  };
  spec.restrictions = {
      {1, {}},
      {2, {{kBlock}}},
      {3, {{kBlock}}},
      {4, {{kBlock, kBlockedMale}}},
      {5, {{kBlock}, {kBlockedMale, kBlockedFemale}}},
      {5, {{kBlock}, {kRepeat}}},
  };
  spec.testedFactors = {
      {"Block", 1}, {"Repeat", 2}, {"Male", 3}, {"Female", 4}, {"Repeat*Female", 5}};
  spec.maleEffect = 3;
  spec.maleFactor = kBlockedMale;
  spec.randomTerms = {
      {3, 1, "Sigma_M", "male", kMaleTitle, ComponentTest::Synthesized},
      {4, 3, "Sigma_F", "female", kFemaleTitle, ComponentTest::Exact},
      {5, 4, "Sigma_FR", "female_by_repeat", kRepeatFemaleTitle, ComponentTest::AgainstResidual},
  };
  return spec;
}

// Blocked: u B M F; a male code that occurs in two blocks is one male, and a female is a
// (male, female) pair over the whole data.
ModelSpec BlockedSpec() {
  ModelSpec spec;
  spec.kind = ModelKind::Blocked;
  spec.menuNumber = 2;
  spec.name = "Blocked";
  spec.menuText = "&Model 2";
  spec.factorNames = {"Block", "Male", "Female"};
  spec.formula = "yijkl = u + Bi + Mj + Fjk + eijkl";
  spec.reportModelLine = "                          yijkl = u + Bi + Mj + Fjk + eijkl\r\n\r\n\r\n";
  spec.echoFormula = "\r\n   yijkl = u + Bi + Mj + Fjk + eijkl. \r\n\r\n";
  spec.effects = {
      {"u", {}, EffectRole::Mean},
      {"B", {kBlock}, EffectRole::Fixed},
      {"M", {kBlockedMale}, EffectRole::Random},
      {"F", {kBlockedMale, kBlockedFemale}, EffectRole::Random},
  };
  spec.restrictions = {{1, {}}, {2, {}}, {3, {{kBlockedMale}}}};
  spec.testedFactors = {{"Block", 1}, {"Male", 2}, {"Female", 3}};
  spec.maleEffect = 2;
  spec.maleFactor = kBlockedMale;
  spec.randomTerms = {
      {2, 0, "Sigma_M", "male", kMaleTitle, ComponentTest::Exact},
      {3, 2, "Sigma_F", "female", kFemaleTitle, ComponentTest::AgainstResidual},
  };
  return spec;
}

// Nested: u M F.
ModelSpec NestedSpec() {
  ModelSpec spec;
  spec.kind = ModelKind::Nested;
  spec.menuNumber = 3;
  spec.name = "Nested";
  spec.menuText = "&Model 3";
  spec.factorNames = {"Male", "Female"};
  spec.formula = "yijk = u + Mi + Fij + eijk";
  spec.reportModelLine = "                          yijk = u + Mi + Fij + eijk\r\n\r\n\r\n";
  spec.echoFormula = "\r\n   yijk = u + Mi + Fij + eijk. \r\n\r\n";
  spec.effects = {
      {"u", {}, EffectRole::Mean},
      {"M", {kMale}, EffectRole::Random},
      {"F", {kMale, kFemale}, EffectRole::Random},
  };
  spec.restrictions = {{1, {}}, {2, {{kMale}}}};
  spec.testedFactors = {{"Male", 1}, {"Female", 2}};
  spec.maleEffect = 1;
  spec.maleFactor = kMale;
  spec.randomTerms = {
      {1, 0, "Sigma_M", "male", kMaleTitle, ComponentTest::Exact},
      {2, 1, "Sigma_F", "female", kFemaleTitle, ComponentTest::AgainstResidual},
  };
  return spec;
}

const std::array<ModelSpec, 3>& Table() {
  static const std::array<ModelSpec, 3> table = {BlockedRepeatSpec(), BlockedSpec(), NestedSpec()};
  return table;
}

}  // namespace

int ModelSpec::LeadingEffectCount() const {
  int count = 0;
  for (const EffectSpec& effect : effects) {
    if (effect.role != EffectRole::Random) ++count;
  }
  return count;
}

std::span<const ModelSpec> AllModelSpecs() { return Table(); }

const ModelSpec* FindModelSpec(ModelKind kind) {
  for (const ModelSpec& spec : Table()) {
    if (spec.kind == kind) return &spec;
  }
  return nullptr;
}

const ModelSpec* ModelSpecByNumber(int menuNumber) {
  for (const ModelSpec& spec : Table()) {
    if (spec.menuNumber == menuNumber) return &spec;
  }
  return nullptr;
}

const ModelSpec& SpecOf(ModelKind kind) { return *FindModelSpec(kind); }

}  // namespace quorvel
