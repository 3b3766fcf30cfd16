// The text report: printf formats and CR LF line ends, column for column as the report
// has always been laid out.
#include "report/text_report.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "report/report_text.h"

namespace quorvel {
namespace {

const char* ModelLine(ModelKind kind) {
  switch (kind) {
    case ModelKind::Nested:
      return "                          yijk = u + Mi + Fij + eijk\r\n\r\n\r\n";
    case ModelKind::Blocked:
      return "                          yijkl = u + Bi + Mj + Fjk + eijkl\r\n\r\n\r\n";
    case ModelKind::BlockedRepeat:
      return "                 yijklt = u + Bi + Ril + Mij + Fijk + (FR)ijkl + eijklt\r\n\r\n\r\n";
    case ModelKind::None:
      break;
  }
  return "";
}

// How the interval section names a method.
const char* IntervalMethodName(const Interval& ci) {
  const std::string_view method = ci.method;
  if (method == "chisq") return "Chi-square";
  if (method == "satterthwaite") return "Satterthwaite";
  if (method == "wald") return "Wald";
  if (method == "t") return "t";
  return "";
}

// A number in a 14-character column: "%14.4f" like the rest of the report, or "%14.4e"
// where that would not fit (Satterthwaite's upper limit on a small fraction of a degree
// of freedom reaches 1e44), so that the columns stay in line.
std::string Column14(double value) {
  std::string text;
  Appendf(text, "%14.4f", value);
  if (text.size() > 14) {
    text.clear();
    Appendf(text, "%14.4e", value);
  }
  return text;
}

void AppendHeader(std::string& out, ModelKind kind, const std::string& timeText) {
  out += "\r\n                         Analysis of the Nested Design Model: \r\n";
  out += ModelLine(kind);
  out +=
      "   ************************************************************************************* "
      "\r\n";
  out +=
      "   *                                                                                   * "
      "\r\n";
  out += "   *  Result for the fixed model.                             ";
  out += timeText;
  out +=
      " *\r\n   *                                                                                  "
      " * \r\n";
  out +=
      "   ************************************************************************************* "
      "\r\n\r\n\r\n";
}

}  // namespace

void AppendFixedTraitSections(std::string& out, const AnalysisResult& result, int trait) {
  static const char* const kRule =
      "   "
      "=====================================================================================\r\n";
  static const char* const kRule2 =
      "   "
      "====================================================================================="
      "\r\n\r\n";
  static const char* const kDash =
      "   "
      "-------------------------------------------------------------------------------------\r\n";
  static const char* const kHead =
      "      Source             DF     Sum of Squares     Mean Squares     F Value     Pr>F      "
      "\r\n";
  const FixedTraitResult& r = result.traits[static_cast<std::size_t>(trait)].fixed;
  const int traitNumber = trait + 1;

  Appendf(out, "   Testing the model for trait %d:\r\n", traitNumber);
  out += kRule;
  out += kHead;
  out += kDash;
  Appendf(out, "      Model          %6d   %14.4f     %14.4f  %10.4f%10.4f\r\n", r.modelDF,
          r.modelSS, r.modelMS, r.modelF, r.modelP);
  Appendf(out, "      Error          %6d   %14.4f     %14.4f\r\n", r.errorDF, r.errorSS, r.errorMS);
  Appendf(out, "      Total          %6d   %14.4f\r\n", r.totalDF, r.totalSS);
  out += kRule2;

  Appendf(out, "   Testing factors for trait %d:\r\n", traitNumber);
  out += kRule;
  out += kHead;
  out += kDash;
  for (const FactorTest& t : r.factors) {
    Appendf(out, "      %-15s%6d   %14.4f     %14.4f  %10.4f%10.4f\r\n", t.label, t.df, t.ss, t.ms,
            t.f, t.p);
  }
  out += kRule2;

  Appendf(out, "   Parameter estimates for trait %d:\r\n", traitNumber);
  out += kRule;
  out +=
      "      Parameter               Estimate       Std Error       T for H0:         Pr>|T|   "
      "\r\n";
  out +=
      "                                                            Parameter=0                \r\n";
  out += kDash;
  for (std::size_t k = 0; k < r.estimates.size(); ++k) {
    const ParameterEstimate& e = r.estimates[k];
    Appendf(out, "      %-17s %14.4f  %14.4f   %14.4f  %12.4f\r\n",
            result.parameterNames[k].c_str(), e.estimate, e.stdError, e.t, e.p);
  }
  out += kRule2;

  // Tables of eight columns, then one with the remaining columns (possibly none).
  const int m = result.maleCount;
  const int full = (m - 1) / 8;
  const int rest = (m - 1) % 8;
  for (int table = 1; table <= full + 1; ++table) {
    const int width = table <= full ? 8 : rest;
    const int first = 8 * (table - 1);  // 0-based index of the first column male
    Appendf(out, "   T values of test for difference between two males for trait %d (%d):\r\n",
            traitNumber, table);
    out += "   ===============";
    for (int k = 0; k < width; ++k) out += "===============";
    out += "   \r\n";
    out += "                  ";
    for (int k = 0; k < width; ++k) Appendf(out, " %12s  ", result.MaleName(first + k).c_str());
    out += "\r\n   ---------------";
    for (int k = 0; k < width; ++k) out += "---------------";
    out += "\r\n";
    if (width > 0) {
      for (int i = first + 1; i < m; ++i) {
        Appendf(out, "      %-12s", result.MaleName(i).c_str());
        for (int j = first; j < first + width && j < i; ++j) {
          const std::size_t pair = MalePairIndex(i, j);
          switch (r.maleSignificance[pair]) {
            case Significance::One:
              Appendf(out, "%13.4f**", r.maleT[pair]);
              break;
            case Significance::Five:
              Appendf(out, "%13.4f* ", r.maleT[pair]);
              break;
            case Significance::None:
              Appendf(out, "%13.4f  ", r.maleT[pair]);
              break;
          }
        }
        out += "\r\n";
      }
    }
    out += "   ===============";
    for (int k = 0; k < width; ++k) out += "===============";
    out += "   \r\n   *p<0.05, **p<0.01\r\n\r\n\r\n";
  }
}

void AppendRandomSections(std::string& out, const AnalysisResult& result,
                          const std::string& timeText, const ReportOptions& options) {
  out +=
      "   "
      "*************************************************************************************\r\n";
  out +=
      "   *                                                                                   "
      "*\r\n";
  out += "   *  Result for the random effect model.                     ";
  out += timeText;
  out +=
      " *\r\n   *                                                                                  "
      " *\r\n";
  out +=
      "   "
      "*************************************************************************************"
      "\r\n\r\n\r\n";
  for (std::size_t i = 0; i < result.traits.size(); ++i) {
    const RandomTraitResult& random = result.traits[i].random;
    Appendf(out, "   Estimates of variance components and heritabilites for trait %d:\r\n",
            static_cast<int>(i) + 1);
    out +=
        "   "
        "=====================================================================================\r\n";
    out +=
        "      Parameter            Estimate           Std Error        F For H0:        Pr > F   "
        "\r\n";
    out += "                                                              Parameter=0  \r\n";
    out +=
        "   "
        "-------------------------------------------------------------------------------------\r\n";
    for (const ComponentEstimate& c : random.components) {
      if (c.tested) {
        Appendf(out, "      %-8s      %14.4f      %14.4f      %10.4f     %10.4f\r\n",
                c.parameter.c_str(), c.estimate, c.stdError, c.f, c.p);
      } else {
        Appendf(out, "      %-8s      %14.4f      %14.4f\r\n\r\n", c.parameter.c_str(), c.estimate,
                c.stdError);
      }
    }
    for (const HeritabilityEstimate& h : random.heritabilities) {
      Appendf(out, "      %-8s      %14.4f      %14.4f\r\n", h.parameter.c_str(), h.estimate,
              h.stdError);
    }
    out +=
        "   "
        "====================================================================================="
        "\r\n\r\n";
    if (options.intervals) AppendIntervalSection(out, result, static_cast<int>(i));
  }
}

void AppendIntervalSection(std::string& out, const AnalysisResult& result, int trait) {
  const RandomTraitResult& random = result.traits[static_cast<std::size_t>(trait)].random;
  // The level as a percentage in its shortest form: 95, 90, 97.5.
  Appendf(out, "   Approximate %.6g%% confidence intervals for trait %d:\r\n",
          100.0 * result.confidenceLevel, trait + 1);
  out +=
      "   "
      "=====================================================================================\r\n";
  out += "      Parameter           Estimate       Lower Limit       Upper Limit   Method\r\n";
  out +=
      "   "
      "-------------------------------------------------------------------------------------\r\n";
  auto line = [&out](const std::string& parameter, double estimate, const Interval& ci) {
    Appendf(out, "      %-8s      %s    %s    %s   %s\r\n", parameter.c_str(),
            Column14(estimate).c_str(), Column14(ci.lower).c_str(), Column14(ci.upper).c_str(),
            IntervalMethodName(ci));
  };
  for (const ComponentEstimate& c : random.components) {
    line(c.parameter, c.estimate, c.ci);
    if (!c.tested) out += "\r\n";
  }
  for (const HeritabilityEstimate& h : random.heritabilities) line(h.parameter, h.estimate, h.ci);
  out +=
      "   "
      "====================================================================================="
      "\r\n\r\n";
}

void AppendCorrelationMatrices(std::string& out, const AnalysisResult& result) {
  for (const CorrelationMatrix& matrix : result.correlations) {
    const int traits = matrix.traits;
    if (matrix.effect == "male") {
      out += "   Genetic correlation matrix of male effects with std. in brackets\r\n";
    } else if (matrix.effect == "female") {
      out += "   Genetic correlation matrix of female effects with std. in brackets\r\n";
    } else {
      out += "   Genetic correlation matrix of repeat x female effects with std. in brackets\r\n";
    }
    out += "   ";
    for (int k = 0; k <= traits; ++k) out += "==============";
    out += "\r\n       Trait     ";
    for (int k = 1; k <= traits; ++k) Appendf(out, "      %2d      ", k);
    out += "\r\n   --------------";
    for (int k = 0; k < traits; ++k) out += "--------------";
    out += "\r\n";
    for (int i = 0; i < traits; ++i) {
      Appendf(out, "         %2d      ", i + 1);
      for (int j = 0; j < traits; ++j) {
        if (i == j) {
          out += "    1.0000    ";
        } else {
          Appendf(out, "    %6.4f    ", matrix.R(i, j));
        }
      }
      out += "\r\n                 ";
      for (int j = 0; j < traits; ++j) {
        if (i == j) {
          out += "   (0.0000)   ";
        } else {
          Appendf(out, "   (%6.4f)   ", matrix.SE(i, j));
        }
      }
      out += "\r\n\r\n";
    }
    out += "   ";
    for (int k = 0; k <= traits; ++k) out += "==============";
    out += "\r\n\r\n";
  }
}

std::string FormatTextReport(const AnalysisResult& result, const std::string& timeText,
                             const ReportOptions& options) {
  std::string out;
  AppendHeader(out, result.kind, timeText);
  for (std::size_t t = 0; t < result.traits.size(); ++t)
    AppendFixedTraitSections(out, result, static_cast<int>(t));
  AppendRandomSections(out, result, timeText, options);
  AppendCorrelationMatrices(out, result);
  return out;
}

TextMetrics MeasureText(const std::string& text) {
  TextMetrics metrics;
  int length = 0;
  bool open = false;  // characters seen since the last line end
  for (const char ch : text) {
    if (ch == '\n') {
      ++metrics.lineCount;
      metrics.width = std::max(metrics.width, length);
      length = 0;
      open = false;
    } else {
      if (ch != '\r') ++length;
      open = true;
    }
  }
  if (open) {
    ++metrics.lineCount;
    metrics.width = std::max(metrics.width, length);
  }
  return metrics;
}

}  // namespace quorvel
