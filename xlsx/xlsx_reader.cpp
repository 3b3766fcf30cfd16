// Office Open XML workbooks: package relationships, the workbook's sheet list, shared
// strings and the worksheets' cells, each part parsed as a stream.
#include "xlsx/xlsx_reader.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "archive/xml_stream.h"
#include "cellvalues/cell_text.h"
#include "xls/text_encoding.h"

namespace Kalvex {
namespace {

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendCodePoint(std::string& out, std::uint32_t code) {
  const char16_t unit = static_cast<char16_t>(code);
  out += Utf16ToUtf8(std::u16string_view(&unit, 1));
}

// "%20" and the like in a part name, as a relationship target may write them.
std::string PercentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The member holding a part; the name as written first, then percent-decoded.
std::int64_t FindPart(const ZipArchive& archive, const std::string& part) {
  if (part.empty()) return ZipArchive::kNoMember;
  const std::int64_t member = archive.Find(part);
  if (member != ZipArchive::kNoMember) return member;
  const std::string decoded = PercentDecoded(part);
  return decoded == part ? ZipArchive::kNoMember : archive.Find(decoded);
}

// The main namespace of the document parts: transitional and strict SpreadsheetML. Other
// namespaces (the pre-release format of 2006, for one) name other structures.
bool IsSpreadsheetMl(std::string_view element) {
  const std::string_view ns = NamespaceOf(element);
  return ns == "http://schemas.openxmlformats.org/spreadsheetml/2006/main" ||
         ns == "http://purl.oclc.org/ooxml/spreadsheetml/main";
}

// A handler of a SpreadsheetML part: the root element must be of that language.
class SpreadsheetMlHandler : public XmlHandler {
 public:
  void StartElement(std::string_view name, const char** attributes) final {
    if (!rootSeen_) {
      rootSeen_ = true;
      if (!IsSpreadsheetMl(name)) {
        Fail();
        return;
      }
    }
    Start(name, attributes);
  }

 protected:
  virtual void Start(std::string_view name, const char** attributes) = 0;

 private:
  bool rootSeen_ = false;
};

// An unsigned decimal attribute value; false when it is not one or exceeds 32 bits.
bool ParseIndex(std::string_view text, std::uint32_t& value) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// ---------------------------------------------------------------------------------------
// Relationships and the workbook part

struct Relationship {
  std::string id;
  std::string type;
  std::string target;
  bool external = false;
};

class RelationshipsHandler : public XmlHandler {
 public:
  explicit RelationshipsHandler(std::vector<Relationship>& list) : list_(list) {}

  void StartElement(std::string_view name, const char** attributes) override {
    if (LocalName(name) != "Relationship") return;
    const char* id = FindAttribute(attributes, "Id");
    const char* type = FindAttribute(attributes, "Type");
    const char* target = FindAttribute(attributes, "Target");
    const char* mode = FindAttribute(attributes, "TargetMode");
    if (id == nullptr || type == nullptr || target == nullptr) return;
    list_.push_back({id, type, target, mode != nullptr && std::string_view(mode) == "External"});
  }
  void EndElement(std::string_view) override {}

 private:
  std::vector<Relationship>& list_;
};

// The relationships of a part; an absent relationships part has none.
bool ReadRelationships(ZipArchive& archive, std::string_view part,
                       std::vector<Relationship>& list) {
  list.clear();
  const std::int64_t member = archive.Find(RelationshipsPartName(part));
  if (member == ZipArchive::kNoMember) return true;
  RelationshipsHandler handler(list);
  return ParseXmlMember(archive, member, handler);
}

struct SheetEntry {
  std::string relationshipId;
};

class WorkbookHandler : public SpreadsheetMlHandler {
 public:
  WorkbookHandler(std::vector<SheetEntry>& sheets, bool& date1904)
      : sheets_(sheets), date1904_(date1904) {}

