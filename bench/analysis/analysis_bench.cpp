// Timing and peak memory of the fixed-model stage and of whole analysis runs on generated
// data sets of the three models. Each case runs in a child process of its own, so that
// its peak resident memory (VmHWM) is its own; times are medians of repeated runs.
//
//   analysis_bench [--runs N] [--fixed-only] [--writers] [case ...]
//                                            (all cases when none is named)
// --writers adds, after each whole run, the time of every writer of its result (text
// report, JSON, CSV, .xlsx) and its share of the run.
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
#include "analysis/fixed_model.h"
#include "analysis/intervals.h"
#include "analysis/model_coding.h"
#include "app/commands/analysis_run.h"
#include "export/result_export.h"
#include "numeric/distinct_levels.h"
#include "report/text_report.h"

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
};

const CaseSpec kCases[] = {
    {"nested-10k", ModelKind::Nested, 1, 100, 5, 1, 20, 5},
    {"nested-60k", ModelKind::Nested, 1, 300, 5, 1, 40, 3},
    {"blocked-10k", ModelKind::Blocked, 4, 100, 5, 1, 5, 5},
    {"blocked-60k", ModelKind::Blocked, 4, 300, 5, 1, 10, 3},
    {"repeat-10k", ModelKind::BlockedRepeat, 2, 50, 5, 2, 10, 5},
    {"repeat-60k", ModelKind::BlockedRepeat, 3, 100, 5, 2, 20, 3},
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
  data.factorCount = spec.kind == ModelKind::Nested ? 2 : spec.kind == ModelKind::Blocked ? 3 : 4;
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
      data.traitValues[t].push_back(50 + 10 * t + (1 + 0.3 * t) * row.value + normal(random));
    }
  }
  for (int f = 0; f < data.factorCount; ++f) {
    data.levelCodes[f] = quorvel::DistinctLevels(data.factorCodes[f]);
    data.levelCounts[f] = static_cast<int>(data.levelCodes[f].size());
  }
  return data;
}

// Resident set figures of this process from /proc/self/status, in MiB.
double StatusMiB(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return std::atof(line.c_str() + std::strlen(key)) / 1024.0;
  }
  return 0;
}

// The fixed-model stage of a run; returns the number of male differences it tested.
std::size_t FixedStage(const DesignData& data) {
  const quorvel::ModelCoding coding = quorvel::BuildModelCoding(data);
  const quorvel::DesignCells cells = quorvel::BuildDesignCells(coding);
  const quorvel::FixedModel model(coding, cells);
  std::size_t pairs = 0;
  for (int t = 0; t < data.traitCount; ++t) pairs += model.Fit(data.traitValues[t]).maleT.size();
  return pairs;
}

// A whole run into a fresh temporary folder; returns the report's size.
std::size_t WholeRun(const DesignData& data, const std::string& folder) {
  quorvel::AppState state;
  state.dataFolder = folder + "/";
  quorvel::RunOutput output;
  quorvel::RunModelAnalysis(data, state, output);
  return static_cast<std::size_t>(std::filesystem::file_size(state.reportPath));
}

double MedianMs(int runs, const std::function<void()>& body) {
  std::vector<double> times;
  for (int r = 0; r < runs; ++r) {
    const auto start = std::chrono::steady_clock::now();
    body();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// The writers of one result: the time of each, and its share of the whole run's time.
void MeasureWriters(const DesignData& data, const std::string& folder, int runs, double runMs) {
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
    const double ms = MedianMs(runs, writer.body);
    std::printf("%-12s   writer %-12s %10.1f ms  %5.1f %% of the whole run\n", "", writer.name, ms,
                100.0 * ms / runMs);
  }
  // The confidence intervals, a step of the run (included in its time above).
  quorvel::AnalysisResult again = result;
  const double ms = MedianMs(runs, [&] { quorvel::AddConfidenceIntervals(again, 0.95); });
  std::printf("%-12s   step   %-12s %10.3f ms  %5.2f %% of the whole run\n", "", "intervals", ms,
              100.0 * ms / runMs);
}

// Runs one case and one stage in this (child) process and prints its line.
void Measure(const CaseSpec& spec, bool whole, int runs, bool writers) {
  const DesignData data = Generate(spec);
  const double baseline = StatusMiB("VmRSS:");
  std::size_t bytes = 0;
  double ms = 0;
  if (whole) {
    char pattern[] = "/tmp/analysis_bench_XXXXXX";
    const char* folder = mkdtemp(pattern);
    if (folder == nullptr) {
      std::perror("mkdtemp");
      return;
    }
    ms = MedianMs(runs, [&] { bytes = WholeRun(data, folder); });
    if (writers) MeasureWriters(data, folder, runs, ms);
    std::filesystem::remove_all(folder);
  } else {
    ms = MedianMs(runs, [&] { bytes = FixedStage(data); });
  }
  const double peak = StatusMiB("VmHWM:");
  const int parameters = quorvel::BuildModelCoding(data).parameterCount;
  std::printf("%-12s %-12s %6d %5d %6d %10.1f %5d %9.1f %9.1f %9.2f\n", spec.name,
              whole ? "whole run" : "fixed stage", data.observationCount, parameters,
              data.traitCount, ms, runs, peak, peak - baseline, static_cast<double>(bytes) / 1e6);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  bool fixedOnly = false;
  bool writers = false;
  std::vector<std::string> names;
  for (int k = 1; k < argc; ++k) {
    if (std::strcmp(argv[k], "--runs") == 0 && k + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++k]));
    } else if (std::strcmp(argv[k], "--fixed-only") == 0) {
      fixedOnly = true;
    } else if (std::strcmp(argv[k], "--writers") == 0) {
      writers = true;
    } else {
      names.push_back(argv[k]);
    }
  }
  std::printf(
      "medians of %d runs; peak = VmHWM of a fresh process per line, the data set and\n"
      "the program included; 'over data' = peak less the resident size before the stage\n\n",
      runs);
  std::printf("%-12s %-12s %6s %5s %6s %10s %5s %9s %9s %9s\n", "case", "stage", "N", "p", "traits",
              "median ms", "runs", "peak MiB", "over data", "out MB");
  for (const CaseSpec& spec : kCases) {
    if (!names.empty() && std::find(names.begin(), names.end(), spec.name) == names.end()) continue;
    for (const bool whole : {false, true}) {
      if (whole && fixedOnly) continue;
      std::fflush(stdout);  // the child must not print the parent's buffer again
      const pid_t child = fork();
      if (child == 0) {
        Measure(spec, whole, runs, writers);
        std::_Exit(0);
      }
      int status = 0;
      if (child < 0 || waitpid(child, &status, 0) < 0 || !WIFEXITED(status)) {
        std::printf("%-12s %-12s failed\n", spec.name, whole ? "whole run" : "fixed stage");
      }
    }
  }
  return 0;
}
