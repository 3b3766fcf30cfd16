// Test support: tolerant comparison of reports.
#include "tests/support/report_compare.h"

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
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// A token is a run of non-blank characters; a numeric token may carry brackets and stars.
bool ParseNumberToken(const std::string& token, double& value, int& decimals) {
  std::size_t begin = 0;
  std::size_t end = token.size();
  if (begin < end && token[begin] == '(') ++begin;
  while (end > begin && (token[end - 1] == '*' || token[end - 1] == ')')) --end;
  if (begin >= end) return false;
  const std::string core = token.substr(begin, end - begin);
  char* stop = nullptr;
  value = std::strtod(core.c_str(), &stop);
  if (stop == nullptr || *stop != '\0') return false;
  const std::size_t dot = core.find('.');
  decimals = dot == std::string::npos ? 0 : static_cast<int>(core.size() - dot - 1);
  return true;
}

std::vector<std::string> Tokens(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> tokens;
  std::string token;
  while (in >> token) tokens.push_back(token);
  return tokens;
}

bool HasNonFinite(const std::string& line) {
  return line.find("nan") != std::string::npos || line.find("inf") != std::string::npos;
}

bool TokensMatch(const std::string& a, const std::string& b, const CompareOptions& options) {
  if (a == b) return true;
  double va = 0, vb = 0;
  int da = 0, db = 0;
  if (!ParseNumberToken(a, va, da) || !ParseNumberToken(b, vb, db)) return false;
  // Stars and brackets must agree.
  auto decoration = [](const std::string& t) {
    std::string d;
    for (const char ch : t) {
      if (ch == '*' || ch == '(' || ch == ')') d += ch;
    }
    return d;
  };
  if (decoration(a) != decoration(b) || da != db) return false;
  return std::fabs(va - vb) <= options.lastDigitUnits * std::pow(10.0, -da) + 1e-12;
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
    if (options.ignoreNonFinite && (HasNonFinite(la) || HasNonFinite(le))) continue;
    const std::vector<std::string> ta = Tokens(la);
    const std::vector<std::string> te = Tokens(le);
    bool same = ta.size() == te.size();
    for (std::size_t t = 0; same && t < ta.size(); ++t) same = TokensMatch(ta[t], te[t], options);
    if (!same) differences.push_back({static_cast<int>(k + 1), la, le});
  }
  return differences;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace quorvel::testing
