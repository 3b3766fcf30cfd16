// OpenDocument spreadsheets: content.xml parsed as a stream, one table at a time; each
// row's valued cells are gathered first and written once per repetition of the row.
#include "ods/ods_reader.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>

#include "archive/xml_stream.h"
#include "cellvalues/cell_text.h"

namespace Kalvex {
namespace {

#define ODF_TABLE "urn:oasis:names:tc:opendocument:xmlns:table:1.0|"
#define ODF_TEXT "urn:oasis:names:tc:opendocument:xmlns:text:1.0|"
#define ODF_OFFICE "urn:oasis:names:tc:opendocument:xmlns:office:1.0|"

constexpr std::string_view kTable = ODF_TABLE "table";
constexpr std::string_view kTableRow = ODF_TABLE "table-row";
constexpr std::string_view kTableCell = ODF_TABLE "table-cell";
constexpr std::string_view kCoveredCell = ODF_TABLE "covered-table-cell";
constexpr std::string_view kNullDate = ODF_TABLE "null-date";
constexpr std::string_view kRowsRepeated = ODF_TABLE "number-rows-repeated";
constexpr std::string_view kColumnsRepeated = ODF_TABLE "number-columns-repeated";
constexpr std::string_view kFormula = ODF_TABLE "formula";
constexpr std::string_view kDateValueAttribute = ODF_TABLE "date-value";
constexpr std::string_view kParagraph = ODF_TEXT "p";
constexpr std::string_view kHeading = ODF_TEXT "h";
constexpr std::string_view kSpaces = ODF_TEXT "s";
constexpr std::string_view kSpaceCount = ODF_TEXT "c";
constexpr std::string_view kTab = ODF_TEXT "tab";
constexpr std::string_view kLineBreak = ODF_TEXT "line-break";
constexpr std::string_view kNote = ODF_TEXT "note";
constexpr std::string_view kAnnotation = ODF_OFFICE "annotation";
constexpr std::string_view kValueType = ODF_OFFICE "value-type";
constexpr std::string_view kValue = ODF_OFFICE "value";
constexpr std::string_view kDateValue = ODF_OFFICE "date-value";
constexpr std::string_view kTimeValue = ODF_OFFICE "time-value";
constexpr std::string_view kBooleanValue = ODF_OFFICE "boolean-value";
constexpr std::string_view kStringValue = ODF_OFFICE "string-value";
// LibreOffice marks error results so, beside the standard value type.
constexpr std::string_view kExtendedValueType =
    "urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0|value-type";

#undef ODF_TABLE
#undef ODF_TEXT
#undef ODF_OFFICE

// A cell's text is cut at this length (a spreadsheet cell holds at most 32,767
// characters); it bounds what "n spaces" markup can make of a few bytes.
constexpr std::size_t kMaxCellText = std::size_t{1} << 20;

// A repetition count; absent or unreadable counts are 1.
std::uint64_t RepeatCount(const char* text) {
  if (text == nullptr) return 1;
  std::uint64_t count = 0;
  const std::string_view view = text;
  const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), count);
  if (error != std::errc() || end != view.data() + view.size() || count == 0) return 1;
  return count;
}

struct CellEntry {
  enum class Kind { Real, Integer, Text, Nothing };  // Nothing: a formula, counted in the extent
  std::uint64_t column = 0;
  std::uint64_t repeat = 1;
  Kind kind = Kind::Nothing;
  double number = 0.0;
  std::string text;
};

class ContentHandler : public XmlHandler {
 public:
  ContentHandler(std::vector<SheetGrid>& grids, bool firstOnly)
      : grids_(grids), firstOnly_(firstOnly) {}

