// The result as an .xlsx workbook, written by libxlsxwriter: a sheet per table kind,
// replaced whole like every other output.
#include <cmath>
#include <string>

#include "export/result_export.h"
#include "export/xlsx_book.h"

namespace quorvel {
namespace {

void WriteSheets(lxw_workbook* book, const XlsxFormats& formats, const AnalysisResult& result,
                 const ExportContext& context) {
  {
    SheetWriter about(book, "Analysis", {"Item", "Value"}, {formats.bold, nullptr});
    auto line = [&](const char* item, const std::string& value) {
      about.Text(item);
      about.Text(value);
      about.EndRow();
    };
    line("Program", "Quorvel " + context.version);
    line("Source", context.source);
    line("Model", std::to_string(ModelNumber(result.kind)) + " (" + ModelName(result.kind) + ")");
    line("Formula", ModelFormula(result.kind));
    about.Text("Observations");
    about.Integer(result.observationCount);
    about.EndRow();
    // The level of the Lower and Upper columns of the other sheets.
    about.Text("Confidence level");
    about.Number(result.confidenceLevel);
    about.EndRow();
    for (const FactorLevels& factor : result.factors) {
      about.Text(factor.name + " levels");
      about.Integer(static_cast<int>(factor.levels.size()));
      about.EndRow();
    }
  }

  SheetWriter models(book, "Model tests", {"Trait", "Source", "DF", "SS", "MS", "F", "P"}, formats);
  for (const TraitResult& trait : result.traits) {
    const FixedTraitResult& f = trait.fixed;
    auto line = [&](const char* source, int df, double ss, double ms, double fValue, double p) {
      models.Text(trait.name);
      models.Text(source);
      models.Integer(df);
      models.Number(ss);
      models.Number(ms);
      models.Number(fValue);
      models.Number(p);
      models.EndRow();
    };
    const double none = std::nan("");
    line("Model", f.modelDF, f.modelSS, f.modelMS, f.modelF, f.modelP);
    line("Error", f.errorDF, f.errorSS, f.errorMS, none, none);
    line("Total", f.totalDF, f.totalSS, none, none, none);
  }

  SheetWriter factors(book, "Factor tests", {"Trait", "Source", "DF", "SS", "MS", "F", "P"},
                      formats);
  for (const TraitResult& trait : result.traits) {
    for (const FactorTest& t : trait.fixed.factors) {
      factors.Text(trait.name);
      factors.Text(t.label);
      factors.Integer(t.df);
      factors.Number(t.ss);
      factors.Number(t.ms);
      factors.Number(t.f);
      factors.Number(t.p);
      factors.EndRow();
    }
  }

  SheetWriter estimates(book, "Estimates",
                        {"Trait", "Parameter", "Estimate", "SE", "T", "P", "Lower", "Upper"},
                        formats);
  for (const TraitResult& trait : result.traits) {
    for (std::size_t k = 0; k < trait.fixed.estimates.size(); ++k) {
      const ParameterEstimate& e = trait.fixed.estimates[k];
      estimates.Text(trait.name);
      estimates.Text(result.parameterNames[k]);
      estimates.Number(e.estimate);
      estimates.Number(e.stdError);
      estimates.Number(e.t);
      estimates.Number(e.p);
      estimates.Number(e.ci.lower);
      estimates.Number(e.ci.upper);
      estimates.EndRow();
    }
  }

  SheetWriter differences(book, "Male differences", {"Trait", "Male", "Versus", "T", "P"}, formats);
  for (const TraitResult& trait : result.traits) {
    for (int i = 1; i < result.maleCount; ++i) {
      for (int j = 0; j < i; ++j) {
        const std::size_t pair = MalePairIndex(i, j);
        differences.Text(trait.name);
        differences.Text(result.MaleName(i));
        differences.Text(result.MaleName(j));
        differences.Number(trait.fixed.maleT[pair]);
        differences.Number(trait.fixed.maleP[pair]);
        differences.EndRow();
      }
    }
  }

  SheetWriter components(book, "Components",
                         {"Trait", "Parameter", "Estimate", "SE", "F", "P", "Lower", "Upper"},
                         formats);
  for (const TraitResult& trait : result.traits) {
    for (const ComponentEstimate& c : trait.random.components) {
      components.Text(trait.name);
      components.Text(c.parameter);
      components.Number(c.estimate);
      components.Number(c.stdError);
      components.Number(c.tested ? c.f : std::nan(""));
      components.Number(c.tested ? c.p : std::nan(""));
      components.Number(c.ci.lower);
      components.Number(c.ci.upper);
      components.EndRow();
    }
  }

  SheetWriter heritabilities(book, "Heritabilities",
                             {"Trait", "Parameter", "Estimate", "SE", "Lower", "Upper"}, formats);
  for (const TraitResult& trait : result.traits) {
    for (const HeritabilityEstimate& h : trait.random.heritabilities) {
      heritabilities.Text(trait.name);
      heritabilities.Text(h.parameter);
      heritabilities.Number(h.estimate);
      heritabilities.Number(h.stdError);
      heritabilities.Number(h.ci.lower);
      heritabilities.Number(h.ci.upper);
      heritabilities.EndRow();
    }
  }

  SheetWriter correlations(book, "Correlations", {"Effect", "Trait", "With", "R", "SE"}, formats);
  for (const CorrelationMatrix& matrix : result.correlations) {
    for (int i = 0; i < matrix.traits; ++i) {
      for (int j = i + 1; j < matrix.traits; ++j) {
        correlations.Text(matrix.effect);
        correlations.Text(result.traits[i].name);
        correlations.Text(result.traits[j].name);
        correlations.Number(matrix.R(i, j));
        correlations.Number(matrix.SE(i, j));
        correlations.EndRow();
      }
    }
  }
}

}  // namespace

bool WriteResultXlsx(const AnalysisResult& result, const ExportContext& context,
                     const std::string& path, std::string& error) {
  return WriteXlsxBook(
      path,
      [&](lxw_workbook* book, const XlsxFormats& formats) {
        WriteSheets(book, formats, result, context);
      },
      error);
}

}  // namespace quorvel
