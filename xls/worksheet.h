// A worksheet substream: its records, the walks that decode them, and the filling of the
// worksheet's grid from the decoded cell records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "xls/cell_model.h"
#include "xls/record.h"
#include "xls/workbook.h"

namespace Kalvex {

class Worksheet {
 public:
  class Index : public Record {
   public:
    static constexpr std::uint16_t kId = 0x020B;
    Index() : Record(kId), dbCellPositions(1, 0) { dataSize_ = 20; }

    std::uint32_t reserved1 = 0;
    std::uint32_t firstRow = 0;
    std::uint32_t lastRowPlusOne = 0;
    std::uint32_t reserved2 = 0;
    std::vector<std::uint32_t>
        dbCellPositions;  // those the data holds, at most what the rows imply

   protected:
    void Decode(const RecordData& data) override;
  };

  class Dimensions : public Record {
   public:
    static constexpr std::uint16_t kId = 0x0200;
    Dimensions() : Record(kId) { dataSize_ = 14; }

    std::uint32_t firstRow = 0;
    std::uint32_t lastRowPlusOne = 0;
    std::uint16_t firstColumn = 0;
    std::uint16_t lastColumnPlusOne = 0;
    std::uint16_t reserved = 0;

   protected:
    void Decode(const RecordData& data) override;
  };

  class Window2 : public Record {
   public:
    static constexpr std::uint16_t kId = 0x023E;
    Window2() : Record(kId) { dataSize_ = 18; }

    std::uint16_t options = 0x06B6;
    std::uint16_t firstVisibleRow = 0;
    std::uint16_t firstVisibleColumn = 0;
    std::uint16_t gridLineColour = 64;
    std::uint16_t reserved1 = 0;
    std::uint16_t pageBreakZoom = 0;  // per cent
    std::uint16_t normalZoom = 0;     // per cent
    std::uint32_t reserved2 = 0;

   protected:
    void Decode(const RecordData& data) override;
  };

  // The cell table: row blocks of ROW records and cell records, each closed by a DBCELL
  // (or by the worksheet's EOF for writers that put no DBCELL records).
  class CellTable {
   public:
    class RowBlock {
     public:
      class Row : public Record {
       public:
        static constexpr std::uint16_t kId = 0x0208;
        Row() : Record(kId) { dataSize_ = 16; }

        std::uint16_t row = 0;
        std::uint16_t firstColumn = 0;
        std::uint16_t lastColumnPlusOne = 0;
        std::uint16_t height = 255;
        std::uint16_t reserved1 = 0;
        std::uint16_t reserved2 = 0;
        std::uint32_t options = 0;

       protected:
        void Decode(const RecordData& data) override;
      };

      // One cell record of any kind. The record is held as exactly one of the cell
      // record classes, the one its id names.
      class CellBlock {
       public:
        // The row, column and XF index every single-cell record starts with. A record
        // whose data is shorter than its fixed fields is kept but writes no cell.
        class CellRecord : public Record {
         public:
          std::uint16_t row = 0;
          std::uint16_t column = 0;
          std::uint16_t xf = 0;

         protected:
          explicit CellRecord(std::uint16_t id) : Record(id) {}
          void DecodeCell(FieldReader& r) {
            row = r.U16();
            column = r.U16();
            xf = r.U16();
          }
        };

        class Blank : public CellRecord {
         public:
          static constexpr std::uint16_t kId = 0x0201;
          Blank() : CellRecord(kId) {}

         protected:
          void Decode(const RecordData& data) override;
        };

        class BoolErr : public CellRecord {
         public:
          static constexpr std::uint16_t kId = 0x0205;
          BoolErr() : CellRecord(kId) {}
          bool Complete() const { return dataSize_ >= 8; }

          std::uint8_t value = 0;  // boolean, or error code when isError
          std::uint8_t isError = 0;

         protected:
          void Decode(const RecordData& data) override;
        };

        class LabelSST : public CellRecord {
         public:
          static constexpr std::uint16_t kId = 0x00FD;
          LabelSST() : CellRecord(kId) {}
          bool Complete() const { return dataSize_ >= 10; }

          std::uint32_t stringIndex = 0;  // into the shared string table

