// Record framing, BOF, and the decoding of short and rich strings.
#include "xls/record.h"

#include <algorithm>
#include <limits>

#include "xls/text_encoding.h"

namespace Kalvex {

bool RecordData::Frame(ByteSpan bytes) {
  if (bytes.size() < 4) return false;
  code = Le16(bytes.data());
  const std::uint32_t size = Le16(bytes.data() + 2);
  if (bytes.size() - 4 < size) return false;
  data = bytes.subspan(4, size);
  recordSize = 4 + size;
  continueOffsets.clear();
  joined_.clear();

  // CONTINUE records right after the record extend its data. Their count is bounded so
  // that Record can hold it in 16 bits; any further CONTINUE is passed over on its own.
  while (continueOffsets.size() < std::numeric_limits<std::uint16_t>::max() &&
         bytes.size() - recordSize >= 4 && Le16(bytes.data() + recordSize) == RecordId::kContinue) {
    const std::uint32_t length = Le16(bytes.data() + recordSize + 2);
    if (bytes.size() - recordSize - 4 < length) return false;
    if (joined_.empty()) joined_.assign(data.begin(), data.end());
    continueOffsets.push_back(static_cast<std::uint32_t>(joined_.size()));
    const std::uint8_t* part = bytes.data() + recordSize + 4;
    joined_.insert(joined_.end(), part, part + length);
    recordSize += 4 + length;
  }
  if (!continueOffsets.empty()) data = ByteSpan(joined_.data(), joined_.size());
  return true;
}

std::uint32_t Record::Read(ByteSpan bytes) {
  RecordData frame;
  if (!frame.Frame(bytes)) return 0;
  code_ = frame.code;
  dataSize_ = static_cast<std::uint32_t>(frame.data.size());
  continueCount_ = static_cast<std::uint16_t>(frame.continueOffsets.size());
  Decode(frame);
  return frame.recordSize;
}

void BOF::Decode(const RecordData& data) {
  FieldReader r(data.data);
  version = r.U16();
  substreamType = r.U16();
  buildId = r.U16();
  buildYear = r.U16();
  historyFlags = r.U32();
  lowestVersion = r.U32();
}

void ShortString::Read(FieldReader& reader) {
  const std::size_t count = reader.U8();
  wide = reader.U8();
  wideText.clear();
  narrowText.clear();
  if (wide != 0) {
    const std::size_t n = std::min(count, reader.Remaining() / 2);
    wideText.reserve(n);
    for (std::size_t i = 0; i < n; ++i) wideText.push_back(static_cast<char16_t>(reader.U16()));
  } else {
    const std::size_t n = std::min(count, reader.Remaining());
    AppendLatin1AsUtf8(narrowText, reader.Here(), n);
    reader.Skip(n);
  }
}

std::string ShortString::Utf8() const { return wide != 0 ? Utf16ToUtf8(wideText) : narrowText; }

bool RichString::Read(const RecordData& frame, std::size_t& position) {
  const ByteSpan data = frame.data;
  wideText.clear();
  narrowText.clear();
  runCount = 0;
  extendedSize = 0;

  FieldReader header(data, position);
  const std::size_t count = header.U16();
  options = header.U8();
  if ((options & kRunsFlag) != 0) runCount = header.U16();
  if ((options & kExtendedFlag) != 0) extendedSize = header.U32();
  if (!header.Complete()) {
    position = data.size();
    return false;
  }
  std::size_t pos = header.Position();

  // Characters come in segments. A CONTINUE whose data begins inside the characters still
  // to be read (its very first byte included) starts with a flags byte giving the width of
  // the characters after it.
  const bool wideStorage = (options & kWideFlag) != 0;
  std::size_t width = wideStorage ? 2 : 1;
  auto nextBoundary =
      std::lower_bound(frame.continueOffsets.begin(), frame.continueOffsets.end(), pos);
  std::size_t remaining = count;
  while (remaining > 0) {
    if (nextBoundary != frame.continueOffsets.end() && *nextBoundary == pos) {
      if (pos >= data.size()) break;
      width = (data[pos] & kWideFlag) != 0 ? 2 : 1;
      ++pos;
      ++nextBoundary;
      continue;
    }
    const std::size_t limit =
        nextBoundary != frame.continueOffsets.end() ? *nextBoundary : data.size();
    const std::size_t n = std::min(remaining, (limit - pos) / width);
    if (n == 0) {
      // Half a 16-bit character before a boundary, or the data ends inside the string.
      if (limit == data.size()) break;
      pos = limit;
      continue;
    }
    const std::uint8_t* chars = data.data() + pos;
    if (wideStorage) {
      if (width == 2) {
        for (std::size_t i = 0; i < n; ++i)
          wideText.push_back(static_cast<char16_t>(Le16(chars + 2 * i)));
      } else {
        wideText.append(chars, chars + n);  // Latin-1 widens unit for unit
      }
    } else if (width == 2) {
      AppendUtf16LeAsUtf8(narrowText, chars, n);
    } else {
      AppendLatin1AsUtf8(narrowText, chars, n);
    }
    pos += n * width;
    remaining -= n;
  }
  if (remaining > 0) {
    position = data.size();
    return false;
  }

  // Formatting runs (4 bytes each) and extended data are passed over.
  const std::uint64_t tail = 4ull * runCount + extendedSize;
  if (tail > data.size() - pos) {
    position = data.size();
    return false;
  }
  position = pos + static_cast<std::size_t>(tail);
  return true;
}

}  // namespace Kalvex