  void StartElement(std::string_view name, const char** attributes) override {
    ++depth_;
    if (skipDepth_ != 0) return;
    if (name == kTable) {
      if (++tableDepth_ == 1)
        StartTable();
      else
        skipDepth_ = depth_;  // a table inside a table is no worksheet
      return;
    }
    if (tableDepth_ == 0) {
      if (name == kNullDate) {
        const char* date = FindQualifiedAttribute(attributes, kDateValueAttribute);
        CivilDate parsed;
        if (date != nullptr && ParseIsoDate(std::string_view(date).substr(0, 10), parsed))
          nullDate_ = parsed;
      }
      return;
    }
    if (cellDepth_ != 0) {
      StartInsideCell(name, attributes);
      return;
    }
    if (name == kTableRow) {
      inRow_ = true;
      rowRepeat_ = RepeatCount(FindQualifiedAttribute(attributes, kRowsRepeated));
      column_ = 0;
      entries_.clear();
    } else if (inRow_ && (name == kTableCell || name == kCoveredCell)) {
      StartCell(attributes);
    }
  }

  void EndElement(std::string_view name) override {
    const int depth = depth_--;
    if (skipDepth_ != 0) {
      if (depth == skipDepth_) skipDepth_ = 0;
      return;
    }
    if (tableDepth_ == 0) return;
    if (cellDepth_ != 0) {
      if (depth == cellDepth_)
        EndCell();
      else if (depth == paragraphDepth_)
        paragraphDepth_ = 0;
      return;
    }
    if (name == kTableRow && inRow_) {
      EndRow();
    } else if (name == kTable) {
      --tableDepth_;
      EndTable();
    }
  }

  void CharacterData(std::string_view text) override {
    if (skipDepth_ == 0 && paragraphDepth_ != 0) AppendText(text);
  }

  bool Failed() const { return failed_; }

 private:
  void StartTable() {
    grids_.emplace_back(SheetGrid::kLargeMaxRows, SheetGrid::kLargeMaxColumns);
    row_ = 0;
    extentRows_ = extentColumns_ = 0;
  }

  void EndTable() {
    grids_.back().Extend(extentRows_, extentColumns_);
    if (firstOnly_) FinishEarly();
  }

  // The attributes of a cell that matter here, found in one pass.
  struct CellAttributes {
    const char* repeat = nullptr;
    const char* valueType = nullptr;
    const char* extendedValueType = nullptr;
    const char* formula = nullptr;
    const char* value = nullptr;
    const char* dateValue = nullptr;
    const char* timeValue = nullptr;
    const char* booleanValue = nullptr;
    const char* stringValue = nullptr;
  };

  static CellAttributes FindCellAttributes(const char** attributes) {
    CellAttributes found;
    for (const char** a = attributes; a[0] != nullptr; a += 2) {
      const std::string_view name = a[0];
      if (name == kColumnsRepeated)
        found.repeat = a[1];
      else if (name == kValueType)
        found.valueType = a[1];
      else if (name == kExtendedValueType)
        found.extendedValueType = a[1];
      else if (name == kFormula)
        found.formula = a[1];
      else if (name == kValue)
        found.value = a[1];
      else if (name == kDateValue)
        found.dateValue = a[1];
      else if (name == kTimeValue)
        found.timeValue = a[1];
      else if (name == kBooleanValue)
        found.booleanValue = a[1];
      else if (name == kStringValue)
        found.stringValue = a[1];
    }
    return found;
  }

