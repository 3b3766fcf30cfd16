// Timing and peak memory of the analysis on generated data sets of the three models, from
// 10,000 to 1,000,000 rows, and of designs with many males.
//
//   analysis_bench [--runs N] [--analysis-only] [--writers] [--cli PATH] [case ...]
//                                            (all cases when none is named)
// --cli times another quorvel-cli (an earlier build, say) in the whole runs.
//
// Two lines per case:
//  - "analysis": AnalyzeDesign in a child process of its own on the data set held in
//    memory (coding, fixed and random stages, correlations), its peak resident memory the
//    child's own;
//  - "whole run": quorvel-cli analyze on a workbook written beforehand (import, all
//    stages, the report written and printed), as a child process: wall time, processor
//    time (user + system) and peak resident memory from wait4. A data set larger than a
//    worksheet holds is written as CSV, and skipped with a message when the program does
//    not read CSV.
// Times are medians of the runs; the processor time tells how much of a wall time on a
// busy machine was the program's own. --writers adds the time of every writer of the
// result (text report, JSON, CSV, .xlsx).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "analysis/analyze_design.h"
#include "analysis/intervals.h"
#include "export/result_export.h"
#include "numeric/distinct_levels.h"
#include "report/text_report.h"
#include "tests/support/cfb_builder.h"