  void Start(std::string_view name, const char** attributes) override {
    const std::string_view local = LocalName(name);
    if (local == "sheets") {
      inSheets_ = true;
    } else if (local == "sheet" && inSheets_) {
      // The relationship id is the one attribute of that local name in a namespace.
      for (const char** a = attributes; a[0] != nullptr; a += 2) {
        const std::string_view attribute = a[0];
        if (LocalName(attribute) == "id" && !NamespaceOf(attribute).empty()) {
          sheets_.push_back({a[1]});
          break;
        }
      }
    } else if (local == "workbookPr") {
      const char* value = FindAttribute(attributes, "date1904");
      date1904_ =
          value != nullptr && (std::string_view(value) == "1" || std::string_view(value) == "true");
    }
  }
  void EndElement(std::string_view name) override {
    if (LocalName(name) == "sheets") inSheets_ = false;
  }

 private:
  std::vector<SheetEntry>& sheets_;
  bool& date1904_;
  bool inSheets_ = false;
};

// ---------------------------------------------------------------------------------------
// Shared strings

class SharedStringsHandler : public SpreadsheetMlHandler {
 public:
  explicit SharedStringsHandler(std::vector<std::string>& strings) : strings_(strings) {}

  void Start(std::string_view name, const char**) override {
    const std::string_view local = LocalName(name);
    if (local == "si") {
      inItem_ = true;
      phoneticDepth_ = 0;
      text_.clear();
    } else if (inItem_) {
      if (local == "rPh")
        ++phoneticDepth_;
      else if (local == "t" && phoneticDepth_ == 0)
        inText_ = true;
    }
  }
  void EndElement(std::string_view name) override {
    const std::string_view local = LocalName(name);
    if (local == "t") {
      inText_ = false;
    } else if (local == "rPh") {
      if (phoneticDepth_ > 0) --phoneticDepth_;
    } else if (local == "si" && inItem_) {
      strings_.push_back(UnescapeXString(text_));
      inItem_ = false;
    }
  }
  void CharacterData(std::string_view text) override {
    if (inText_) text_.append(text);
  }

 private:
  std::vector<std::string>& strings_;
  std::string text_;
  bool inItem_ = false;
  bool inText_ = false;
  int phoneticDepth_ = 0;
};

// ---------------------------------------------------------------------------------------
// Worksheets

class WorksheetHandler : public SpreadsheetMlHandler {
 public:
  WorksheetHandler(SheetGrid& grid, const std::vector<std::string>& sharedStrings, bool date1904,
                   std::size_t& filledCells)
      : grid_(grid),
        sharedStrings_(sharedStrings),
        date1904_(date1904),
        filledCells_(filledCells) {}

  void Start(std::string_view name, const char** attributes) override {
    const std::string_view local = LocalName(name);
    if (inCell_) {
      if (local == "v") {
        inValue_ = true;
      } else if (local == "f") {
        hasFormula_ = true;
      } else if (local == "is") {
        inInline_ = true;
      } else if (inInline_) {
        if (local == "rPh")
          ++phoneticDepth_;
        else if (local == "t" && phoneticDepth_ == 0)
          inInlineText_ = true;
      }
      return;
    }
    if (local == "sheetData") {
      inSheetData_ = true;
    } else if (inSheetData_ && local == "row") {
      StartRow(attributes);
    } else if (inSheetData_ && local == "c") {
      StartCell(attributes);
    }
  }

  void EndElement(std::string_view name) override {
    const std::string_view local = LocalName(name);
    if (inCell_) {
      if (local == "c") {
        EndCell();
      } else if (local == "v") {
        inValue_ = false;
      } else if (local == "is") {
        inInline_ = false;
      } else if (local == "t") {
        inInlineText_ = false;
      } else if (local == "rPh" && phoneticDepth_ > 0) {
        --phoneticDepth_;
      }
      return;
    }
    if (local == "sheetData") inSheetData_ = false;
  }

  void CharacterData(std::string_view text) override {
    if (inValue_)
      value_.append(text);
    else if (inInlineText_)
      inlineText_.append(text);
  }