         protected:
          void Decode(const RecordData& data) override;
        };

        // A text cell whose string is held in the record itself (LABEL, written by older
        // and non-Excel writers; RSTRING, the same with formatting runs after the string).
        class Label : public CellRecord {
         public:
          static constexpr std::uint16_t kId = 0x0204;
          static constexpr std::uint16_t kRStringId = 0x00D6;
          Label() : CellRecord(kId) {}
          bool Complete() const { return complete; }

          RichString text;
          bool complete = false;  // the fixed fields and the whole string were in the data

         protected:
          void Decode(const RecordData& data) override;
        };

        // A run of blank cells in one row.
        class MulBlank : public Record {
         public:
          static constexpr std::uint16_t kId = 0x00BE;
          MulBlank() : Record(kId) {}

          std::uint16_t row = 0;
          std::uint16_t firstColumn = 0;
          std::uint16_t lastColumn = 0;  // the record's last 2 bytes
          std::uint16_t count = 0;       // XF indexes held: the columns the data really covers
          std::unique_ptr<std::uint16_t[]> xfIndexes;

         protected:
          void Decode(const RecordData& data) override;
        };

        // A run of RK numbers in one row.
        class MulRK : public Record {
         public:
          static constexpr std::uint16_t kId = 0x00BD;
          struct Entry {
            std::uint16_t xf;
            std::uint32_t rk;
          };
          MulRK() : Record(kId) {}

          std::uint16_t row = 0;
          std::uint16_t firstColumn = 0;
          std::uint16_t lastColumn = 0;  // the record's last 2 bytes
          std::uint16_t count = 0;       // entries held: the columns the data really covers
          std::unique_ptr<Entry[]> entries;

         protected:
          void Decode(const RecordData& data) override;
        };

        class Number : public CellRecord {
         public:
          static constexpr std::uint16_t kId = 0x0203;
          Number() : CellRecord(kId) {}
          bool Complete() const { return dataSize_ >= 14; }

          double value = 0.0;

         protected:
          void Decode(const RecordData& data) override;
        };

        class RK : public CellRecord {
         public:
          static constexpr std::uint16_t kId = 0x027E;
          RK() : CellRecord(kId) {}
          bool Complete() const { return dataSize_ >= 10; }

          std::uint32_t rk = 0;  // bit 0: x100, bit 1: integer, bits 2-31: payload

         protected:
          void Decode(const RecordData& data) override;
        };

        // A formula with the records that may follow it. The cell's value is not taken
        // from a formula: its cached result is kept as raw bytes only.
        class Formula : public CellRecord {
         public:
          static constexpr std::uint16_t kId = 0x0006;

          class Array : public Record {
           public:
            static constexpr std::uint16_t kId = 0x0221;
            Array() : Record(kId) {}
            std::uint16_t firstRow = 0, lastRow = 0;
            std::uint8_t firstColumn = 0, lastColumn = 0;
            std::uint16_t options = 0;
            std::uint32_t field = 0;
            std::vector<std::uint8_t> tokens;

           protected:
            void Decode(const RecordData& data) override;
          };

          class ShrFmla : public Record {
           public:
            static constexpr std::uint16_t kId = 0x00BC;
            ShrFmla() : Record(kId) {}
            std::uint16_t firstRow = 0, lastRow = 0;
            std::uint8_t firstColumn = 0, lastColumn = 0;
            std::uint16_t field = 0;
            std::vector<std::uint8_t> tokens;

           protected:
            explicit ShrFmla(std::uint16_t id) : Record(id) {}
            void Decode(const RecordData& data) override;
          };

          // The same layout under another id.
          class ShrFmla1 : public ShrFmla {
           public:
            static constexpr std::uint16_t kId = 0x04BC;
            ShrFmla1() : ShrFmla(kId) {}
          };

          class Table : public Record {
           public:
            static constexpr std::uint16_t kId = 0x0036;
            Table() : Record(kId) {}
            std::uint16_t firstRow = 0, lastRow = 0;
            std::uint8_t firstColumn = 0, lastColumn = 0;
            std::uint16_t options = 0;
            std::uint16_t inputRow = 0, inputColumn = 0;
            std::uint16_t secondInputRow = 0, secondInputColumn = 0;