  void StartCell(const char** attributes) {
    cellDepth_ = depth_;
    paragraphDepth_ = 0;
    paragraphs_ = 0;
    text_.clear();
    const CellAttributes found = FindCellAttributes(attributes);
    CellEntry entry;
    entry.column = column_;
    entry.repeat = RepeatCount(found.repeat);
    column_ += std::min<std::uint64_t>(entry.repeat, SheetGrid::kLargeMaxColumns + 1ull);
    cellHasValue_ = false;
    hasStringValue_ = false;

    const bool error =
        found.extendedValueType != nullptr && std::string_view(found.extendedValueType) == "error";
    const std::string_view type = found.valueType != nullptr ? found.valueType : "";
    if (found.formula != nullptr || error) {
      // A formula's cell stays Empty whatever result the file caches for it.
      entry.kind = CellEntry::Kind::Nothing;
      cellHasValue_ = found.formula != nullptr;
    } else if (type == "float" || type == "percentage" || type == "currency") {
      if (found.value != nullptr && ParseDecimalNumber(found.value, entry.number)) {
        entry.kind = CellEntry::Kind::Real;
        cellHasValue_ = true;
      }
    } else if (type == "date") {
      if (found.dateValue != nullptr &&
          IsoDateTimeToSerial(found.dateValue, nullDate_, entry.number)) {
        entry.kind = CellEntry::Kind::Real;
        cellHasValue_ = true;
      }
    } else if (type == "time") {
      if (found.timeValue != nullptr && IsoDurationToDays(found.timeValue, entry.number)) {
        entry.kind = CellEntry::Kind::Real;
        cellHasValue_ = true;
      }
    } else if (type == "boolean") {
      const std::string_view flag = found.booleanValue != nullptr ? found.booleanValue : "";
      if (flag == "true" || flag == "false" || flag == "1" || flag == "0") {
        entry.kind = CellEntry::Kind::Integer;
        entry.number = flag == "true" || flag == "1" ? 1.0 : 0.0;
        cellHasValue_ = true;
      }
    } else if (type == "string" || type.empty()) {
      // The text comes from the paragraphs; a string value stands in when there are none.
      entry.kind = CellEntry::Kind::Text;
      hasStringValue_ = !type.empty() && found.stringValue != nullptr;
      if (hasStringValue_) stringValueText_ = found.stringValue;
    }
    pending_ = std::move(entry);
  }

  void StartInsideCell(std::string_view name, const char** attributes) {
    const int cellChild = cellDepth_ + 1;
    if (name == kAnnotation || name == kNote) {
      skipDepth_ = depth_;
    } else if (paragraphDepth_ == 0) {
      // Only the cell's own paragraphs hold its text; drawings and the like do not.
      if (depth_ == cellChild && (name == kParagraph || name == kHeading)) {
        if (paragraphs_++ > 0) AppendText("\n");
        paragraphDepth_ = depth_;
      } else {
        skipDepth_ = depth_;
      }
    } else if (name == kSpaces) {
      const std::uint64_t count = std::min<std::uint64_t>(
          RepeatCount(FindQualifiedAttribute(attributes, kSpaceCount)), kMaxCellText);
      AppendText(std::string(static_cast<std::size_t>(count), ' '));
    } else if (name == kTab) {
      AppendText("\t");
    } else if (name == kLineBreak) {
      AppendText("\n");
    }
  }

  void AppendText(std::string_view text) {
    if (text_.size() < kMaxCellText) text_.append(text.substr(0, kMaxCellText - text_.size()));
  }

  void EndCell() {
    cellDepth_ = 0;
    paragraphDepth_ = 0;
    CellEntry& entry = pending_;
    if (entry.kind == CellEntry::Kind::Text) {
      entry.text =
          paragraphs_ > 0 ? std::move(text_) : (hasStringValue_ ? stringValueText_ : std::string());
      cellHasValue_ = !entry.text.empty();
    }
    if (cellHasValue_ && entry.column < SheetGrid::kLargeMaxColumns)
      entries_.push_back(std::move(entry));
  }

