// Boost.Math distributions behind a policy that turns every domain, pole, overflow and
// evaluation error into a returned NaN (or infinity) instead of an exception.
#include "numeric/probability.h"

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/fisher_f.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <limits>

namespace quorvel {
namespace {

using namespace boost::math::policies;
using QuietPolicy =
    policy<domain_error<ignore_error>, pole_error<ignore_error>, overflow_error<ignore_error>,
           underflow_error<ignore_error>, evaluation_error<ignore_error>,
           rounding_error<ignore_error>, indeterminate_result_error<ignore_error>>;

// The same, evaluated in double precision throughout: for the many two-sided t tails of
// the male differences, where the long double arithmetic Boost promotes to by default
// costs several times as much for digits beyond what a p value needs.
using DoublePolicy = policy<domain_error<ignore_error>, pole_error<ignore_error>,
                            overflow_error<ignore_error>, underflow_error<ignore_error>,
                            evaluation_error<ignore_error>, rounding_error<ignore_error>,
                            indeterminate_result_error<ignore_error>, promote_double<false>>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool IsProbability(double p) { return p > 0.0 && p < 1.0; }

}  // namespace

double StudentTTwoSidedP(double t, double df) {
  if (std::isnan(t) || !(df > 0.0)) return kNaN;
  if (std::isinf(t)) return 0.0;
  const boost::math::students_t_distribution<double, DoublePolicy> distribution(df);
  const double p = 2.0 * boost::math::cdf(boost::math::complement(distribution, std::fabs(t)));
  return p > 1.0 ? 1.0 : p;
}

double StudentTQuantile(double p, double df) {
  if (!IsProbability(p) || !(df > 0.0)) return kNaN;
  return boost::math::quantile(boost::math::students_t_distribution<double, QuietPolicy>(df), p);
}

double ChiSquareQuantile(double p, double df) {
  if (!IsProbability(p) || !(df > 0.0) || std::isinf(df)) return kNaN;
  return boost::math::quantile(boost::math::chi_squared_distribution<double, QuietPolicy>(df), p);
}

double NormalQuantile(double p) {
  if (!IsProbability(p)) return kNaN;
  return boost::math::quantile(boost::math::normal_distribution<double, QuietPolicy>(0.0, 1.0), p);
}

double FUpperTailReal(double df1, double df2, double f) {
  if (std::isnan(f) || !(df1 > 0.0) || !(df2 > 0.0)) return kNaN;
  if (f <= 0.0) return 1.0;
  if (std::isinf(f)) return 0.0;
  const boost::math::fisher_f_distribution<double, QuietPolicy> distribution(df1, df2);
  return boost::math::cdf(boost::math::complement(distribution, f));
}

}  // namespace quorvel