           protected:
            void Decode(const RecordData& data) override;
          };

          class String : public Record {
           public:
            static constexpr std::uint16_t kId = 0x0207;
            String() : Record(kId) {}
            std::u16string units;  // the data as 16-bit units

           protected:
            void Decode(const RecordData& data) override;
          };

          Formula() : CellRecord(kId) {}
          // Reads the FORMULA record, then looks ahead: an ARRAY, SHRFMLA, SHRFMLA1 or TABLE
          // right after it, and a STRING after that, are decoded too. Only the FORMULA's
          // own bytes count as consumed, so the walk meets the followers again.
          std::uint32_t Read(ByteSpan bytes) override;

          std::uint8_t cachedResult[8] = {};
          std::uint16_t options = 0;
          std::uint16_t field = 0;
          std::vector<std::uint8_t> tokens;
          std::int32_t followerId = -1;  // id of the follower decoded, -1 when none
          std::variant<std::monostate, Array, ShrFmla, ShrFmla1, Table> follower;
          String string;  // meaningful when hasString
          bool hasString = false;

         protected:
          void Decode(const RecordData& data) override;
        };

        using Member = std::variant<Blank, BoolErr, LabelSST, Label, MulBlank, MulRK, Number, RK,
                                    std::unique_ptr<Formula>>;

        static bool IsCellRecord(std::uint16_t code);
        // Decodes the cell record at bytes[0] into the member its id names. Returns the
        // bytes consumed, 0 when the record runs past the end or is no cell record.
        std::uint32_t Read(ByteSpan bytes);

        std::uint16_t Type() const;  // the record id
        std::uint16_t Row() const;
        std::uint16_t Column() const;  // the first column for MULBLANK and MULRK

        Member member;
      };

      class DBCell : public Record {
       public:
        static constexpr std::uint16_t kId = 0x00D7;
        DBCell() : Record(kId) {}

        std::uint32_t firstRowOffset = 0;        // back to the block's first ROW
        std::vector<std::uint16_t> cellOffsets;  // to each row's first cell

       protected:
        void Decode(const RecordData& data) override;
      };

      // Decodes one row block from stream[position] up to and including its DBCELL. A
      // block without DBCELL ends before the EOF that closes the worksheet, before the BOF
      // of a substream embedded in the worksheet, or at the end of the stream, and keeps its
      // cells. Returns the bytes consumed.
      std::size_t Read(ByteSpan stream, std::size_t position);

      std::vector<Row> rows;
      std::vector<CellBlock> cells;
      DBCell dbCell;
    };

    // Decodes consecutive row blocks while the record at the position is a ROW or a cell
    // record (some writers put cells outside any ROW/DBCELL row block; such a block runs
    // to the next DBCELL or to the worksheet's EOF).
    std::size_t Read(ByteSpan stream, std::size_t position);

    std::vector<RowBlock> rowBlocks;
  };

  Worksheet() { bof.substreamType = BOF::kWorksheet; }

  // Decodes the worksheet substream whose BOF is at stream[position], up to and including
  // its EOF. Returns the bytes consumed; a record running past the stream ends the walk
  // with what was decoded so far. Cell records are read wherever they stand in the
  // worksheet's own records, inside row blocks or not; those of a substream embedded in
  // the worksheet (a chart's data) are passed over.
  std::size_t Read(ByteSpan stream, std::size_t position);

  // Sizes grid from DIMENSIONS, grown to hold every cell a record writes, and writes the
  // cells in file order (a later record for a position wins). Shared strings are taken from
  // sharedStrings; an index past its strings leaves the cell as it is.
  void FillGrid(SheetGrid& grid, const Workbook::SharedStringTable& sharedStrings) const;

  BOF bof;
  Index index;
  Dimensions dimensions;
  CellTable cellTable;
  Window2 window2;
  YEOF eof;
};

// Takes an RK value into a cell: an Integer for an integer without the x100 flag, a Real
// otherwise (payload x 0.01 with the x100 flag).
void TakeRkValue(std::uint32_t rk, CellValue& cell);

}  // namespace Kalvex
