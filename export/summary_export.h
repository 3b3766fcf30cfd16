// The summary of a batch: one row per workbook and trait, with the numbers a geneticist
// compares across trials (observations, levels, variance components, heritabilities and
// the components' F tests) and a status. Written as CSV, JSON or .xlsx with the same
// columns in the same order, whatever models the batch ran, so that summaries written by
// separate runs can be concatenated.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "analysis/analysis_result.h"
#include "export/result_export.h"

namespace quorvel {

// The columns, in order. Levels are the numbers of distinct codes of each factor, as the
// data echo lists them; a factor the model lacks is empty. Each variance component comes
// with its standard error and, for the random terms, the F test of "component = 0" and
// its p value, as the report's random-model table prints them.
inline constexpr std::array<const char*, 27> kSummaryColumns{"file",
                                                             "model",
                                                             "trait",
                                                             "observations",
                                                             "block_levels",
                                                             "male_levels",
                                                             "female_levels",
                                                             "repeat_levels",
                                                             "sigma_m",
                                                             "sigma_m_se",
                                                             "sigma_m_f",
                                                             "sigma_m_p",
                                                             "sigma_f",
                                                             "sigma_f_se",
                                                             "sigma_f_f",
                                                             "sigma_f_p",
                                                             "sigma_fr",
                                                             "sigma_fr_se",
                                                             "sigma_fr_f",
                                                             "sigma_fr_p",
                                                             "sigma_e",
                                                             "sigma_e_se",
                                                             "hi",
                                                             "hi_se",
                                                             "hm",
                                                             "hm_se",
                                                             "status"};
inline constexpr std::size_t kSummaryColumnCount = kSummaryColumns.size();

// The status of a workbook whose analysis succeeded.
inline constexpr const char* kSummaryStatusOk = "ok";

// A cell: empty, a count, a number (not finite: written empty, or null in JSON) or a text.
using SummaryCell = std::variant<std::monostate, std::int64_t, double, std::string>;
using SummaryRow = std::array<SummaryCell, kSummaryColumnCount>;

// The index of a column by its name; the name must be one of kSummaryColumns.
std::size_t SummaryColumn(const char* name);

// The rows of one analysed workbook: one per trait in sheet order, or a single row with an
// empty trait when the sheet has no trait column. `file` names the workbook as the user
// gave it; `status` is kSummaryStatusOk or why a later step (an export) failed.
std::vector<SummaryRow> SummaryRowsOf(const std::string& file, const AnalysisResult& result,
                                      const std::string& status = kSummaryStatusOk);

// The one row of a workbook that was not analysed: its model when known (ModelKind::None
// leaves the column empty) and the message that stopped it, exactly as shown.
SummaryRow FailedSummaryRow(const std::string& file, ModelKind model, const std::string& message);

// CSV: a header line of the column names, then the rows; numbers in their shortest
// round-trip form, RFC 4180 quoting, CR LF line ends.
std::string FormatSummaryCsv(const std::vector<SummaryRow>& rows);

// JSON: {"program": "Quorvel", "version": ..., "rows": [{column: value, ...}, ...]}, an
// empty or non-finite cell as null, one row per line.
std::string FormatSummaryJson(const std::vector<SummaryRow>& rows, const std::string& version);

// .xlsx: one sheet "Summary" with a bold, frozen header row; counts as numbers, other
// numbers shown with 4 decimals at full precision, empty cells left empty.
bool WriteSummaryXlsx(const std::vector<SummaryRow>& rows, const std::string& path,
                      std::string& error);

// Writes the summary in `format` to `path`, replacing it whole; false with `error` set
// when it cannot be written.
bool WriteSummary(const std::vector<SummaryRow>& rows, const std::string& version,
                  ExportFormat format, const std::string& path, std::string& error);

}  // namespace quorvel
