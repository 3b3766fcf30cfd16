// The workbook-globals substream: its records and the walk that decodes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "xls/record.h"

namespace Kalvex {

// The decoded globals of a workbook. Records are plain values; the lists own them.
class Workbook {
 public:
  class Window1 : public Record {
   public:
    static constexpr std::uint16_t kId = 0x003D;
    Window1() : Record(kId) { dataSize_ = 18; }

    std::uint16_t horizontalPosition = 120;  // twips
    std::uint16_t verticalPosition = 120;
    std::uint16_t width = 15135;
    std::uint16_t height = 9300;
    std::uint16_t options = 56;
    std::uint16_t activeSheet = 0;
    std::uint16_t firstVisibleTab = 0;
    std::uint16_t selectedSheets = 1;
    std::uint16_t tabRatio = 600;  // tab bar width per mille of the scroll bar

   protected:
    void Decode(const RecordData& data) override;
  };

  class Font : public Record {
   public:
    static constexpr std::uint16_t kId = 0x0031;
    Font();

    std::uint16_t height = 200;  // twips
    std::uint16_t options = 0;
    std::uint16_t colour = 0x7FFF;
    std::uint16_t weight = 400;
    std::uint16_t escapement = 0;
    std::uint8_t underline = 0;
    std::uint8_t family = 0;
    std::uint8_t characterSet = 0;
    std::uint8_t unused = 0;
    ShortString name;

   protected:
    void Decode(const RecordData& data) override;
  };

  class XF : public Record {
   public:
    static constexpr std::uint16_t kId = 0x00E0;
    XF() : Record(kId) { dataSize_ = 20; }

    std::uint16_t fontIndex = 0;
    std::uint16_t formatIndex = 0;
    std::uint16_t protection = 0xFFF5;  // protection and type flags
    std::uint8_t alignment = 0x20;
    std::uint8_t rotation = 0;
    std::uint8_t indent = 0;  // indent and direction
    std::uint8_t usedAttributes = 0;
    std::uint32_t borderStyles = 0;
    std::uint32_t borderColours = 0;
    std::uint16_t background = 0x20C0;

   protected:
    void Decode(const RecordData& data) override;
  };

  class Style : public Record {
   public:
    static constexpr std::uint16_t kId = 0x0293;
    Style() : Record(kId) { dataSize_ = 4; }

    std::uint16_t xfIndex = 0x8000;   // bit 15: built-in style
    std::uint8_t builtInId = 0;       // built-in styles only
    std::uint8_t outlineLevel = 255;  // built-in styles only
    RichString name;                  // user-defined styles only

    bool IsBuiltIn() const { return (xfIndex & 0x8000) != 0; }

   protected:
    void Decode(const RecordData& data) override;
  };

  class BoundSheet : public Record {
   public:
    static constexpr std::uint16_t kId = 0x0085;
    BoundSheet();

    std::uint32_t position = 0;  // stream position of the sheet's BOF (not used to locate it)
    std::uint8_t visibility = 0;
    std::uint8_t sheetType = 0;
    ShortString name;

   protected:
    void Decode(const RecordData& data) override;
  };

  class SharedStringTable : public Record {
   public:
    static constexpr std::uint16_t kId = 0x00FC;
    SharedStringTable() : Record(kId) { dataSize_ = 8; }

    std::uint32_t totalReferences = 0;
    std::uint32_t uniqueCount = 0;  // as stored; strings holds those the data carried
    std::vector<RichString> strings;

    // False when the stored count cannot fit in the data (a string takes at least 3
    // bytes): the table is damaged and none of its strings is decoded.
    bool CountFits() const { return DataSize() >= 8 && uniqueCount <= (DataSize() - 8) / 3; }

   protected:
    void Decode(const RecordData& data) override;
  };

  class ExtSST : public Record {
   public:
    static constexpr std::uint16_t kId = 0x00FF;
    struct Bucket {
      std::uint32_t streamPosition;
      std::uint16_t recordOffset;
      std::uint16_t reserved;
    };
    ExtSST() : Record(kId) { dataSize_ = 2; }

    std::uint16_t stringsPerBucket = 0;
    std::vector<Bucket> buckets;

   protected:
    void Decode(const RecordData& data) override;
  };

  // The record announcing that everything after it is encrypted.
  static constexpr std::uint16_t kFilePassId = 0x002F;

  // Decodes the globals substream whose BOF is at stream[position], up to and including
  // its EOF. Returns the bytes consumed. A substream without EOF, or a record running past
  // the stream, ends the walk with what was decoded so far. An encrypted workbook
  // (FILEPASS) or a damaged shared string table ends it before that record, so that the
  // walk over the substreams stops there.
  std::size_t ReadGlobals(ByteSpan stream, std::size_t position);

  BOF bof;
  Window1 window1;
  std::vector<Font> fonts;
  std::vector<XF> xfs;
  std::vector<Style> styles;
  std::vector<BoundSheet> boundSheets;
  SharedStringTable sharedStrings;
  ExtSST extSst;
  YEOF eof;
};

}  // namespace Kalvex
