// The table of the three models: one ModelSpec per ModelKind says everything the program
// knows about a model, so that validation, the data echo, the coding, the fixed and random
// stages, the reports and the commands read one place instead of branching on the kind.
//
// A model is a linear model over the factor columns of the sheet. Its effects come in
// parameter order; each is a tuple of factor columns whose distinct code combinations
// ("cells") get one parameter each. The leading effects (the mean and the fixed nuisance
// effects) come first, each one's cells nested in the one before (its factor columns
// extend the earlier one's); the random effects follow from the top of the hierarchy
// down, each one's cells nested in its parent's cells and its factor columns starting
// with its parent's (so that the children of a parent are consecutive cells). The
// analysis relies on this structure: the design spans the finest leading cells and the
// lowest random term's cells, and every stage works on those partitions.
#pragma once

#include <span>
#include <vector>

#include "import/design_data.h"

namespace quorvel {

enum class EffectRole {
  Mean,   // u: one parameter, 1 in every row
  Fixed,  // a leading nuisance effect (blocks, repeats)
  Random  // a random term of the variance-component model
};

struct EffectSpec {
  const char* symbol;        // "u", "B", "R", "M", "F", "FR": parameter names are "M7", "F(7,2)"
  std::vector<int> factors;  // factor columns whose codes identify a cell, in name order
  EffectRole role;
};

// Restriction rows of one effect: for every element of the product of the lists named
// by `by` (each the distinct code tuples of a set of factor columns in the data, ascending;
// no list gives one row), one sum-to-zero row over the effect's cells whose codes match
// the element. A combination that does not occur gives an all-zero row, which stays.
struct RestrictionSpec {
  int effect;
  std::vector<std::vector<int>> by;
};

struct TestedFactorSpec {
  const char* label;  // the row label of the factor test in the report
  int effect;
};

// How the F test of a random term's component is formed.
enum class ComponentTest {
  AgainstResidual,  // the lowest term: its mean square over the residual's
  Exact,            // the term above the lowest: exact F after the variance-equalising
                    // transformation of the random rows
  Synthesized       // higher terms: approximate F over a synthesized denominator with
                    // Satterthwaite's degrees of freedom
};

struct RandomTermSpec {
  int effect;
  int parent;                    // the effect whose cells nest this term's (the mean or a
                                 // leading effect for the top term)
  const char* component;         // "Sigma_M"
  const char* correlationName;   // "male": the effect's name in the exports
  const char* correlationTitle;  // the title line of its genetic correlation matrix
  ComponentTest test;
};

struct ModelSpec {
  ModelKind kind = ModelKind::None;
  int menuNumber = 0;                         // the Model menu entry and the command line's --model
  const char* name = "";                      // "Nested"
  const char* menuText = "";                  // "&Model 3"
  std::vector<const char*> factorNames;       // header texts of the factor columns, in order
  const char* formula = "";                   // "yijk = u + Mi + Fij + eijk"
  const char* reportModelLine = "";           // the formula line under the report's title
  const char* echoFormula = "";               // the formula lines of the data echo
  std::vector<EffectSpec> effects;            // in parameter order
  std::vector<RestrictionSpec> restrictions;  // in row order
  std::vector<TestedFactorSpec> testedFactors;
  int maleEffect = 0;  // the effect compared by the t tables of male differences
  int maleFactor = 0;  // the factor column of the males, pooled over blocks, for Hm
  std::vector<RandomTermSpec> randomTerms;  // from the top of the hierarchy down

  int FactorCount() const { return static_cast<int>(factorNames.size()); }
  // Number of leading effects (the mean and the fixed ones), which precede the random terms.
  int LeadingEffectCount() const;
};

// The table of the models, in the order the sheet validation tries their layouts (the
// longest header first).
std::span<const ModelSpec> AllModelSpecs();

// The spec of a kind, or null for None.
const ModelSpec* FindModelSpec(ModelKind kind);
// The spec of a Model menu number (1, 2, 3), or null.
const ModelSpec* ModelSpecByNumber(int menuNumber);
// The spec of a kind, which must not be None.
const ModelSpec& SpecOf(ModelKind kind);

}  // namespace quorvel