namespace {

using quorvel::DesignData;
using quorvel::ModelKind;

// A generated data set: every family has the same number of progeny in each of its
// cells (block or block-repeat), observations come in shuffled order.
struct CaseSpec {
  const char* name;
  ModelKind kind;
  int blocks;   // 1 for the nested model
  int males;    // per block in the blocked-repeat model, overall otherwise
  int females;  // per male
  int repeats;  // blocked-repeat only
  int progeny;  // per cell
  int traits;
  const char* target;  // the whole run's target, printed beside it
};

const CaseSpec kCases[] = {
    {"nested-10k", ModelKind::Nested, 1, 100, 5, 1, 20, 5, "< 0.3 s"},
    {"blocked-10k", ModelKind::Blocked, 4, 100, 5, 1, 5, 5, "< 0.3 s"},
    {"repeat-10k", ModelKind::BlockedRepeat, 2, 50, 5, 2, 10, 5, "< 0.3 s"},
    {"nested-60k", ModelKind::Nested, 1, 300, 5, 1, 40, 3, "< 2 s, 300 MB"},
    {"blocked-60k", ModelKind::Blocked, 4, 300, 5, 1, 10, 3, "< 2 s, 300 MB"},
    {"repeat-60k", ModelKind::BlockedRepeat, 4, 75, 5, 2, 20, 3, "< 2 s, 300 MB"},
    {"nested-1M", ModelKind::Nested, 1, 1000, 5, 1, 200, 3, "< 20 s, 2 GB"},
    {"blocked-1M", ModelKind::Blocked, 4, 300, 5, 1, 167, 3, ""},
    {"repeat-1M", ModelKind::BlockedRepeat, 4, 75, 5, 2, 333, 3, ""},
    {"males-2000", ModelKind::Nested, 1, 2000, 2, 1, 2, 1, "< 10 s"},
    {"males-5000", ModelKind::Nested, 1, 5000, 2, 1, 2, 1, "< 60 s"},
};

DesignData Generate(const CaseSpec& spec) {
  std::mt19937_64 random(20240521);
  std::normal_distribution<double> normal;
  struct Row {
    std::int32_t block, male, female, repeat;
    double value;
  };
  std::vector<Row> rows;
  const int repeats = spec.kind == ModelKind::BlockedRepeat ? spec.repeats : 1;
  const int maleSets = spec.kind == ModelKind::BlockedRepeat ? spec.blocks : 1;
  for (int set = 0; set < maleSets; ++set) {
    for (int m = 0; m < spec.males; ++m) {
      const double male = normal(random);
      for (int f = 0; f < spec.females; ++f) {
        const double female = 0.7 * normal(random);
        const int blocks = spec.kind == ModelKind::Blocked ? spec.blocks : 1;
        for (int b = 0; b < blocks; ++b) {
          for (int r = 0; r < repeats; ++r) {
            for (int k = 0; k < spec.progeny; ++k) {
              const int block = spec.kind == ModelKind::BlockedRepeat ? set : b;
              rows.push_back({block + 1, 3 * m + 7, f + 1, r + 1, male + female + 0.2 * b});
            }
          }
        }
      }
    }
  }
  std::shuffle(rows.begin(), rows.end(), random);

  DesignData data;
  data.kind = spec.kind;
  const quorvel::ModelSpec& model = quorvel::SpecOf(spec.kind);
  data.factorCount = model.FactorCount();
  for (int f = 0; f < data.factorCount; ++f) data.factorNames[f] = model.factorNames[f];
  data.traitCount = spec.traits;
  data.observationCount = static_cast<int>(rows.size());
  data.factorCodes.assign(static_cast<std::size_t>(data.factorCount), {});
  data.traitValues.assign(static_cast<std::size_t>(spec.traits), {});
  for (const Row& row : rows) {
    std::vector<std::int32_t> codes;
    if (spec.kind != ModelKind::Nested) codes.push_back(row.block);
    codes.push_back(row.male);
    codes.push_back(row.female);
    if (spec.kind == ModelKind::BlockedRepeat) codes.push_back(row.repeat);
    for (int f = 0; f < data.factorCount; ++f) data.factorCodes[f].push_back(codes[f]);
    for (int t = 0; t < spec.traits; ++t) {
      const double value = 50 + 10 * t + (1 + 0.3 * t) * row.value + normal(random);
      data.traitValues[t].push_back(std::round(value * 1e4) / 1e4);  // as a sheet holds it
    }
  }
  for (int f = 0; f < data.factorCount; ++f) {
    data.levelCodes[f] = quorvel::DistinctLevels(data.factorCodes[f]);
    data.levelCounts[f] = static_cast<int>(data.levelCodes[f].size());
  }
  return data;
}

// The data set as a workbook (header and numbers on the first sheet) or, beyond the rows a
// worksheet holds, as CSV. Returns the file's path.
std::string WriteDataSet(const DesignData& data, const std::string& folder,
                         const std::string& name) {
  namespace biff = quorvel::testing::biff;
  std::vector<std::string> header;
  for (int f = 0; f < data.factorCount; ++f) header.push_back(data.factorNames[f]);
  for (int t = 0; t < data.traitCount; ++t) header.push_back("Trait" + std::to_string(t + 1));
  if (data.observationCount + 1 > 65536) {
    const std::string path = folder + "/" + name + ".csv";
    std::ofstream out(path);
    for (std::size_t c = 0; c < header.size(); ++c) out << (c ? "," : "") << header[c];
    out << "\n";
    char number[64];
    for (int i = 0; i < data.observationCount; ++i) {
      for (int f = 0; f < data.factorCount; ++f) out << (f ? "," : "") << data.factorCodes[f][i];
      for (int t = 0; t < data.traitCount; ++t) {
        std::snprintf(number, sizeof number, ",%.4f", data.traitValues[t][i]);
        out << number;
      }
      out << "\n";
    }
    return path;
  }
  quorvel::testing::Bytes strings;
  for (const std::string& text : header) quorvel::testing::Append(strings, biff::SstString8(text));
  quorvel::testing::Bytes globals = biff::BoundSheet("Data");
  quorvel::testing::Append(globals, biff::Sst(static_cast<std::uint32_t>(header.size()), strings));
  const std::uint16_t columns = static_cast<std::uint16_t>(header.size());
  quorvel::testing::Bytes sheet =
      biff::Dimensions(0, static_cast<std::uint32_t>(data.observationCount) + 1, 0, columns);
  // Row blocks of 32 rows: their ROW records, their cells, a DBCELL.
  const int rows = data.observationCount + 1;
  for (int first = 0; first < rows; first += 32) {
    const int last = std::min(rows, first + 32);
    for (int r = first; r < last; ++r)
      quorvel::testing::Append(sheet, biff::Row(static_cast<std::uint16_t>(r)));
    for (int r = first; r < last; ++r) {
      const std::uint16_t row = static_cast<std::uint16_t>(r);
      if (r == 0) {
        for (std::uint16_t c = 0; c < columns; ++c)
          quorvel::testing::Append(sheet, biff::LabelSst(0, c, c));
        continue;
      }
      const int i = r - 1;
      std::uint16_t c = 0;
      for (int f = 0; f < data.factorCount; ++f, ++c)
        quorvel::testing::Append(sheet, biff::Number(row, c, data.factorCodes[f][i]));
      for (int t = 0; t < data.traitCount; ++t, ++c)
        quorvel::testing::Append(sheet, biff::Number(row, c, data.traitValues[t][i]));
    }
    quorvel::testing::Append(sheet, biff::DbCell());
  }
  const std::string path = folder + "/" + name + ".xls";
  const quorvel::testing::Bytes file = biff::WorkbookFile(globals, {sheet});
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  return path;
}

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

struct Measurement {
  double wallMs = 0;
  double cpuMs = 0;
  double peakMiB = 0;
  bool ok = false;
};

// The R peer's whole run of the same job, where the README's table gives one: the
// nested model at 60,000 rows, 3 traits, measured on this machine (192 s, 5.4 GB).
struct PeerFigure {
  const char* name;
  double wallMs;
  double peakMiB;
};
const PeerFigure kPeerFigures[] = {{"nested-60k", 192000.0, 5.4 * 1024.0}};

void PrintPeerRatio(const CaseSpec& spec, const Measurement& m) {
  for (const PeerFigure& peer : kPeerFigures) {
    if (std::strcmp(peer.name, spec.name) != 0) continue;
    std::printf("%-12s %-10s R peer %.0f s, %.1f GiB: %.0fx the time, %.0fx the memory\n", "", "",
                peer.wallMs / 1000.0, peer.peakMiB / 1024.0, peer.wallMs / m.wallMs,
                peer.peakMiB / m.peakMiB);
  }
}

// Runs `body` in a child process and measures it with wait4.
Measurement InChild(const std::function<int()>& body) {
  Measurement m;
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) std::_Exit(body());
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) < 0) return m;
  m.wallMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  m.cpuMs = 1e3 * (Seconds(usage.ru_utime) + Seconds(usage.ru_stime));
  m.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return m;
}

