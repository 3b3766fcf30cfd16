// Test support: flat dumps of analysis results.
#include "tests/support/result_dump.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <sstream>

#include "analysis/canonical_order.h"

namespace quorvel::testing {
namespace {

std::string Family(const std::string& name) { return name.substr(0, name.rfind('.')); }

std::string Shortest(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

}  // namespace

std::vector<NamedValue> FlattenResult(const AnalysisResult& result, int stride) {
  std::vector<NamedValue> out;
  auto add = [&](const std::string& name, double value) { out.push_back({name, value}); };
  for (std::size_t t = 0; t < result.traits.size(); ++t) {
    const std::string trait = "t" + std::to_string(t + 1) + ".";
    const FixedTraitResult& fixed = result.traits[t].fixed;
    const std::string model = trait + "fixed.model.";
    add(model + "df", fixed.modelDF);
    add(model + "errorDF", fixed.errorDF);
    add(model + "ss", fixed.modelSS);
    add(model + "ms", fixed.modelMS);
    add(model + "f", fixed.modelF);
    add(model + "p", fixed.modelP);
    add(model + "errorSS", fixed.errorSS);
    add(model + "errorMS", fixed.errorMS);
    add(model + "totalSS", fixed.totalSS);
    for (const FactorTest& test : fixed.factors) {
      const std::string name = trait + "fixed.factor." + test.label + ".";
      add(name + "df", test.df);
      add(name + "ss", test.ss);
      add(name + "ms", test.ms);
      add(name + "f", test.f);
      add(name + "p", test.p);
    }
    for (std::size_t k = 0; k < fixed.estimates.size(); k += static_cast<std::size_t>(stride)) {
      const ParameterEstimate& e = fixed.estimates[k];
      const std::string name = trait + "fixed.estimate." + result.parameterNames[k] + ".";
      add(name + "estimate", e.estimate);
      add(name + "stdError", e.stdError);
      add(name + "t", e.t);
      add(name + "p", e.p);
    }
    for (std::size_t k = 0; k < fixed.maleT.size(); k += static_cast<std::size_t>(stride)) {
      const std::string name = trait + "fixed.male." + std::to_string(k) + ".";
      add(name + "t", fixed.maleT[k]);
      add(name + "p", fixed.maleP[k]);
      add(name + "class", static_cast<double>(fixed.maleSignificance[k]));
    }
    for (const ComponentEstimate& c : result.traits[t].random.components) {
      const std::string name = trait + "random." + c.parameter + ".";
      add(name + "estimate", c.estimate);
      add(name + "stdError", c.stdError);
      add(name + "f", c.f);
      add(name + "p", c.p);
    }
    for (const HeritabilityEstimate& h : result.traits[t].random.heritabilities) {
      const std::string name = trait + "random." + h.parameter + ".";
      add(name + "estimate", h.estimate);
      add(name + "stdError", h.stdError);
    }
  }
  for (const CorrelationMatrix& m : result.correlations) {
    for (int i = 0; i < m.traits; ++i) {
      for (int j = 0; j < m.traits; ++j) {
        if (i == j) continue;
        const std::string name =
            "correlation." + m.effect + "." + std::to_string(i + 1) + "x" + std::to_string(j + 1);
        add(name + ".r", m.R(i, j));
        add(name + ".se", m.SE(i, j));
      }
    }
  }
  return out;
}

std::string FormatDump(const std::vector<NamedValue>& values) {
  std::string text;
  for (const NamedValue& v : values) text += v.name + " " + Shortest(v.value) + "\n";
  return text;
}

std::vector<NamedValue> ParseDump(const std::string& text) {
  std::vector<NamedValue> out;
  std::istringstream in(text);
  std::string name;
  std::string value;
  while (in >> name >> value) out.push_back({name, std::strtod(value.c_str(), nullptr)});
  return out;
}

std::vector<std::string> CompareDumps(const std::vector<NamedValue>& actual,
                                      const std::vector<NamedValue>& expected, double relative,
                                      double floorShare) {
  std::vector<std::string> differences;
  if (actual.size() != expected.size()) {
    differences.push_back("sizes differ: " + std::to_string(actual.size()) + " vs " +
                          std::to_string(expected.size()));
    return differences;
  }
  std::map<std::string, double> scale;
  for (const NamedValue& v : expected) {
    double& s = scale[Family(v.name)];
    if (std::isfinite(v.value)) s = std::max(s, std::fabs(v.value));
  }
  for (std::size_t k = 0; k < actual.size(); ++k) {
    const NamedValue& a = actual[k];
    const NamedValue& e = expected[k];
    if (a.name != e.name) {
      differences.push_back("name " + a.name + " vs " + e.name);
      continue;
    }
    bool agree = false;
    if (std::isnan(a.value) || std::isnan(e.value)) {
      agree = std::isnan(a.value) && std::isnan(e.value);
    } else if (std::isinf(a.value) || std::isinf(e.value)) {
      agree = a.value == e.value;
    } else {
      const double floor = floorShare * scale[Family(e.name)];
      agree = std::fabs(a.value - e.value) <=
              relative * std::max(std::fabs(a.value), std::fabs(e.value)) + floor;
    }
    if (!agree)
      differences.push_back(e.name + ": " + Shortest(a.value) + " vs " + Shortest(e.value));
  }
  return differences;
}

DesignData CanonicallySorted(const DesignData& data) { return InCanonicalOrder(data); }

}  // namespace quorvel::testing
