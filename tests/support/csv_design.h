// Test support: a DesignData read from a plain CSV data table (header row of factor and
// trait names, then one row of numbers per observation), for analysis tests that must not
// depend on the workbook reader.
#pragma once

#include <string>

#include "import/design_data.h"

namespace quorvel::testing {

// Reads the CSV at path; the layout follows the header as the sheet validation decides it.
// Rows that are empty or hold a non-number end the data. Returns a data set of kind None
// when the file cannot be read.
DesignData LoadDesignCsv(const std::string& path);

}  // namespace quorvel::testing
