// Record framing of the workbook stream and the records shared by all substreams: the
// Record base, BOF, EOF (YEOF), and the two string layouts ShortString and RichString.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "xls/little_endian.h"

namespace Kalvex {

// Record identifiers the walks dispatch on.
namespace RecordId {
inline constexpr std::uint16_t kBof = 0x0809;
inline constexpr std::uint16_t kEof = 0x000A;
inline constexpr std::uint16_t kContinue = 0x003C;
}  // namespace RecordId

// One record's data as the framing sees it: the record's own data followed by the data of
// every CONTINUE record after it. Without CONTINUE records the data is a view of the
// stream; otherwise the joined bytes are held here for as long as the frame lives.
class RecordData {
 public:
  // Frames the record whose header is at bytes[0]. False when the header or the data of
  // the record or of one of its CONTINUE records runs past the end of bytes.
  bool Frame(ByteSpan bytes);

  std::uint16_t code = 0;
  ByteSpan data;                               // the joined data
  std::uint32_t recordSize = 0;                // stream bytes, headers included
  std::vector<std::uint32_t> continueOffsets;  // where each CONTINUE's data begins in data

 private:
  std::vector<std::uint8_t> joined_;
};

// The base of every record class. A plain Record passes over a record the reader does not
// decode. Records keep their decoded fields only, never a copy of their bytes.
class Record {
 public:
  Record() = default;
  explicit Record(std::uint16_t code) : code_(code) {}
  Record(const Record&) = default;
  Record& operator=(const Record&) = default;
  Record(Record&&) noexcept = default;
  Record& operator=(Record&&) noexcept = default;
  virtual ~Record() = default;

  // Frames the record at bytes[0] (with its CONTINUE records) and decodes its fields.
  // Returns the stream bytes consumed, or 0 when the record runs past the end of bytes;
  // nothing is decoded then.
  virtual std::uint32_t Read(ByteSpan bytes);
  virtual std::uint32_t DataSize() const { return dataSize_; }
  // Bytes the record took in the stream: 4 + data size, plus 4 per merged CONTINUE.
  virtual std::uint32_t RecordSize() const { return 4 + dataSize_ + 4u * continueCount_; }
  std::uint16_t Code() const { return code_; }

 protected:
  // Decodes the fields from the framed data; the plain record keeps nothing.
  virtual void Decode(const RecordData& /*data*/) {}

  std::uint16_t code_ = 0;
  std::uint16_t continueCount_ = 0;
  std::uint32_t dataSize_ = 0;
};

// The code of the record at bytes[0], or 0 when fewer than 2 bytes are left.
inline std::uint16_t PeekRecordCode(ByteSpan bytes) {
  return bytes.size() >= 2 ? Le16(bytes.data()) : 0;
}

// Beginning of a substream.
class BOF : public Record {
 public:
  static constexpr std::uint16_t kGlobals = 0x0005;
  static constexpr std::uint16_t kWorksheet = 0x0010;

  // Defaults of a workbook-globals BOF; a worksheet sets substreamType to kWorksheet.
  BOF() : Record(RecordId::kBof) { dataSize_ = 16; }

  std::uint16_t version = 0x0600;
  std::uint16_t substreamType = kGlobals;
  std::uint16_t buildId = 6560;
  std::uint16_t buildYear = 1997;
  std::uint32_t historyFlags = 0xC0C9;
  std::uint32_t lowestVersion = 0x0306;

 protected:
  void Decode(const RecordData& data) override;
};

// End of a substream; no data.
class YEOF : public Record {
 public:
  YEOF() : Record(RecordId::kEof) {}
};

// A name of up to 255 characters (FONT, BOUNDSHEET): count (1), flags (1), characters of
// 1 or 2 bytes. Exactly one text is kept: the 16-bit one when the flags byte is non-zero.
struct ShortString {
  std::u16string wideText;
  std::string narrowText;  // UTF-8
  std::uint8_t wide = 0;   // non-zero: the characters are 16-bit

  // Reads from the reader's position; characters past the data are left out.
  void Read(FieldReader& reader);
  // The text as UTF-8 whichever form it is stored in.
  std::string Utf8() const;
};

// A string of the shared string table or a style name, whose characters may be split by
// CONTINUE records. The storage follows the width of its first segment: the 16-bit array
// when bit 0 of the string's own flags is set, the 8-bit (UTF-8) array otherwise.
struct RichString {
  static constexpr std::uint8_t kWideFlag = 0x01;
  static constexpr std::uint8_t kExtendedFlag = 0x04;
  static constexpr std::uint8_t kRunsFlag = 0x08;

  std::u16string wideText;
  std::string narrowText;  // UTF-8
  std::uint8_t options = 255;
  std::uint16_t runCount = 0;
  std::uint32_t extendedSize = 0;

  bool IsWide() const { return options != 255 && (options & kWideFlag) != 0; }

  // Reads the string at data position `position`, following the character width across
  // the frame's continue offsets, and moves position past its runs and extended data.
  // False when the string runs past the data: what fitted is kept, position is the end.
  bool Read(const RecordData& frame, std::size_t& position);
};

}  // namespace Kalvex
