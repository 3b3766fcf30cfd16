// Load benchmark of the reader: for each workbook, the median load time over repeated
// loads, the peak of heap bytes in use during one load, and the growth of the resident set
// (high-water mark) that one load causes in a fresh process.
//   xls_load_bench [FILE...]    (default: the 10,000-row fixture)
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "xls/cell_model.h"
#include "xls/xls_document.h"

namespace {

// Heap accounting through the global allocation functions.
std::size_t heapInUse = 0;
std::size_t heapPeak = 0;

void* Allocate(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  heapInUse += malloc_usable_size(p);
  heapPeak = std::max(heapPeak, heapInUse);
  return p;
}

void Release(void* p) {
  if (p == nullptr) return;
  heapInUse -= malloc_usable_size(p);
  std::free(p);
}

// A field of /proc/self/status in KiB.
long StatusKiB(const char* field) {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return -1;
  char line[256];
  long value = -1;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, field, std::strlen(field)) == 0)
      value = std::strtol(line + std::strlen(field) + 1, nullptr, 10);
  }
  std::fclose(status);
  return value;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// Child mode: one load in this fresh process, printing the resident-set growth in KiB.
int MeasureResidentGrowth(const char* path) {
  const long before = StatusKiB("VmRSS:");
  Kalvex::XlsDocument document;
  if (!document.Load(path)) return 1;
  std::printf("%ld\n", StatusKiB("VmHWM:") - before);
  return 0;
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--resident") == 0) return MeasureResidentGrowth(argv[2]);

  std::vector<std::string> files(argv + 1, argv + argc);
  if (files.empty()) files.push_back(QUORVEL_DEFAULT_WORKBOOK);
  constexpr int kRepeats = 31;

  std::printf("%-28s %10s %8s %11s %9s %11s %9s\n", "workbook", "bytes", "sheets", "median ms",
              "min ms", "heap peak", "x file");
  for (const std::string& file : files) {
    const double fileBytes = static_cast<double>(std::filesystem::file_size(file));
    std::vector<double> times;
    std::uint32_t sheets = 0;
    for (int k = 0; k < kRepeats; ++k) {
      const std::size_t baseline = heapInUse;
      heapPeak = heapInUse;
      const auto start = std::chrono::steady_clock::now();
      {
        Kalvex::XlsDocument document;
        if (!document.Load(file.c_str())) {
          std::printf("%s: does not load\n", file.c_str());
          break;
        }
        sheets = document.SheetCount();
      }
      times.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
      heapPeak -= baseline;
    }
    if (times.empty()) continue;
    std::printf("%-28s %10.0f %8u %11.2f %9.2f %8.2f MB %9.2f\n",
                std::filesystem::path(file).filename().string().substr(0, 28).c_str(), fileBytes,
                sheets, Median(times), *std::min_element(times.begin(), times.end()),
                heapPeak / 1e6, heapPeak / fileBytes);

    // The resident-set growth of a single load, measured in a fresh process.
    const std::string command = std::string("\"") + argv[0] + "\" --resident \"" + file + "\"";
    if (std::FILE* child = popen(command.c_str(), "r")) {
      long kib = -1;
      if (std::fscanf(child, "%ld", &kib) == 1) {
        std::printf("%-28s resident high-water growth %.2f MB (%.2f x file)\n", "",
                    kib * 1024 / 1e6, kib * 1024 / fileBytes);
      }
      pclose(child);
    }
  }

  // A grid that claims the largest extent but holds ten cells: its storage follows the
  // cells written, not the extent.
  {
    const std::size_t baseline = heapInUse;
    Kalvex::SheetGrid grid;
    grid.Reset(Kalvex::SheetGrid::kMaxRows, Kalvex::SheetGrid::kMaxColumns);
    for (std::uint32_t k = 0; k < 10; ++k) grid.CellAt(k * 6553u, k * 25u)->SetReal(k);
    std::printf("\ngrid claiming %u x %u with 10 cells: %.1f KB of heap\n", grid.RowCount(),
                grid.ColumnCount(), (heapInUse - baseline) / 1e3);
  }
  return 0;
}
