// Worksheet records, the worksheet / cell table / row block walks, and grid filling.
#include "xls/worksheet.h"

#include <algorithm>
#include <bit>

namespace Kalvex {

using RowBlock = Worksheet::CellTable::RowBlock;
using CellBlock = RowBlock::CellBlock;
using Formula = CellBlock::Formula;

namespace {

constexpr std::uint16_t kShrFmla = Formula::ShrFmla::kId;
constexpr std::uint16_t kShrFmla1 = Formula::ShrFmla1::kId;

std::vector<std::uint8_t> RemainingBytes(const FieldReader& r) {
  return std::vector<std::uint8_t>(r.Here(), r.Here() + r.Remaining());
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Record layouts

void Worksheet::Index::Decode(const RecordData& data) {
  FieldReader r(data.data);
  reserved1 = r.U32();
  firstRow = r.U32();
  lastRowPlusOne = r.U32();
  reserved2 = r.U32();
  dbCellPositions.clear();
  if (data.data.size() <= 16) return;
  // One DBCELL per 32 rows; only the positions the data really holds are read.
  const std::int64_t implied =
      (static_cast<std::int64_t>(lastRowPlusOne) - static_cast<std::int64_t>(firstRow) - 1) / 32 +
      1;
  const std::size_t count = static_cast<std::size_t>(
      std::clamp<std::int64_t>(implied, 0, static_cast<std::int64_t>(r.Remaining() / 4)));
  dbCellPositions.reserve(count);
  for (std::size_t k = 0; k < count; ++k) dbCellPositions.push_back(r.U32());
}

void Worksheet::Dimensions::Decode(const RecordData& data) {
  FieldReader r(data.data);
  firstRow = r.U32();
  lastRowPlusOne = r.U32();
  firstColumn = r.U16();
  lastColumnPlusOne = r.U16();
  reserved = r.U16();
}

void Worksheet::Window2::Decode(const RecordData& data) {
  FieldReader r(data.data);
  options = r.U16();
  firstVisibleRow = r.U16();
  firstVisibleColumn = r.U16();
  gridLineColour = r.U16();
  reserved1 = r.U16();
  pageBreakZoom = r.U16();
  normalZoom = r.U16();
  reserved2 = r.U32();
}

void RowBlock::Row::Decode(const RecordData& data) {
  FieldReader r(data.data);
  row = r.U16();
  firstColumn = r.U16();
  lastColumnPlusOne = r.U16();
  height = r.U16();
  reserved1 = r.U16();
  reserved2 = r.U16();
  options = r.U32();
}

void RowBlock::DBCell::Decode(const RecordData& data) {
  FieldReader r(data.data);
  firstRowOffset = r.U32();
  cellOffsets.resize(r.Remaining() / 2);
  for (auto& offset : cellOffsets) offset = r.U16();
}

void CellBlock::Blank::Decode(const RecordData& data) {
  FieldReader r(data.data);
  DecodeCell(r);
}

void CellBlock::BoolErr::Decode(const RecordData& data) {
  FieldReader r(data.data);
  DecodeCell(r);
  value = r.U8();
  isError = r.U8();
}

void CellBlock::LabelSST::Decode(const RecordData& data) {
  FieldReader r(data.data);
  DecodeCell(r);
  stringIndex = r.U32();
}

void CellBlock::Label::Decode(const RecordData& data) {
  FieldReader r(data.data);
  DecodeCell(r);
  complete = false;
  if (data.data.size() < 9) return;  // row, column, XF and the string's count and flags
  std::size_t position = 6;
  complete = text.Read(data, position);
}

void CellBlock::MulBlank::Decode(const RecordData& data) {
  FieldReader r(data.data);
  row = r.U16();
  firstColumn = r.U16();
  count = 0;
  xfIndexes.reset();
  if (data.data.size() < 6) return;
  lastColumn = Le16(data.data.data() + data.data.size() - 2);
  // The columns from first to last, as far as the XF indexes in the data reach.
  if (lastColumn < firstColumn) return;
  const std::size_t held = (data.data.size() - 6) / 2;
  count = static_cast<std::uint16_t>(std::min<std::size_t>(lastColumn - firstColumn + 1u, held));
  xfIndexes = std::make_unique<std::uint16_t[]>(count);
  for (std::uint16_t j = 0; j < count; ++j) xfIndexes[j] = r.U16();
}

void CellBlock::MulRK::Decode(const RecordData& data) {
  FieldReader r(data.data);
  row = r.U16();
  firstColumn = r.U16();
  count = 0;
  entries.reset();
  if (data.data.size() < 6) return;
  lastColumn = Le16(data.data.data() + data.data.size() - 2);
  // The columns from first to last, as far as the (XF, RK) pairs in the data reach.
  if (lastColumn < firstColumn) return;
  const std::size_t held = (data.data.size() - 6) / 6;
  count = static_cast<std::uint16_t>(std::min<std::size_t>(lastColumn - firstColumn + 1u, held));
  entries = std::make_unique<Entry[]>(count);
  for (std::uint16_t j = 0; j < count; ++j) {
    entries[j].xf = r.U16();
    entries[j].rk = r.U32();
  }
}

void CellBlock::Number::Decode(const RecordData& data) {
  FieldReader r(data.data);
  DecodeCell(r);
  value = r.F64();
}

void CellBlock::RK::Decode(const RecordData& data) {
  FieldReader r(data.data);
  DecodeCell(r);
  rk = r.U32();
}

void Formula::Decode(const RecordData& data) {
  FieldReader r(data.data);
  DecodeCell(r);
  for (std::uint8_t& byte : cachedResult) byte = r.U8();
  options = r.U16();
  field = r.U16();
  tokens = RemainingBytes(r);
}

void Formula::Array::Decode(const RecordData& data) {
  FieldReader r(data.data);
  firstRow = r.U16();
  lastRow = r.U16();
  firstColumn = r.U8();
  lastColumn = r.U8();
  options = r.U16();
  field = r.U32();
  tokens = RemainingBytes(r);
}

void Formula::ShrFmla::Decode(const RecordData& data) {
  FieldReader r(data.data);
  firstRow = r.U16();
  lastRow = r.U16();
  firstColumn = r.U8();
  lastColumn = r.U8();
  field = r.U16();
  tokens = RemainingBytes(r);
}

void Formula::Table::Decode(const RecordData& data) {
  FieldReader r(data.data);
  firstRow = r.U16();
  lastRow = r.U16();
  firstColumn = r.U8();
  lastColumn = r.U8();
  options = r.U16();
  inputRow = r.U16();
  inputColumn = r.U16();
  secondInputRow = r.U16();
  secondInputColumn = r.U16();
}

void Formula::String::Decode(const RecordData& data) {
  FieldReader r(data.data);
  units.resize(data.data.size() / 2);
  for (char16_t& unit : units) unit = static_cast<char16_t>(r.U16());
}

std::uint32_t Formula::Read(ByteSpan bytes) {
  const std::uint32_t consumed = Record::Read(bytes);
  if (consumed == 0) return 0;
  ByteSpan ahead = bytes.subspan(consumed);
  followerId = -1;
  follower = std::monostate{};
  const std::uint16_t next = PeekRecordCode(ahead);
  std::uint32_t followerSize = 0;
  switch (next) {
    case Array::kId:
      followerSize = follower.emplace<Array>().Read(ahead);
      break;
    case kShrFmla:
      followerSize = follower.emplace<ShrFmla>().Read(ahead);
      break;
    case kShrFmla1:
      followerSize = follower.emplace<ShrFmla1>().Read(ahead);
      break;
    case Table::kId:
      followerSize = follower.emplace<Table>().Read(ahead);
      break;
    default:
      break;
  }
  if (followerSize != 0) {
    followerId = next;
    ahead = ahead.subspan(followerSize);
  } else {
    follower = std::monostate{};
  }
  hasString = PeekRecordCode(ahead) == String::kId && string.Read(ahead) != 0;
  return consumed;
}

// ---------------------------------------------------------------------------------------
// CellBlock

bool CellBlock::IsCellRecord(std::uint16_t code) {
  switch (code) {
    case Formula::kId:
    case MulRK::kId:
    case MulBlank::kId:
    case LabelSST::kId:
    case Label::kId:
    case Label::kRStringId:
    case Blank::kId:
    case Number::kId:
    case BoolErr::kId:
    case RK::kId:
      return true;
    default:
      return false;
  }
}

std::uint32_t CellBlock::Read(ByteSpan bytes) {
  switch (PeekRecordCode(bytes)) {
    case Blank::kId:
      return member.emplace<Blank>().Read(bytes);
    case BoolErr::kId:
      return member.emplace<BoolErr>().Read(bytes);
    case LabelSST::kId:
      return member.emplace<LabelSST>().Read(bytes);
    case Label::kId:
    case Label::kRStringId:
      return member.emplace<Label>().Read(bytes);
    case MulBlank::kId:
      return member.emplace<MulBlank>().Read(bytes);
    case MulRK::kId:
      return member.emplace<MulRK>().Read(bytes);
    case Number::kId:
      return member.emplace<Number>().Read(bytes);
    case RK::kId:
      return member.emplace<RK>().Read(bytes);
    case Formula::kId: {
      auto& formula = member.emplace<std::unique_ptr<Formula>>(std::make_unique<Formula>());
      return formula->Read(bytes);
    }
    default:
      return 0;
  }
}

std::uint16_t CellBlock::Type() const {
  return std::visit(
      [](const auto& record) -> std::uint16_t {
        if constexpr (std::is_same_v<std::decay_t<decltype(record)>, std::unique_ptr<Formula>>) {
          return Formula::kId;
        } else {
          return record.Code();
        }
      },
      member);
}

std::uint16_t CellBlock::Row() const {
  return std::visit(
      [](const auto& record) -> std::uint16_t {
        if constexpr (std::is_same_v<std::decay_t<decltype(record)>, std::unique_ptr<Formula>>) {
          return record ? record->row : 0;
        } else {
          return record.row;
        }
      },
      member);
}

std::uint16_t CellBlock::Column() const {
  return std::visit(
      [](const auto& record) -> std::uint16_t {
        using T = std::decay_t<decltype(record)>;
        if constexpr (std::is_same_v<T, std::unique_ptr<Formula>>) {
          return record ? record->column : 0;
        } else if constexpr (std::is_same_v<T, MulBlank> || std::is_same_v<T, MulRK>) {
          return record.firstColumn;
        } else {
          return record.column;
        }
      },
      member);
}

// ---------------------------------------------------------------------------------------
// Walks

std::size_t RowBlock::Read(ByteSpan stream, std::size_t position) {
  const std::size_t start = position;

  // Room for the block's cells is reserved once, from a pass over the record headers up to
  // the block's end, so that a block of any size is filled without reallocation.
  std::size_t cellCount = 0;
  for (std::size_t p = position; p <= stream.size() && stream.size() - p >= 4;) {
    const std::uint16_t code = Le16(stream.data() + p);
    if (code == DBCell::kId || code == RecordId::kEof || code == RecordId::kBof) break;
    if (CellBlock::IsCellRecord(code)) ++cellCount;
    p += 4 + Le16(stream.data() + p + 2);
  }
  cells.reserve(cells.size() + cellCount);

  while (position < stream.size()) {
    const ByteSpan here = stream.subspan(position);
    const std::uint16_t code = PeekRecordCode(here);
    if (code == DBCell::kId) {
      position += dbCell.Read(here);
      break;
    }
    // Writers that put no DBCELL records end the block at the worksheet's EOF, which the
    // worksheet walk then takes, or at the BOF of a substream (a chart) that the worksheet
    // embeds after its cells: that substream's records are not the sheet's cells.
    if (code == RecordId::kEof || code == RecordId::kBof) break;
    std::uint32_t consumed = 0;
    if (CellBlock::IsCellRecord(code)) {
      consumed = cells.emplace_back().Read(here);
      if (consumed == 0) cells.pop_back();
    } else if (code == Row::kId) {
      consumed = rows.emplace_back().Read(here);
      if (consumed == 0) rows.pop_back();
    } else {
      consumed = Record().Read(here);
    }
    if (consumed == 0) break;  // the record runs past the stream
    position += consumed;
  }
  return position - start;
}

std::size_t Worksheet::CellTable::Read(ByteSpan stream, std::size_t position) {
  const std::size_t start = position;
  for (;;) {
    const std::uint16_t code = PeekRecordCode(stream.subspan(position));
    if (code != RowBlock::Row::kId && !CellBlock::IsCellRecord(code)) break;
    const std::size_t consumed = rowBlocks.emplace_back().Read(stream, position);
    if (consumed == 0) {
      rowBlocks.pop_back();
      break;
    }
    position += consumed;
  }
  return position - start;
}

std::size_t Worksheet::Read(ByteSpan stream, std::size_t position) {
  const std::size_t start = position;
  bool embedded = false;  // inside a substream (a chart) that the worksheet holds
  while (position < stream.size()) {
    const ByteSpan here = stream.subspan(position);
    const std::uint16_t code = PeekRecordCode(here);
    if (code == RecordId::kEof) {
      position += std::min<std::size_t>(eof.RecordSize(), here.size());
      break;
    }
    std::size_t consumed = 0;
    switch (code) {
      case RecordId::kBof:
        embedded = position != start;
        consumed = bof.Read(here);
        break;
      case Index::kId:
        consumed = index.Read(here);
        break;
      case Dimensions::kId:
        consumed = dimensions.Read(here);
        break;
      case Window2::kId:
        consumed = window2.Read(here);
        break;
      case CellTable::RowBlock::Row::kId:
        consumed = cellTable.Read(stream, position);
        break;
      default:
        // A cell record before any ROW record, or between the row blocks, starts a block
        // of its own.
        consumed = !embedded && CellBlock::IsCellRecord(code) ? cellTable.Read(stream, position)
                                                              : Record().Read(here);
        break;
    }
    if (consumed == 0) break;  // the record runs past the stream
    position += consumed;
  }
  return position - start;
}

// ---------------------------------------------------------------------------------------
// Grid filling

void TakeRkValue(std::uint32_t rk, CellValue& cell) {
  const bool times100 = (rk & 1u) != 0;
  if ((rk & 2u) != 0) {
    // A signed 30-bit integer in the high bits.
    const std::int32_t payload = static_cast<std::int32_t>(rk) >> 2;
    if (times100)
      cell.SetReal(payload * 0.01);
    else
      cell.SetInteger(payload);
    return;
  }
  // The high 30 bits of an IEEE double whose low 34 bits are zero.
  double value = std::bit_cast<double>(static_cast<std::uint64_t>(rk & 0xFFFFFFFCu) << 32);
  if (times100) value *= 0.01;
  cell.SetReal(value);
}

namespace {

// Calls write(row, column, apply) for every cell a record writes, apply taking the cell.
// Records that write nothing (BLANK, MULBLANK, FORMULA, error values, short records, shared
// string indexes past the table) are passed over.
template <typename Visit>
void ForEachWrittenCell(const Worksheet& sheet, const Workbook::SharedStringTable& sst,
                        Visit visit) {
  const std::size_t stringCount = sst.strings.size();
  for (const RowBlock& block : sheet.cellTable.rowBlocks) {
    for (const CellBlock& cell : block.cells) {
      if (const auto* number = std::get_if<CellBlock::Number>(&cell.member)) {
        if (number->Complete()) {
          visit(number->row, number->column, [number](CellValue& c) { c.SetReal(number->value); });
        }
      } else if (const auto* rk = std::get_if<CellBlock::RK>(&cell.member)) {
        if (rk->Complete())
          visit(rk->row, rk->column, [rk](CellValue& c) { TakeRkValue(rk->rk, c); });
      } else if (const auto* mulRk = std::get_if<CellBlock::MulRK>(&cell.member)) {
        for (std::uint16_t j = 0; j < mulRk->count; ++j) {
          const std::uint32_t value = mulRk->entries[j].rk;
          visit(mulRk->row, mulRk->firstColumn + j,
                [value](CellValue& c) { TakeRkValue(value, c); });
        }
      } else if (const auto* boolErr = std::get_if<CellBlock::BoolErr>(&cell.member)) {
        if (boolErr->Complete() && boolErr->isError == 0) {
          const std::int32_t value = static_cast<std::int8_t>(boolErr->value);
          visit(boolErr->row, boolErr->column, [value](CellValue& c) { c.SetInteger(value); });
        }
      } else if (const auto* inlineLabel = std::get_if<CellBlock::Label>(&cell.member)) {
        if (inlineLabel->Complete()) {
          const RichString& text = inlineLabel->text;
          visit(inlineLabel->row, inlineLabel->column, [&text](CellValue& c) {
            if (text.IsWide())
              c.SetWideText(text.wideText.c_str());
            else
              c.SetText(text.narrowText.c_str());
          });
        }
      } else if (const auto* label = std::get_if<CellBlock::LabelSST>(&cell.member)) {
        if (label->Complete() && label->stringIndex < stringCount) {
          const RichString& text = sst.strings[label->stringIndex];
          visit(label->row, label->column, [&text](CellValue& c) {
            // The texts hold no terminator; the cell takes them up to their first zero.
            if (text.IsWide())
              c.SetWideText(text.wideText.c_str());
            else
              c.SetText(text.narrowText.c_str());
          });
        }
      }
    }
  }
}

}  // namespace

void Worksheet::FillGrid(SheetGrid& grid, const Workbook::SharedStringTable& sharedStrings) const {
  // The extent from DIMENSIONS, grown to hold every cell written (as CellAt grows it), so
  // that no cell is lost and no row is lengthened twice.
  std::uint32_t rows = dimensions.lastRowPlusOne;
  std::uint32_t columns = dimensions.lastColumnPlusOne;
  ForEachWrittenCell(*this, sharedStrings,
                     [&](std::uint32_t row, std::uint32_t column, const auto&) {
                       if (row >= SheetGrid::kMaxRows || column >= SheetGrid::kMaxColumns) return;
                       rows = std::max(rows, row + 1);
                       columns = std::max(columns, column + 1);
                     });
  grid.Reset(rows, columns);
  ForEachWrittenCell(*this, sharedStrings,
                     [&grid](std::uint32_t row, std::uint32_t column, const auto& apply) {
                       if (CellValue* cell = grid.CellAt(row, column)) apply(*cell);
                     });
}

}  // namespace Kalvex