Measurement Median(std::vector<Measurement> runs) {
  auto middle = [&](auto field) {
    std::vector<double> values;
    for (const Measurement& m : runs) values.push_back(m.*field);
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  Measurement m;
  m.wallMs = middle(&Measurement::wallMs);
  m.cpuMs = middle(&Measurement::cpuMs);
  m.peakMiB = middle(&Measurement::peakMiB);
  m.ok = std::all_of(runs.begin(), runs.end(), [](const Measurement& r) { return r.ok; });
  return m;
}

void PrintLine(const CaseSpec& spec, const char* mode, const DesignData& data, const Measurement& m,
               int runs, const char* note) {
  std::printf("%-12s %-10s %8d %6d %10.1f %10.1f %9.1f %4d  %s\n", spec.name, mode,
              data.observationCount, data.traitCount, m.wallMs, m.cpuMs, m.peakMiB, runs, note);
  std::fflush(stdout);
}

// The writers of one result: the time of each.
void MeasureWriters(const DesignData& data, const std::string& folder) {
  const quorvel::AnalysisResult result = quorvel::AnalyzeDesign(data);
  const quorvel::ExportContext context{"bench", "bench"};
  struct Writer {
    const char* name;
    std::function<void()> body;
  };
  const Writer writers[] = {
      {"text report", [&] { quorvel::FormatTextReport(result, "Thu Jan  1 00:00:00 1970"); }},
      {"report + ci",
       [&] {
         quorvel::FormatTextReport(result, "Thu Jan  1 00:00:00 1970",
                                   quorvel::ReportOptions{true});
       }},
      {"json", [&] { quorvel::FormatResultJson(result, context); }},
      {"csv", [&] { quorvel::FormatResultCsv(result); }},
      {"xlsx",
       [&] {
         std::string error;
         quorvel::WriteResultXlsx(result, context, folder + "/results.xlsx", error);
       }},
  };
  for (const Writer& writer : writers) {
    const auto start = std::chrono::steady_clock::now();
    writer.body();
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-12s writer %-14s %10.1f ms\n", "", writer.name, ms);
  }
  // The confidence intervals, a step of the run (included in the analysis above).
  quorvel::AnalysisResult again = result;
  const auto start = std::chrono::steady_clock::now();
  quorvel::AddConfidenceIntervals(again, 0.95);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("%-12s step   %-14s %10.3f ms\n", "", "intervals", ms);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  bool analysisOnly = false;
  bool writers = false;
  std::vector<std::string> names;
  std::string cli = QUORVEL_CLI;
  for (int k = 1; k < argc; ++k) {
    if (std::strcmp(argv[k], "--runs") == 0 && k + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++k]));
    } else if (std::strcmp(argv[k], "--analysis-only") == 0) {
      analysisOnly = true;
    } else if (std::strcmp(argv[k], "--writers") == 0) {
      writers = true;
    } else if (std::strcmp(argv[k], "--cli") == 0 && k + 1 < argc) {
      cli = argv[++k];
    } else {
      names.push_back(argv[k]);
    }
  }
  char pattern[] = "/tmp/analysis_bench_XXXXXX";
  const char* folder = mkdtemp(pattern);
  if (folder == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  std::printf(
      "medians of %d runs on this machine (load average at start: see uptime); wall and\n"
      "processor (user + system) time in ms, peak resident memory (ru_maxrss) in MiB,\n"
      "the data set and the program included\n\n",
      runs);
  std::printf("%-12s %-10s %8s %6s %10s %10s %9s %4s  %s\n", "case", "mode", "N", "traits",
              "wall ms", "cpu ms", "peak MiB", "runs", "target (whole run)");
  for (const CaseSpec& spec : kCases) {
    if (!names.empty() && std::find(names.begin(), names.end(), spec.name) == names.end()) continue;
    const DesignData data = Generate(spec);

    std::vector<Measurement> analysis;
    for (int r = 0; r < runs; ++r) {
      analysis.push_back(InChild([&] {
        quorvel::AnalysisOptions options;
        options.diagnostics = nullptr;
        const quorvel::AnalysisResult result = quorvel::AnalyzeDesign(data, options);
        return result.traits.size() == static_cast<std::size_t>(data.traitCount) ? 0 : 1;
      }));
    }
    PrintLine(spec, "analysis", data, Median(analysis), runs, "");
    if (writers) MeasureWriters(data, folder);
    if (analysisOnly) continue;

    const std::string path = WriteDataSet(data, folder, spec.name);
    const std::string output = std::string(folder) + "/" + spec.name;
    std::filesystem::create_directories(output);
    std::vector<Measurement> whole;
    for (int r = 0; r < runs; ++r) {
      whole.push_back(InChild([&] {
        if (std::freopen("/dev/null", "w", stdout) == nullptr) return 2;
        execl(cli.c_str(), cli.c_str(), "analyze", path.c_str(), "--output-dir", output.c_str(),
              static_cast<char*>(nullptr));
        return 3;
      }));
    }
    const Measurement m = Median(whole);
    if (!m.ok) {
      std::printf("%-12s %-10s %8d %6d  skipped: quorvel-cli does not analyse %s\n", spec.name,
                  "whole run", data.observationCount, data.traitCount,
                  std::filesystem::path(path).filename().c_str());
      continue;
    }
    PrintLine(spec, "whole run", data, m, runs, spec.target);
    PrintPeerRatio(spec, m);
    std::filesystem::remove(path);
  }
  std::filesystem::remove_all(folder);
  return 0;
}
