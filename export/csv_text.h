// Fields of the CSV writers: RFC 4180 quoting and numbers that read back exactly.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// Appends a field as RFC 4180 writes it: quoted, with quotes doubled, when it holds a
// comma, a quote or a line end; as it is otherwise.
void AppendCsvField(std::string& out, std::string_view field);

// Appends the shortest text that reads back as the same double; nothing when the value is
// not finite.
void AppendCsvNumber(std::string& out, double value);

}  // namespace quorvel