  // The extent takes in every listed cell, valued or not.
  void ApplyExtent() { grid_.Extend(extentRows_, extentColumns_); }

 private:
  enum class Type {
    Number,
    SharedString,
    InlineString,
    FormulaString,
    Boolean,
    Error,
    Date,
    Unknown
  };

  static constexpr std::uint64_t kNoPosition = std::numeric_limits<std::uint64_t>::max();

  void StartRow(const char** attributes) {
    // Rows without a number follow the one before.
    std::uint32_t number = 0;
    const char* r = FindAttribute(attributes, "r");
    if (r != nullptr && ParseIndex(r, number) && number >= 1)
      row_ = number - 1;
    else
      row_ = row_ == kNoPosition ? 0 : row_ + 1;
    column_ = kNoPosition;
  }

  void StartCell(const char** attributes) {
    inCell_ = true;
    hasFormula_ = false;
    inValue_ = inInline_ = inInlineText_ = false;
    phoneticDepth_ = 0;
    value_.clear();
    inlineText_.clear();

    // Cells without a reference follow the one before in their row.
    std::uint32_t row = 0;
    std::uint32_t column = 0;
    const char* r = FindAttribute(attributes, "r");
    if (r != nullptr && ParseCellReference(r, row, column)) {
      row_ = row;
      column_ = column;
    } else {
      if (row_ == kNoPosition) row_ = 0;
      column_ = column_ == kNoPosition ? 0 : column_ + 1;
    }

    type_ = Type::Number;
    if (const char* t = FindAttribute(attributes, "t")) {
      const std::string_view type = t;
      if (type == "n")
        type_ = Type::Number;
      else if (type == "s")
        type_ = Type::SharedString;
      else if (type == "inlineStr")
        type_ = Type::InlineString;
      else if (type == "str")
        type_ = Type::FormulaString;
      else if (type == "b")
        type_ = Type::Boolean;
      else if (type == "e")
        type_ = Type::Error;
      else if (type == "d")
        type_ = Type::Date;
      else
        type_ = Type::Unknown;
    }
  }

  void EndCell() {
    inCell_ = false;
    if (row_ >= grid_.MaxRows() || column_ >= grid_.MaxColumns()) return;  // beyond the caps
    const auto row = static_cast<std::uint32_t>(row_);
    const auto column = static_cast<std::uint32_t>(column_);
    extentRows_ = std::max(extentRows_, row + 1);
    extentColumns_ = std::max(extentColumns_, column + 1);
    // A formula's cell stays Empty whatever result the file caches for it.
    if (hasFormula_) return;

    switch (type_) {
      case Type::Number: {
        double number = 0.0;
        if (ParseDecimalNumber(value_, number)) Put(row, column)->SetReal(number);
        break;
      }
      case Type::SharedString: {
        std::uint32_t index = 0;
        if (ParseIndex(TrimBlanks(value_), index) && index < sharedStrings_.size() &&
            !sharedStrings_[index].empty()) {
          Put(row, column)->SetText(sharedStrings_[index].c_str());
        }
        break;
      }
      case Type::InlineString:
        if (!inlineText_.empty()) Put(row, column)->SetText(UnescapeXString(inlineText_).c_str());
        break;
      case Type::FormulaString:
        // A string result without its formula: some writers store plain strings so.
        if (!value_.empty()) Put(row, column)->SetText(UnescapeXString(value_).c_str());
        break;
      case Type::Boolean: {
        const std::string_view value = TrimBlanks(value_);
        if (value == "1" || value == "true")
          Put(row, column)->SetInteger(1);
        else if (value == "0" || value == "false")
          Put(row, column)->SetInteger(0);
        break;
      }
      case Type::Date: {
        double serial = 0.0;
        if (DateSerial(TrimBlanks(value_), serial)) Put(row, column)->SetReal(serial);
        break;
      }
      case Type::Error:
      case Type::Unknown:
        break;
    }
  }

