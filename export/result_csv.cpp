// The result as one tidy table: a row per number.
#include "export/csv_text.h"
#include "export/result_export.h"

namespace quorvel {
namespace {

class CsvTable {
 public:
  explicit CsvTable(std::string& out) : out_(out) { out_ += "trait,table,row,column,value\r\n"; }

  // One number; empty when it is not finite. The shortest text that reads back as the
  // same double.
  void Add(const std::string& trait, const char* table, const std::string& row, const char* column,
           double value) {
    Begin(trait, table, row, column);
    AppendCsvNumber(out_, value);
    out_ += "\r\n";
  }
  void Add(const std::string& trait, const char* table, const std::string& row, const char* column,
           int value) {
    Begin(trait, table, row, column);
    out_ += std::to_string(value);
    out_ += "\r\n";
  }

 private:
  void Begin(const std::string& trait, const char* table, const std::string& row,
             const char* column) {
    AppendCsvField(out_, trait);
    out_ += ',';
    out_ += table;
    out_ += ',';
    AppendCsvField(out_, row);
    out_ += ',';
    out_ += column;
    out_ += ',';
  }
  std::string& out_;
};

}  // namespace

std::string FormatResultCsv(const AnalysisResult& result) {
  std::string out;
  CsvTable table(out);
  for (const TraitResult& trait : result.traits) {
    const std::string& name = trait.name;
    const FixedTraitResult& f = trait.fixed;
    table.Add(name, "model", "Model", "DF", f.modelDF);
    table.Add(name, "model", "Model", "SS", f.modelSS);
    table.Add(name, "model", "Model", "MS", f.modelMS);
    table.Add(name, "model", "Model", "F", f.modelF);
    table.Add(name, "model", "Model", "P", f.modelP);
    table.Add(name, "model", "Error", "DF", f.errorDF);
    table.Add(name, "model", "Error", "SS", f.errorSS);
    table.Add(name, "model", "Error", "MS", f.errorMS);
    table.Add(name, "model", "Total", "DF", f.totalDF);
    table.Add(name, "model", "Total", "SS", f.totalSS);
    for (const FactorTest& t : f.factors) {
      table.Add(name, "factors", t.label, "DF", t.df);
      table.Add(name, "factors", t.label, "SS", t.ss);
      table.Add(name, "factors", t.label, "MS", t.ms);
      table.Add(name, "factors", t.label, "F", t.f);
      table.Add(name, "factors", t.label, "P", t.p);
    }
    for (std::size_t k = 0; k < f.estimates.size(); ++k) {
      const ParameterEstimate& e = f.estimates[k];
      const std::string& parameter = result.parameterNames[k];
      table.Add(name, "estimates", parameter, "Estimate", e.estimate);
      table.Add(name, "estimates", parameter, "SE", e.stdError);
      table.Add(name, "estimates", parameter, "T", e.t);
      table.Add(name, "estimates", parameter, "P", e.p);
      table.Add(name, "estimates", parameter, "Lower", e.ci.lower);
      table.Add(name, "estimates", parameter, "Upper", e.ci.upper);
    }
    for (int i = 1; i < result.maleCount; ++i) {
      for (int j = 0; j < i; ++j) {
        const std::size_t pair = MalePairIndex(i, j);
        const std::string row = result.MaleName(i) + " vs " + result.MaleName(j);
        table.Add(name, "male_differences", row, "T", f.maleT[pair]);
        table.Add(name, "male_differences", row, "P", f.maleP[pair]);
      }
    }
    for (const ComponentEstimate& c : trait.random.components) {
      table.Add(name, "components", c.parameter, "Estimate", c.estimate);
      table.Add(name, "components", c.parameter, "SE", c.stdError);
      if (c.tested) {
        table.Add(name, "components", c.parameter, "F", c.f);
        table.Add(name, "components", c.parameter, "P", c.p);
      }
      table.Add(name, "components", c.parameter, "Lower", c.ci.lower);
      table.Add(name, "components", c.parameter, "Upper", c.ci.upper);
    }
    for (const HeritabilityEstimate& h : trait.random.heritabilities) {
      table.Add(name, "heritabilities", h.parameter, "Estimate", h.estimate);
      table.Add(name, "heritabilities", h.parameter, "SE", h.stdError);
      table.Add(name, "heritabilities", h.parameter, "Lower", h.ci.lower);
      table.Add(name, "heritabilities", h.parameter, "Upper", h.ci.upper);
    }
  }
  // Correlations: each pair once, under the first trait of the pair.
  for (const CorrelationMatrix& matrix : result.correlations) {
    const std::string tableName = "correlations_" + matrix.effect;
    for (int i = 0; i < matrix.traits; ++i) {
      for (int j = i + 1; j < matrix.traits; ++j) {
        table.Add(result.traits[i].name, tableName.c_str(), result.traits[j].name, "R",
                  matrix.R(i, j));
        table.Add(result.traits[i].name, tableName.c_str(), result.traits[j].name, "SE",
                  matrix.SE(i, j));
      }
    }
  }
  return out;
}

}  // namespace quorvel