  void EndRow() {
    inRow_ = false;
    const std::uint64_t firstRow = row_;
    row_ += std::min<std::uint64_t>(rowRepeat_, SheetGrid::kLargeMaxRows + 1ull);
    if (entries_.empty() || firstRow >= SheetGrid::kLargeMaxRows) return;

    SheetGrid& grid = grids_.back();
    const std::uint64_t lastRow =
        std::min<std::uint64_t>(row_, SheetGrid::kLargeMaxRows);  // past the end
    // The cells this row writes, all repetitions, counted before any is written.
    std::uint64_t perRow = 0;
    std::uint64_t lastColumn = 0;
    for (const CellEntry& entry : entries_) {
      const std::uint64_t end =
          std::min<std::uint64_t>(entry.column + entry.repeat, SheetGrid::kLargeMaxColumns);
      lastColumn = std::max(lastColumn, end);
      if (entry.kind != CellEntry::Kind::Nothing) perRow += end - entry.column;
    }
    const std::uint64_t total = perRow * (lastRow - firstRow);
    if (total > kMaxFilledCells - filledCells_) {
      failed_ = true;
      Fail();
      return;
    }
    filledCells_ += static_cast<std::size_t>(total);
    extentRows_ = std::max(extentRows_, static_cast<std::uint32_t>(lastRow));
    extentColumns_ = std::max(extentColumns_, static_cast<std::uint32_t>(lastColumn));

    for (std::uint64_t r = firstRow; r < lastRow; ++r) {
      for (const CellEntry& entry : entries_) {
        if (entry.kind == CellEntry::Kind::Nothing) continue;
        const std::uint64_t end =
            std::min<std::uint64_t>(entry.column + entry.repeat, SheetGrid::kLargeMaxColumns);
        for (std::uint64_t c = entry.column; c < end; ++c) {
          CellValue* cell =
              grid.CellAt(static_cast<std::uint32_t>(r), static_cast<std::uint32_t>(c));
          if (entry.kind == CellEntry::Kind::Real)
            cell->SetReal(entry.number);
          else if (entry.kind == CellEntry::Kind::Integer)
            cell->SetInteger(static_cast<std::int32_t>(entry.number));
          else
            cell->SetText(entry.text.c_str());
        }
      }
    }
  }

  std::vector<SheetGrid>& grids_;
  const bool firstOnly_;
  CivilDate nullDate_;  // 1899-12-30 unless the document sets another
  int depth_ = 0;
  int skipDepth_ = 0;  // the depth of an element whose content is passed over, or 0
  int tableDepth_ = 0;
  int cellDepth_ = 0;       // the depth of the open cell, or 0
  int paragraphDepth_ = 0;  // the depth of the cell's open paragraph, or 0
  int paragraphs_ = 0;
  bool inRow_ = false;
  bool cellHasValue_ = false;
  bool failed_ = false;
  std::uint64_t row_ = 0;
  std::uint64_t rowRepeat_ = 1;
  std::uint64_t column_ = 0;
  std::uint32_t extentRows_ = 0;
  std::uint32_t extentColumns_ = 0;
  std::size_t filledCells_ = 0;
  bool hasStringValue_ = false;
  std::string stringValueText_;
  std::string text_;
  CellEntry pending_;
  std::vector<CellEntry> entries_;
};

}  // namespace

bool IsOdsPackage(ZipArchive& archive) {
  const std::int64_t member = archive.Find("mimetype");
  std::string type;
  if (member == ZipArchive::kNoMember || !archive.Read(member, type)) return false;
  const std::string_view trimmed = TrimBlanks(type);
  return trimmed == "application/vnd.oasis.opendocument.spreadsheet" ||
         trimmed == "application/vnd.oasis.opendocument.spreadsheet-template";
}

bool ReadOdsWorkbook(ZipArchive& archive, std::vector<SheetGrid>& grids, bool firstOnly) {
  grids.clear();
  const std::int64_t member = archive.Find("content.xml");
  ContentHandler handler(grids, firstOnly);
  if (member == ZipArchive::kNoMember || !ParseXmlMember(archive, member, handler) ||
      handler.Failed()) {
    grids.clear();
    return false;
  }
  return true;
}

bool ReadOdsWorkbook(ByteSpan bytes, std::vector<SheetGrid>& grids, bool firstOnly) {
  grids.clear();
  ZipArchive archive;
  return archive.Open(bytes) && IsOdsPackage(archive) && ReadOdsWorkbook(archive, grids, firstOnly);
}

}  // namespace Kalvex