  // The serial number a spreadsheet stores for an ISO 8601 date: days since 1899-12-30,
  // where 1900-01-01 is day 1 and 1900-02-29 (which did not exist) is day 60, so dates
  // before March 1900 count one less; or days since 1904-01-01 in the 1904 system.
  bool DateSerial(std::string_view text, double& serial) const {
    const CivilDate base = date1904_ ? CivilDate{1904, 1, 1} : CivilDate{1899, 12, 30};
    if (!IsoDateTimeToSerial(text, base, serial)) return false;
    if (!date1904_ && serial >= 1.0 && serial < 61.0) serial -= 1.0;
    return true;
  }

  CellValue* Put(std::uint32_t row, std::uint32_t column) {
    if (++filledCells_ > kMaxFilledCells) {
      Fail();
      static CellValue discarded;  // the parse stops; nothing more is read
      return &discarded;
    }
    return grid_.CellAt(row, column);
  }

  SheetGrid& grid_;
  const std::vector<std::string>& sharedStrings_;
  const bool date1904_;
  std::size_t& filledCells_;

  bool inSheetData_ = false;
  bool inCell_ = false;
  bool inValue_ = false;
  bool inInline_ = false;
  bool inInlineText_ = false;
  bool hasFormula_ = false;
  int phoneticDepth_ = 0;
  Type type_ = Type::Number;
  std::string value_;
  std::string inlineText_;
  std::uint64_t row_ = kNoPosition;
  std::uint64_t column_ = kNoPosition;
  std::uint32_t extentRows_ = 0;
  std::uint32_t extentColumns_ = 0;
};

constexpr std::string_view kWorksheetType = "/worksheet";
constexpr std::string_view kSharedStringsType = "/sharedStrings";
constexpr std::string_view kOfficeDocumentType = "/officeDocument";

const Relationship* FindRelationship(const std::vector<Relationship>& list, std::string_view id) {
  for (const Relationship& r : list) {
    if (r.id == id) return &r;
  }
  return nullptr;
}

bool ReadWorkbook(ZipArchive& archive, std::vector<SheetGrid>& grids, bool firstOnly) {
  // The workbook part: the package's office document, or where writers put it (also when
  // the package's relationships cannot be read: the parts with the data may be whole).
  std::vector<Relationship> packageRelationships;
  if (!ReadRelationships(archive, "", packageRelationships)) packageRelationships.clear();
  std::string workbookPart = "xl/workbook.xml";
  for (const Relationship& r : packageRelationships) {
    if (!r.external && EndsWith(r.type, kOfficeDocumentType)) {
      workbookPart = ResolvePartName("", r.target);
      break;
    }
  }
  const std::int64_t workbookMember = FindPart(archive, workbookPart);
  if (workbookMember == ZipArchive::kNoMember) return false;

  std::vector<SheetEntry> sheets;
  bool date1904 = false;
  WorkbookHandler workbookHandler(sheets, date1904);
  if (!ParseXmlMember(archive, workbookMember, workbookHandler)) return false;
  std::vector<Relationship> relationships;
  if (!ReadRelationships(archive, workbookPart, relationships)) return false;

  std::vector<std::string> sharedStrings;
  for (const Relationship& r : relationships) {
    if (r.external || !EndsWith(r.type, kSharedStringsType)) continue;
    // A workbook whose cells use no shared string may lack the part it names.
    const std::int64_t member = FindPart(archive, ResolvePartName(workbookPart, r.target));
    if (member == ZipArchive::kNoMember) break;
    SharedStringsHandler handler(sharedStrings);
    if (!ParseXmlMember(archive, member, handler)) return false;
    break;
  }

  std::size_t filledCells = 0;
  for (const SheetEntry& sheet : sheets) {
    const Relationship* r = FindRelationship(relationships, sheet.relationshipId);
    if (r == nullptr) return false;
    if (r->external || !EndsWith(r->type, kWorksheetType)) continue;  // chart, dialog, macro sheets
    const std::int64_t member = FindPart(archive, ResolvePartName(workbookPart, r->target));
    if (member == ZipArchive::kNoMember) return false;
    SheetGrid& grid = grids.emplace_back(SheetGrid::kLargeMaxRows, SheetGrid::kLargeMaxColumns);
    WorksheetHandler handler(grid, sharedStrings, date1904, filledCells);
    if (!ParseXmlMember(archive, member, handler)) return false;
    handler.ApplyExtent();
    if (firstOnly) break;
  }
  return true;
}

}  // namespace

bool IsOpcPackage(const ZipArchive& archive) {
  return archive.Find("[Content_Types].xml") != ZipArchive::kNoMember;
}

bool ReadXlsxWorkbook(ZipArchive& archive, std::vector<SheetGrid>& grids, bool firstOnly) {
  grids.clear();
  if (!archive.IsOpen() || !ReadWorkbook(archive, grids, firstOnly)) {
    grids.clear();
    return false;
  }
  return true;
}

bool ReadXlsxWorkbook(ByteSpan bytes, std::vector<SheetGrid>& grids, bool firstOnly) {
  grids.clear();
  ZipArchive archive;
  return archive.Open(bytes) && IsOpcPackage(archive) &&
         ReadXlsxWorkbook(archive, grids, firstOnly);
}

std::string ResolvePartName(std::string_view sourcePart, std::string_view target) {
  // Fragments and queries are no part of the name.
  target = target.substr(0, target.find_first_of("#?"));
  std::string path;
  if (!target.empty() && target.front() == '/') {
    path = std::string(target.substr(1));
  } else {
    const std::size_t slash = sourcePart.rfind('/');
    path = slash == std::string_view::npos ? std::string()
                                           : std::string(sourcePart.substr(0, slash + 1));
    path += target;
  }
  std::replace(path.begin(), path.end(), '\\', '/');
  // Fold the segments.
  std::vector<std::string_view> segments;
  std::string_view rest = path;
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view segment = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (segment.empty() || segment == ".") continue;
    if (segment == "..") {
      if (segments.empty()) return std::string();
      segments.pop_back();
      continue;
    }
    segments.push_back(segment);
  }
  std::string resolved;
  for (const std::string_view segment : segments) {
    if (!resolved.empty()) resolved += '/';
    resolved += segment;
  }
  return resolved;
}

