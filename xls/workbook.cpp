// Globals records of a workbook and the walk over the globals substream.
#include "xls/workbook.h"

#include <algorithm>

namespace Kalvex {

void Workbook::Window1::Decode(const RecordData& data) {
  FieldReader r(data.data);
  horizontalPosition = r.U16();
  verticalPosition = r.U16();
  width = r.U16();
  height = r.U16();
  options = r.U16();
  activeSheet = r.U16();
  firstVisibleTab = r.U16();
  selectedSheets = r.U16();
  tabRatio = r.U16();
}

Workbook::Font::Font() : Record(kId) {
  name.wide = 1;
  name.wideText = u"Arial";
  dataSize_ = 16 + 2 * 5;
}

void Workbook::Font::Decode(const RecordData& data) {
  FieldReader r(data.data);
  height = r.U16();
  options = r.U16();
  colour = r.U16();
  weight = r.U16();
  escapement = r.U16();
  underline = r.U8();
  family = r.U8();
  characterSet = r.U8();
  unused = r.U8();
  name.Read(r);
}

void Workbook::XF::Decode(const RecordData& data) {
  FieldReader r(data.data);
  fontIndex = r.U16();
  formatIndex = r.U16();
  protection = r.U16();
  alignment = r.U8();
  rotation = r.U8();
  indent = r.U8();
  usedAttributes = r.U8();
  borderStyles = r.U32();
  borderColours = r.U32();
  background = r.U16();
}

void Workbook::Style::Decode(const RecordData& data) {
  FieldReader r(data.data);
  xfIndex = r.U16();
  if (IsBuiltIn()) {
    builtInId = r.U8();
    outlineLevel = r.U8();
  } else {
    std::size_t position = 2;
    name.Read(data, position);
  }
}

Workbook::BoundSheet::BoundSheet() : Record(kId) {
  name.narrowText = "Sheet1";
  dataSize_ = 8 + 6;
}

void Workbook::BoundSheet::Decode(const RecordData& data) {
  FieldReader r(data.data);
  position = r.U32();
  visibility = r.U8();
  sheetType = r.U8();
  name.Read(r);
}

void Workbook::SharedStringTable::Decode(const RecordData& data) {
  FieldReader r(data.data);
  totalReferences = r.U32();
  uniqueCount = r.U32();
  strings.clear();
  if (!CountFits()) return;
  strings.reserve(uniqueCount);
  std::size_t position = 8;
  for (std::uint32_t k = 0; k < uniqueCount && position < data.data.size(); ++k) {
    strings.emplace_back();
    if (!strings.back().Read(data, position)) break;  // keeps the part that fitted
  }
}

void Workbook::ExtSST::Decode(const RecordData& data) {
  FieldReader r(data.data);
  stringsPerBucket = r.U16();
  buckets.clear();
  buckets.reserve(r.Remaining() / 8);
  while (r.Remaining() >= 8) {
    Bucket bucket{};
    bucket.streamPosition = r.U32();
    bucket.recordOffset = r.U16();
    bucket.reserved = r.U16();
    buckets.push_back(bucket);
  }
}

std::size_t Workbook::ReadGlobals(ByteSpan stream, std::size_t position) {
  const std::size_t start = position;
  while (position < stream.size()) {
    const ByteSpan here = stream.subspan(position);
    const std::uint16_t code = PeekRecordCode(here);
    if (code == RecordId::kEof) {
      position += std::min<std::size_t>(eof.RecordSize(), here.size());
      break;
    }
    std::uint32_t consumed = 0;
    switch (code) {
      case RecordId::kBof:
        consumed = bof.Read(here);
        break;
      case Window1::kId:
        consumed = window1.Read(here);
        break;
      case Font::kId:
        consumed = fonts.emplace_back().Read(here);
        if (consumed == 0) fonts.pop_back();
        break;
      case XF::kId:
        consumed = xfs.emplace_back().Read(here);
        if (consumed == 0) xfs.pop_back();
        break;
      case Style::kId:
        consumed = styles.emplace_back().Read(here);
        if (consumed == 0) styles.pop_back();
        break;
      case BoundSheet::kId:
        consumed = boundSheets.emplace_back().Read(here);
        if (consumed == 0) boundSheets.pop_back();
        break;
      case SharedStringTable::kId:
        consumed = sharedStrings.Read(here);
        if (consumed != 0 && !sharedStrings.CountFits()) {
          sharedStrings = SharedStringTable();
          return position - start;
        }
        break;
      case kFilePassId:
        // The records after it are ciphertext: decoding them would invent cells.
        return position - start;
      default:
        consumed = Record().Read(here);
        break;
    }
    if (consumed == 0) break;  // the record runs past the stream
    position += consumed;
  }
  return position - start;
}

}  // namespace Kalvex
