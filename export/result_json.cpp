// The result as JSON. nlohmann::json formats every value (shortest round-trip numbers,
// escaped strings, null for what is not finite); the document around the values is
// written as it goes, so that the male-difference table of thousands of males never
// stands in memory as a tree of objects. Each small object is one line.
#include <nlohmann/json.hpp>

#include "export/result_export.h"

namespace quorvel {
namespace {

using Json = nlohmann::ordered_json;

// Writes the elements of an array, one per line at the given indentation.
class ArrayWriter {
 public:
  ArrayWriter(std::string& out, const char* indent) : out_(out), indent_(indent) { out_ += "["; }
  void Add(const Json& value) {
    out_ += first_ ? "\n" : ",\n";
    out_ += indent_;
    out_ += value.dump();
    first_ = false;
  }
  void Close(const char* closingIndent) {
    if (!first_) {
      out_ += "\n";
      out_ += closingIndent;
    }
    out_ += "]";
  }

 private:
  std::string& out_;
  const char* indent_;
  bool first_ = true;
};

// {"lower":..,"upper":..,"level":..,"method":".."}; an undefined interval has null bounds.
Json IntervalJson(const Interval& ci) {
  return Json{{"lower", ci.lower}, {"upper", ci.upper}, {"level", ci.level}, {"method", ci.method}};
}

void AppendFixed(std::string& out, const AnalysisResult& result, const FixedTraitResult& fixed) {
  out += "      \"fixed\": {\n";
  out += "        \"model\": " +
         Json{{"df", fixed.modelDF},
              {"ss", fixed.modelSS},
              {"ms", fixed.modelMS},
              {"f", fixed.modelF},
              {"p", fixed.modelP}}
             .dump() +
         ",\n";
  out += "        \"error\": " +
         Json{{"df", fixed.errorDF}, {"ss", fixed.errorSS}, {"ms", fixed.errorMS}}.dump() + ",\n";
  out += "        \"total\": " + Json{{"df", fixed.totalDF}, {"ss", fixed.totalSS}}.dump() + ",\n";

  out += "        \"factors\": ";
  ArrayWriter factors(out, "          ");
  for (const FactorTest& t : fixed.factors) {
    factors.Add(Json{
        {"source", t.label}, {"df", t.df}, {"ss", t.ss}, {"ms", t.ms}, {"f", t.f}, {"p", t.p}});
  }
  factors.Close("        ");
  out += ",\n";

  out += "        \"estimates\": ";
  ArrayWriter estimates(out, "          ");
  for (std::size_t k = 0; k < fixed.estimates.size(); ++k) {
    const ParameterEstimate& e = fixed.estimates[k];
    estimates.Add(Json{{"parameter", result.parameterNames[k]},
                       {"estimate", e.estimate},
                       {"se", e.stdError},
                       {"t", e.t},
                       {"p", e.p},
                       {"ci", IntervalJson(e.ci)}});
  }
  estimates.Close("        ");
  out += ",\n";

  out += "        \"male_differences\": ";
  ArrayWriter differences(out, "          ");
  for (int i = 1; i < result.maleCount; ++i) {
    for (int j = 0; j < i; ++j) {
      const std::size_t pair = MalePairIndex(i, j);
      differences.Add(Json{{"male", result.MaleName(i)},
                           {"versus", result.MaleName(j)},
                           {"t", fixed.maleT[pair]},
                           {"p", fixed.maleP[pair]}});
    }
  }
  differences.Close("        ");
  out += "\n      }";
}

void AppendRandom(std::string& out, const RandomTraitResult& random) {
  out += "      \"random\": {\n        \"components\": ";
  ArrayWriter components(out, "          ");
  for (const ComponentEstimate& c : random.components) {
    Json value{{"parameter", c.parameter}, {"estimate", c.estimate}, {"se", c.stdError}};
    if (c.tested) {
      value["f"] = c.f;
      value["p"] = c.p;
    }
    value["ci"] = IntervalJson(c.ci);
    components.Add(value);
  }
  components.Close("        ");
  out += ",\n        \"heritabilities\": ";
  ArrayWriter heritabilities(out, "          ");
  for (const HeritabilityEstimate& h : random.heritabilities) {
    heritabilities.Add(Json{{"parameter", h.parameter},
                            {"estimate", h.estimate},
                            {"se", h.stdError},
                            {"ci", IntervalJson(h.ci)}});
  }
  heritabilities.Close("        ");
  out += "\n      }";
}

}  // namespace

std::string FormatResultJson(const AnalysisResult& result, const ExportContext& context) {
  std::string out = "{\n";
  out += "  \"program\": \"Quorvel\",\n";
  out += "  \"version\": " + Json(context.version).dump() + ",\n";
  out += "  \"source\": " + Json(context.source).dump() + ",\n";
  out += "  \"model\": " +
         Json{{"number", ModelNumber(result.kind)},
              {"name", ModelName(result.kind)},
              {"formula", ModelFormula(result.kind)}}
             .dump() +
         ",\n";
  out += "  \"observations\": " + Json(result.observationCount).dump() + ",\n";

  out += "  \"factors\": ";
  ArrayWriter factors(out, "    ");
  for (const FactorLevels& factor : result.factors)
    factors.Add(Json{{"name", factor.name}, {"levels", factor.levels}});
  factors.Close("  ");
  out += ",\n";

  out += "  \"traits\": [";
  for (std::size_t t = 0; t < result.traits.size(); ++t) {
    const TraitResult& trait = result.traits[t];
    out += t == 0 ? "\n" : ",\n";
    out += "    {\n      \"name\": " + Json(trait.name).dump() + ",\n";
    AppendFixed(out, result, trait.fixed);
    out += ",\n";
    AppendRandom(out, trait.random);
    out += "\n    }";
  }
  out += result.traits.empty() ? "],\n" : "\n  ],\n";

  out += "  \"correlations\": ";
  ArrayWriter correlations(out, "    ");
  for (const CorrelationMatrix& matrix : result.correlations) {
    for (int i = 0; i < matrix.traits; ++i) {
      for (int j = i + 1; j < matrix.traits; ++j) {
        correlations.Add(Json{{"effect", matrix.effect},
                              {"trait", result.traits[i].name},
                              {"with", result.traits[j].name},
                              {"r", matrix.R(i, j)},
                              {"se", matrix.SE(i, j)}});
      }
    }
  }
  correlations.Close("  ");
  out += "\n}\n";
  return out;
}

}  // namespace quorvel