std::string RelationshipsPartName(std::string_view part) {
  const std::size_t slash = part.rfind('/');
  const std::string_view folder =
      slash == std::string_view::npos ? std::string_view() : part.substr(0, slash + 1);
  const std::string_view name = slash == std::string_view::npos ? part : part.substr(slash + 1);
  return std::string(folder) + "_rels/" + std::string(name) + ".rels";
}

std::string UnescapeXString(std::string_view text) {
  if (text.find("_x") == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_' && i + 6 < text.size() && text[i + 1] == 'x' && text[i + 6] == '_') {
      std::uint32_t code = 0;
      bool hex = true;
      for (std::size_t k = 2; k < 6 && hex; ++k) {
        const int digit = HexValue(text[i + k]);
        hex = digit >= 0;
        code = code * 16 + static_cast<std::uint32_t>(digit);
      }
      if (hex) {
        AppendCodePoint(out, code);
        i += 6;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

bool ParseCellReference(std::string_view text, std::uint32_t& row, std::uint32_t& column) {
  std::size_t pos = 0;
  std::uint64_t letters = 0;
  while (pos < text.size() && pos < 4) {
    const char c = text[pos];
    int digit = 0;
    if (c >= 'A' && c <= 'Z')
      digit = c - 'A' + 1;
    else if (c >= 'a' && c <= 'z')
      digit = c - 'a' + 1;
    else
      break;
    letters = letters * 26 + static_cast<std::uint64_t>(digit);
    ++pos;
  }
  if (pos == 0 || pos == text.size()) return false;
  std::uint32_t number = 0;
  if (!ParseIndex(text.substr(pos), number) || number == 0) return false;
  row = number - 1;
  column = static_cast<std::uint32_t>(letters - 1);
  return true;
}

}  // namespace Kalvex
