// The batch summary's rows and its CSV, JSON and .xlsx writers.
#include "export/summary_export.h"

#include <strings.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "export/csv_text.h"
#include "export/xlsx_book.h"
#include "io/atomic_file.h"

namespace quorvel {
namespace {

// Cells the rows of one workbook share: file, model, observations and levels.
SummaryRow WorkbookCells(const std::string& file, const AnalysisResult& result) {
  SummaryRow row;
  row[SummaryColumn("file")] = file;
  row[SummaryColumn("model")] = std::int64_t{ModelNumber(result.kind)};
  row[SummaryColumn("observations")] = std::int64_t{result.observationCount};
  // The factors in sheet order, which the layout fixes: Block, Male, Female, Repeat with
  // the first or the last left out by the smaller models.
  static constexpr const char* kLevelColumns[] = {"block_levels", "male_levels", "female_levels",
                                                  "repeat_levels"};
  const std::size_t first = result.kind == ModelKind::Nested ? 1 : 0;
  for (std::size_t k = 0; k < result.factors.size() && first + k < 4; ++k) {
    row[SummaryColumn(kLevelColumns[first + k])] =
        static_cast<std::int64_t>(result.factors[k].levels.size());
  }
  return row;
}

// The column stem of a variance component ("Sigma_FR" -> "sigma_fr"); empty for a name
// the summary has no columns for.
std::string ComponentStem(const std::string& parameter) {
  for (const char* stem : {"sigma_m", "sigma_f", "sigma_fr", "sigma_e"}) {
    if (strcasecmp(parameter.c_str(), stem) == 0) return stem;
  }
  return {};
}

std::string CellCsv(const SummaryCell& cell) {
  std::string out;
  if (const auto* count = std::get_if<std::int64_t>(&cell)) {
    out = std::to_string(*count);
  } else if (const auto* number = std::get_if<double>(&cell)) {
    AppendCsvNumber(out, *number);
  } else if (const auto* text = std::get_if<std::string>(&cell)) {
    AppendCsvField(out, *text);
  }
  return out;
}

nlohmann::ordered_json CellJson(const SummaryCell& cell) {
  if (const auto* count = std::get_if<std::int64_t>(&cell)) return *count;
  if (const auto* number = std::get_if<double>(&cell))
    return *number;  // dumped null when not finite
  if (const auto* text = std::get_if<std::string>(&cell)) return *text;
  return nullptr;
}

}  // namespace

std::size_t SummaryColumn(const char* name) {
  for (std::size_t k = 0; k < kSummaryColumnCount; ++k) {
    if (std::strcmp(kSummaryColumns[k], name) == 0) return k;
  }
  return kSummaryColumnCount;  // never for the names this file passes
}

std::vector<SummaryRow> SummaryRowsOf(const std::string& file, const AnalysisResult& result,
                                      const std::string& status) {
  const SummaryRow shared = WorkbookCells(file, result);
  std::vector<SummaryRow> rows;
  for (const TraitResult& trait : result.traits) {
    SummaryRow row = shared;
    row[SummaryColumn("trait")] = trait.name;
    for (const ComponentEstimate& c : trait.random.components) {
      const std::string stem = ComponentStem(c.parameter);
      if (stem.empty()) continue;
      row[SummaryColumn(stem.c_str())] = c.estimate;
      row[SummaryColumn((stem + "_se").c_str())] = c.stdError;
      if (c.tested) {
        row[SummaryColumn((stem + "_f").c_str())] = c.f;
        row[SummaryColumn((stem + "_p").c_str())] = c.p;
      }
    }
    for (const HeritabilityEstimate& h : trait.random.heritabilities) {
      const char* column = h.parameter == "Hi" ? "hi" : h.parameter == "Hm" ? "hm" : nullptr;
      if (column == nullptr) continue;
      row[SummaryColumn(column)] = h.estimate;
      row[SummaryColumn((std::string(column) + "_se").c_str())] = h.stdError;
    }
    row[SummaryColumn("status")] = status;
    rows.push_back(std::move(row));
  }
  if (rows.empty()) {
    rows.push_back(shared);
    rows.back()[SummaryColumn("status")] = status;
  }
  return rows;
}

SummaryRow FailedSummaryRow(const std::string& file, ModelKind model, const std::string& message) {
  SummaryRow row;
  row[SummaryColumn("file")] = file;
  if (model != ModelKind::None) row[SummaryColumn("model")] = std::int64_t{ModelNumber(model)};
  row[SummaryColumn("status")] = message;
  return row;
}

std::string FormatSummaryCsv(const std::vector<SummaryRow>& rows) {
  std::string out;
  for (std::size_t k = 0; k < kSummaryColumnCount; ++k) {
    if (k > 0) out += ',';
    out += kSummaryColumns[k];
  }
  out += "\r\n";
  for (const SummaryRow& row : rows) {
    for (std::size_t k = 0; k < kSummaryColumnCount; ++k) {
      if (k > 0) out += ',';
      out += CellCsv(row[k]);
    }
    out += "\r\n";
  }
  return out;
}

std::string FormatSummaryJson(const std::vector<SummaryRow>& rows, const std::string& version) {
  using Json = nlohmann::ordered_json;
  std::string out =
      "{\n  \"program\": \"Quorvel\",\n  \"version\": " + Json(version).dump() + ",\n  \"rows\": [";
  for (std::size_t r = 0; r < rows.size(); ++r) {
    Json object = Json::object();
    for (std::size_t k = 0; k < kSummaryColumnCount; ++k) {
      object[kSummaryColumns[k]] = CellJson(rows[r][k]);
    }
    out += r == 0 ? "\n    " : ",\n    ";
    out += object.dump();
  }
  out += rows.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

bool WriteSummaryXlsx(const std::vector<SummaryRow>& rows, const std::string& path,
                      std::string& error) {
  return WriteXlsxBook(
      path,
      [&rows](lxw_workbook* book, const XlsxFormats& formats) {
        SheetWriter sheet(book, "Summary",
                          std::vector<std::string>(kSummaryColumns.begin(), kSummaryColumns.end()),
                          formats);
        for (const SummaryRow& row : rows) {
          for (const SummaryCell& cell : row) {
            if (const auto* count = std::get_if<std::int64_t>(&cell)) {
              sheet.Integer(static_cast<double>(*count));
            } else if (const auto* number = std::get_if<double>(&cell)) {
              sheet.Number(*number);
            } else if (const auto* text = std::get_if<std::string>(&cell)) {
              sheet.Text(*text);
            } else {
              sheet.Blank();
            }
          }
          sheet.EndRow();
        }
      },
      error);
}

bool WriteSummary(const std::vector<SummaryRow>& rows, const std::string& version,
                  ExportFormat format, const std::string& path, std::string& error) {
  switch (format) {
    case ExportFormat::Json:
      return WriteFileAtomically(path, FormatSummaryJson(rows, version), &error);
    case ExportFormat::Csv:
      return WriteFileAtomically(path, FormatSummaryCsv(rows), &error);
    case ExportFormat::Xlsx:
      return WriteSummaryXlsx(rows, path, error);
  }
  return false;
}

}  // namespace quorvel
