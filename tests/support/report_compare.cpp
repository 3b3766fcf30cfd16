// Test support: layout-exact comparison of reports.
#include "tests/support/report_compare.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace quorvel::testing {
namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size() - 1;
    lines.push_back(text.substr(start, end - start + 1));
    start = end + 1;
  }
  return lines;
}

// A printed number: a decimal with a fraction ("-12.3456"), or a non-finite value. Whole
// numbers (degrees of freedom, trait and level numbers in labels) are text and must match
// exactly.
struct Number {
  std::size_t end = 0;  // column after its last character
  double value = 0;
  int decimals = 0;
  bool finite = true;
  std::string text;
};

bool WordCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

// Finds the numbers of a line and masks each, with the blanks right before it, by '#': two
// lines whose masks are equal have the same text and their numbers end in the same
// columns.
std::string Mask(const std::string& line, std::vector<Number>& numbers) {
  std::string mask = line;
  std::size_t k = 0;
  while (k < line.size()) {
    const bool startsWord = k == 0 || !WordCharacter(line[k - 1]);
    std::size_t at = k;
    if (startsWord && line[at] == '-') ++at;
    std::size_t end = at;
    Number number;
    if (startsWord && line.compare(at, 3, "nan") == 0) {
      end = at + 3;
      number.finite = false;
    } else if (startsWord && line.compare(at, 3, "inf") == 0) {
      end = at + 3;
      number.finite = false;
    } else if (startsWord && std::isdigit(static_cast<unsigned char>(line[at])) != 0) {
      while (end < line.size() && std::isdigit(static_cast<unsigned char>(line[end])) != 0) ++end;
      if (end + 1 < line.size() && line[end] == '.' &&
          std::isdigit(static_cast<unsigned char>(line[end + 1])) != 0) {
        const std::size_t dot = end++;
        while (end < line.size() && std::isdigit(static_cast<unsigned char>(line[end])) != 0) ++end;
        number.decimals = static_cast<int>(end - dot - 1);
      } else {
        end = at;  // a whole number: text
      }
    }
    if (end == at || (end < line.size() && WordCharacter(line[end]))) {
      ++k;
      continue;
    }
    number.text = line.substr(k, end - k);
    number.end = end;
    number.value = number.finite ? std::strtod(number.text.c_str(), nullptr) : 0.0;
    std::size_t first = k;
    while (first > 0 && line[first - 1] == ' ') --first;
    for (std::size_t c = first; c < end; ++c) mask[c] = '#';
    numbers.push_back(number);
    k = end;
  }
  return mask;
}

// Why two numbers of the same place differ, or empty.
std::string NumbersDiffer(const Number& a, const Number& e, const CompareOptions& options) {
  if (a.finite != e.finite) return "'" + a.text + "' against '" + e.text + "'";
  if (!a.finite) {
    const bool nanA = a.text.find("nan") != std::string::npos;
    const bool nanE = e.text.find("nan") != std::string::npos;
    if (nanA && nanE) return {};  // nan and -nan are one token
    return a.text == e.text ? std::string() : "'" + a.text + "' against '" + e.text + "'";
  }
  if (a.decimals != e.decimals) return "decimals of '" + a.text + "' and '" + e.text + "'";
  if (std::fabs(a.value - e.value) > options.lastDigitUnits * std::pow(10.0, -a.decimals) + 1e-12) {
    return "'" + a.text + "' against '" + e.text + "'";
  }
  return {};
}

std::string Visible(const std::string& line) {
  std::string out;
  for (const char c : line) {
    if (c == '\r') {
      out += "\\r";
    } else if (c != '\n') {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::vector<ReportDifference> CompareReports(const std::string& actual, const std::string& expected,
                                             const CompareOptions& options) {
  std::vector<ReportDifference> differences;
  const std::vector<std::string> a = SplitLines(actual);
  const std::vector<std::string> e = SplitLines(expected);
  const std::size_t lines = std::max(a.size(), e.size());
  for (std::size_t k = 0; k < lines; ++k) {
    const std::string la = k < a.size() ? a[k] : "<missing>";
    const std::string le = k < e.size() ? e[k] : "<missing>";
    if (la == le) continue;
    std::vector<Number> na;
    std::vector<Number> ne;
    const std::string ma = Mask(la, na);
    const std::string me = Mask(le, ne);
    std::string why;
    const bool layoutOnly =
        std::find(options.layoutOnlyLines.begin(), options.layoutOnlyLines.end(),
                  static_cast<int>(k + 1)) != options.layoutOnlyLines.end();
    if (ma != me || na.size() != ne.size()) {
      why = "layout";
    } else if (!layoutOnly) {
      for (std::size_t t = 0; t < na.size() && why.empty(); ++t) {
        if (na[t].end != ne[t].end) {
          why = "column of '" + na[t].text + "'";
        } else {
          why = NumbersDiffer(na[t], ne[t], options);
        }
      }
    }
    if (!why.empty())
      differences.push_back({static_cast<int>(k + 1), Visible(la), Visible(le), why});
  }
  return differences;
}

std::string DescribeDifferences(const std::vector<ReportDifference>& differences,
                                std::size_t limit) {
  std::ostringstream out;
  out << differences.size() << " lines differ";
  for (std::size_t k = 0; k < differences.size() && k < limit; ++k) {
    const ReportDifference& d = differences[k];
    out << "\nline " << d.line << " (" << d.why << ")\n  actual:   " << d.actual
        << "\n  expected: " << d.expected;
  }
  return out.str();
}

KnownDifferences KnownDifferencesOf(const std::string& goldenDir, const std::string& dataSet) {
  KnownDifferences known;
  std::ifstream in(goldenDir + "/known_differences.tsv");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t a = line.find('\t');
    const std::size_t b = line.find('\t', a + 1);
    const std::size_t c = line.find('\t', b + 1);
    if (c == std::string::npos || line.substr(0, a) != dataSet) continue;
    known.lines.push_back(std::stoi(line.substr(a + 1, b - a - 1)));
    known.numbers.push_back(line.substr(b + 1, c - b - 1));
  }
  return known;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace quorvel::testing
