// Reader of delimiter-separated text files (.csv, .tsv, .txt): one sheet of decoded cells.
#pragma once

#include <string>
#include <string_view>

#include "xls/cell_model.h"
#include "xls/little_endian.h"

namespace Kalvex {

// The text of a file as UTF-8. A UTF-8 byte-order mark is dropped; UTF-16 with its
// byte-order mark is converted; text without a mark is UTF-8 when it is valid UTF-8 and
// otherwise Latin-1 (bytes 0x80 to 0x9F as Windows code page 1252 has them, the form in
// which Windows programs save Latin-1). False when the bytes are not text: they hold a
// NUL or another control character that no text file holds (tab, line feed, vertical
// tab, form feed, carriage return and a final Ctrl-Z are allowed), or they are a markup
// document (XML, HTML).
bool DecodeText(ByteSpan bytes, std::string& text);

// The field separator: the one of tab, ';' and ',' that the first line (quoted parts
// left out) holds most often; a tie goes to tab, then ';'. ',' when it holds none.
char DetectSeparator(std::string_view text);

// Reads delimiter-separated text into grid (capped at 1,048,576 rows x 16,384 columns,
// its content replaced): one row per line (LF, CR LF or CR), the separator detected from
// the first line, fields quoted as RFC 4180 has it (separators, line breaks and doubled
// quotes inside quotes). A field is a number (Real) when all of it, blanks around it
// ignored, is a decimal number as the C locale writes it; with ';' as separator a decimal
// comma is accepted too. An empty field, or one of blanks only, is an empty cell; any
// other field is Text, as it stands. The extent is the smallest that holds every
// non-empty cell. False when the bytes are not text (DecodeText) or more than
// kMaxFilledCells cells hold values.
bool ReadDelimitedText(ByteSpan bytes, SheetGrid& grid);

}  // namespace Kalvex
