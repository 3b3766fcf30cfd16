// The result as an .xlsx workbook, written by libxlsxwriter. The library writes to a file
// name; it writes into a private folder (mode 0700) made beside the target, and the
// finished workbook is then moved over the target whole like every other output.
#include <sys/stat.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "export/result_export.h"
#include "io/atomic_file.h"

namespace quorvel {
namespace {

// A worksheet written row by row (the library's constant-memory mode keeps one row in
// memory). A table longer than a sheet continues on "Name 2", "Name 3", ...
class SheetWriter {
 public:
  SheetWriter(lxw_workbook* book, std::string name, std::vector<std::string> header,
              lxw_format* bold, lxw_format* number)
      : book_(book),
        name_(std::move(name)),
        header_(std::move(header)),
        bold_(bold),
        number_(number) {
    Open();
  }

  void Text(const std::string& text) {
    worksheet_write_string(sheet_, row_, column_++, text.c_str(), nullptr);
  }
  void Integer(int value) { worksheet_write_number(sheet_, row_, column_++, value, nullptr); }
  // A number shown with 4 decimals; an empty cell when it is not finite.
  void Number(double value) {
    if (std::isfinite(value)) worksheet_write_number(sheet_, row_, column_, value, number_);
    ++column_;
  }
  void EndRow() {
    column_ = 0;
    if (++row_ >= LXW_ROW_MAX) Open();
  }

 private:
  void Open() {
    std::string name = name_;
    if (++part_ > 1) name += " " + std::to_string(part_);
    sheet_ = workbook_add_worksheet(book_, name.c_str());
    for (std::size_t c = 0; c < header_.size(); ++c) {
      worksheet_set_column(sheet_, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c),
                           c == 0 ? 12 : 14, nullptr);
      worksheet_write_string(sheet_, 0, static_cast<lxw_col_t>(c), header_[c].c_str(), bold_);
    }
    worksheet_freeze_panes(sheet_, 1, 0);
    row_ = 1;
    column_ = 0;
  }

  lxw_workbook* book_;
  std::string name_;
  std::vector<std::string> header_;
  lxw_format* bold_;
  lxw_format* number_;
  lxw_worksheet* sheet_ = nullptr;
  int part_ = 0;
  lxw_row_t row_ = 0;
  lxw_col_t column_ = 0;
};

void WriteSheets(lxw_workbook* book, const AnalysisResult& result, const ExportContext& context) {
  lxw_format* bold = workbook_add_format(book);
  format_set_bold(bold);
  lxw_format* number = workbook_add_format(book);
  format_set_num_format(number, "0.0000");

  {
    SheetWriter about(book, "Analysis", {"Item", "Value"}, bold, nullptr);
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

  SheetWriter models(book, "Model tests", {"Trait", "Source", "DF", "SS", "MS", "F", "P"}, bold,
                     number);
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

  SheetWriter factors(book, "Factor tests", {"Trait", "Source", "DF", "SS", "MS", "F", "P"}, bold,
                      number);
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
                        {"Trait", "Parameter", "Estimate", "SE", "T", "P", "Lower", "Upper"}, bold,
                        number);
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

  SheetWriter differences(book, "Male differences", {"Trait", "Male", "Versus", "T", "P"}, bold,
                          number);
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
                         {"Trait", "Parameter", "Estimate", "SE", "F", "P", "Lower", "Upper"}, bold,
                         number);
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
                             {"Trait", "Parameter", "Estimate", "SE", "Lower", "Upper"}, bold,
                             number);
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

  SheetWriter correlations(book, "Correlations", {"Effect", "Trait", "With", "R", "SE"}, bold,
                           number);
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

bool ReadWhole(const std::string& path, std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char buffer[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

}  // namespace

bool WriteResultXlsx(const AnalysisResult& result, const ExportContext& context,
                     const std::string& path, std::string& error) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    error = "cannot create a file in the folder";
    return false;
  }
  const std::string privateFolder = pattern;
  const std::string bookPath = privateFolder + "/book.xlsx";

  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  std::string tmpdir = privateFolder;
  options.tmpdir = tmpdir.data();
  lxw_workbook* book = workbook_new_opt(bookPath.c_str(), &options);
  bool ok = book != nullptr;
  std::string bytes;
  if (ok) {
    WriteSheets(book, result, context);
    const lxw_error status = workbook_close(book);
    ok = status == LXW_NO_ERROR;
    if (!ok) error = lxw_strerror(status);
  } else {
    error = "cannot start the workbook";
  }
  if (ok && !ReadWhole(bookPath, bytes)) {
    ok = false;
    error = "cannot read the written workbook back";
  }
  std::error_code ignored;
  fs::remove_all(privateFolder, ignored);
  if (!ok) return false;
  return WriteFileAtomically(path, bytes, &error);
}

}  // namespace quorvel
