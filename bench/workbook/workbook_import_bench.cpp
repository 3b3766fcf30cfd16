// Import benchmark of every format: for each workbook, the median time of an import (open
// the file, validate the first sheet, write the data echo) over repeated runs, and the
// peak resident memory of one import in a fresh process.
//   workbook_import_bench [--million] [--analyze] [--keep DIR]
// Workbooks: the 10,000-row fixture as .xls, .xlsx and semicolon .csv (as committed) and as
// .ods (written here from its data), and a generated nested design of 60,000 rows x 5
// columns as .xlsx (written by libxlsxwriter), .ods and .csv. --million adds 1,000,000
// rows x 5 columns as .csv and .xlsx; --analyze also times the whole `quorvel-cli analyze`
// of the million-row .csv (implies --million). Generated files go to a temporary folder,
// removed at the end unless --keep names one.
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <xlsxwriter.h>
#include <zip.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "import/data_echo.h"
#include "import/read_design_sheet.h"
#include "workbook/open_workbook.h"

namespace {

namespace fs = std::filesystem;

// A nested design: males x females per male x progeny, three traits with male, female and
// residual effects, values with three decimals, in sheet order by male and female.
struct Design {
  int males;
  int femalesPerMale;
  int progeny;
  std::vector<std::array<double, 5>> rows;  // Male, Female, Trait1..3
};

Design MakeDesign(int males, int femalesPerMale, int progeny) {
  Design design{males, femalesPerMale, progeny, {}};
  std::mt19937_64 random(20240611);
  std::normal_distribution<double> normal(0.0, 1.0);
  design.rows.reserve(static_cast<std::size_t>(males) * femalesPerMale * progeny);
  for (int m = 1; m <= males; ++m) {
    const double maleEffect[3] = {8 * normal(random), 1.5 * normal(random), 3 * normal(random)};
    for (int f = 1; f <= femalesPerMale; ++f) {
      const double femaleEffect[3] = {6 * normal(random), normal(random), 2 * normal(random)};
      for (int k = 0; k < progeny; ++k) {
        std::array<double, 5> row{static_cast<double>(m), static_cast<double>(f), 0, 0, 0};
        const double means[3] = {280.0, 26.0, 55.0};
        const double noise[3] = {20.0, 3.0, 6.0};
        for (int t = 0; t < 3; ++t) {
          row[2 + t] =
              std::round((means[t] + maleEffect[t] + femaleEffect[t] + noise[t] * normal(random)) *
                         1000) /
              1000;
        }
        design.rows.push_back(row);
      }
    }
  }
  return design;
}

const char* const kHeader[5] = {"Male", "Female", "Trait1", "Trait2", "Trait3"};

// Rows of the fixture's CSV source as numbers (the header left out).
Design ReadCsvDesign(const std::string& path) {
  Design design{0, 0, 0, {}};
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::array<double, 5> row{};
    std::size_t start = 0;
    for (int c = 0; c < 5; ++c) {
      const std::size_t end = line.find_first_of(",;", start);
      std::string field =
          line.substr(start, end == std::string::npos ? std::string::npos : end - start);
      std::replace(field.begin(), field.end(), ',', '.');
      row[c] = std::strtod(field.c_str(), nullptr);
      start = end == std::string::npos ? line.size() : end + 1;
    }
    design.rows.push_back(row);
  }
  return design;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

void WriteCsv(const Design& design, const std::string& path) {
  std::FILE* out = std::fopen(path.c_str(), "w");
  std::fprintf(out, "Male,Female,Trait1,Trait2,Trait3\n");
  for (const auto& row : design.rows) {
    std::fprintf(out, "%.0f,%.0f,%.3f,%.3f,%.3f\n", row[0], row[1], row[2], row[3], row[4]);
  }
  std::fclose(out);
}

void WriteXlsx(const Design& design, const std::string& path) {
  lxw_workbook_options options = {};
  options.constant_memory = LXW_TRUE;
  lxw_workbook* book = workbook_new_opt(path.c_str(), &options);
  lxw_worksheet* sheet = workbook_add_worksheet(book, nullptr);
  for (lxw_col_t c = 0; c < 5; ++c) worksheet_write_string(sheet, 0, c, kHeader[c], nullptr);
  for (std::size_t r = 0; r < design.rows.size(); ++r) {
    for (lxw_col_t c = 0; c < 5; ++c) {
      worksheet_write_number(sheet, static_cast<lxw_row_t>(r + 1), c, design.rows[r][c], nullptr);
    }
  }
  workbook_close(book);
}

// The .ods as a spreadsheet program writes it: a mimetype member first and stored,
// content.xml with typed cells, and the trailing empty rows repeated to the last row.
void WriteOds(const Design& design, const std::string& path) {
  std::string content =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content "
      "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" office:version=\"1.3\">"
      "<office:body><office:spreadsheet><table:table table:name=\"Sheet1\">"
      "<table:table-column table:number-columns-repeated=\"5\"/><table:table-row>";
  for (const char* name : kHeader) {
    content += "<table:table-cell office:value-type=\"string\"><text:p>";
    content += name;
    content += "</text:p></table:table-cell>";
  }
  content += "</table:table-row>";
  for (const auto& row : design.rows) {
    content += "<table:table-row>";
    for (double value : row) {
      const std::string number = Number(value);
      content += "<table:table-cell office:value-type=\"float\" office:value=\"" + number +
                 "\"><text:p>" + number + "</text:p></table:table-cell>";
    }
    content += "</table:table-row>";
  }
  content += "<table:table-row table:number-rows-repeated=\"" +
             std::to_string(1048575 - design.rows.size()) +
             "\"><table:table-cell table:number-columns-repeated=\"5\"/></table:table-row>"
             "</table:table></office:spreadsheet></office:body></office:document-content>";
  static const char kMimeType[] = "application/vnd.oasis.opendocument.spreadsheet";
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  const zip_int64_t mime = zip_file_add(
      archive, "mimetype", zip_source_buffer(archive, kMimeType, std::strlen(kMimeType), 0), 0);
  zip_set_file_compression(archive, static_cast<zip_uint64_t>(mime), ZIP_CM_STORE, 0);
  zip_file_add(archive, "content.xml",
               zip_source_buffer(archive, content.data(), content.size(), 0), 0);
  zip_close(archive);
}

// One import as the Open command does it, the echo written into folder.
bool Import(const std::string& path, const fs::path& folder) {
  Kalvex::OpenedWorkbook workbook;
  if (!Kalvex::OpenWorkbook(path.c_str(), workbook, Kalvex::SheetSelection::FirstOnly) ||
      workbook.SheetCount() < 1) {
    return false;
  }
  quorvel::DesignSheet sheet;
  if (quorvel::ReadDesignSheet(*workbook.Sheet(0), sheet)) return false;
  return quorvel::WriteDataEcho((folder / "tmp.txt").string(), sheet.data, sheet.traitNames);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// Peak resident memory of one import in a fresh process, in MB; -1 when it failed.
double PeakMegabytes(const char* self, const std::string& path, const fs::path& folder) {
  const pid_t child = fork();
  if (child == 0) {
    execl(self, self, "--import-once", path.c_str(), folder.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  return usage.ru_maxrss * 1024 / 1e6;  // ru_maxrss is in KiB
}

double ProcessSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// Wall-clock and processor time: the machine may be shared, and the processor time of
// the (single-threaded) import is what it costs when it has a core to itself.
void Measure(const char* self, const std::string& label, const std::string& path, int repeats,
             const fs::path& folder) {
  std::vector<double> wall;
  std::vector<double> processor;
  for (int k = 0; k < repeats; ++k) {
    const auto start = std::chrono::steady_clock::now();
    const double startProcessor = ProcessSeconds();
    if (!Import(path, folder)) {
      std::printf("%-34s does not import\n", label.c_str());
      return;
    }
    processor.push_back(ProcessSeconds() - startProcessor);
    wall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::printf("%-34s %7.1f MB %9.3f s %9.3f s %9.3f s %8.1f MB\n", label.c_str(),
              fs::file_size(path) / 1e6, Median(wall), *std::min_element(wall.begin(), wall.end()),
              Median(processor), PeakMegabytes(self, path, folder));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--import-once") == 0)
    return Import(argv[2], argv[3]) ? 0 : 1;

  bool million = false;
  bool analyze = false;
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--million") == 0)
      million = true;
    else if (std::strcmp(argv[i], "--analyze") == 0)
      million = analyze = true;
    else if (std::strcmp(argv[i], "--keep") == 0 && i + 1 < argc)
      keep = argv[++i];
    else {
      std::fprintf(stderr, "usage: %s [--million] [--analyze] [--keep DIR]\n", argv[0]);
      return 2;
    }
  }
  const fs::path folder = keep.empty() ? fs::temp_directory_path() /
                                             ("quorvel_import_bench_" + std::to_string(getpid()))
                                       : fs::path(keep);
  fs::create_directories(folder);
  const std::string data = QUORVEL_TEST_DATA;

  std::printf("%-34s %10s %11s %11s %11s %11s\n", "workbook", "file", "wall median", "wall min",
              "cpu median", "peak RSS");
  // The 10,000-row fixture: 10,001 rows x 7 columns.
  const Design fixture = ReadCsvDesign(data + "/modern/nested_10000.semicolon.csv");
  WriteOds(fixture, (folder / "nested_10000.ods").string());
  Measure(argv[0], "nested_10000 .xls (LibreOffice)", data + "/xls/fixtures/nested_10000.lo.xls",
          11, folder);
  Measure(argv[0], "nested_10000 .xlsx (LibreOffice)", data + "/modern/nested_10000.lo.xlsx", 11,
          folder);
  Measure(argv[0], "nested_10000 .ods", (folder / "nested_10000.ods").string(), 11, folder);
  Measure(argv[0], "nested_10000 .csv (semicolons)", data + "/modern/nested_10000.semicolon.csv",
          11, folder);

  // 60,000 rows x 5 columns: 100 males x 20 females x 30 progeny.
  const Design sixty = MakeDesign(100, 20, 30);
  WriteXlsx(sixty, (folder / "rows_60000.xlsx").string());
  WriteOds(sixty, (folder / "rows_60000.ods").string());
  WriteCsv(sixty, (folder / "rows_60000.csv").string());
  Measure(argv[0], "60,000 x 5 .xlsx (libxlsxwriter)", (folder / "rows_60000.xlsx").string(), 11,
          folder);
  Measure(argv[0], "60,000 x 5 .ods", (folder / "rows_60000.ods").string(), 11, folder);
  Measure(argv[0], "60,000 x 5 .csv", (folder / "rows_60000.csv").string(), 11, folder);

  if (million) {
    // 1,000,000 rows x 5 columns: 100 males x 50 females x 200 progeny.
    const Design big = MakeDesign(100, 50, 200);
    WriteXlsx(big, (folder / "rows_1000000.xlsx").string());
    WriteCsv(big, (folder / "rows_1000000.csv").string());
    Measure(argv[0], "1,000,000 x 5 .xlsx (libxlsxwriter)", (folder / "rows_1000000.xlsx").string(),
            3, folder);
    Measure(argv[0], "1,000,000 x 5 .csv", (folder / "rows_1000000.csv").string(), 3, folder);
  }
  // Grid storage follows the stored cells: a grid that claims the largest extent with ten
  // cells, and the heap per row of a filled 1,000,000 x 5 grid.
  {
    const std::size_t before = mallinfo2().uordblks;
    Kalvex::SheetGrid sparse(Kalvex::SheetGrid::kLargeMaxRows, Kalvex::SheetGrid::kLargeMaxColumns);
    for (std::uint32_t k = 0; k < 10; ++k)
      sparse.CellAt(k * 104857u + 6, k * 1820u + 3)->SetReal(k);
    sparse.CellAt(1048575, 16383)->SetReal(1);
    std::printf("\ngrid claiming %u x %u with 11 cells: %.1f KB of heap\n", sparse.RowCount(),
                sparse.ColumnCount(), (mallinfo2().uordblks - before) / 1e3);
    Kalvex::SheetGrid full(Kalvex::SheetGrid::kLargeMaxRows, Kalvex::SheetGrid::kLargeMaxColumns);
    const std::size_t filledBefore = mallinfo2().uordblks;
    for (std::uint32_t r = 0; r < 1000000; ++r) {
      for (std::uint32_t c = 0; c < 5; ++c) full.CellAt(r, c)->SetReal(r + c);
    }
    const double bytes = static_cast<double>(mallinfo2().uordblks - filledBefore);
    std::printf("grid of 1,000,000 x 5 numbers: %.1f MB of heap, %.0f bytes a row\n", bytes / 1e6,
                bytes / 1e6);
  }
#ifdef QUORVEL_CLI
  if (analyze) {
    // The whole nested-model run of the command-line program, report written.
    const std::string command = std::string("\"") + QUORVEL_CLI + "\" analyze \"" +
                                (folder / "rows_1000000.csv").string() + "\" --output-dir \"" +
                                folder.string() + "\" > /dev/null";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "\nquorvel-cli analyze of the 1,000,000-row .csv (model 3, 3 traits): %.1f s, exit status "
        "%d\n",
        seconds, WEXITSTATUS(status));
  }
#else
  if (analyze) std::printf("\n(no quorvel-cli in this build: the analysis is not timed)\n");
#endif
  if (keep.empty()) fs::remove_all(folder);
  return 0;
}
