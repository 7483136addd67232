#include "learn/box/cauchy_step.h"

#include <cmath>
#include <vector>

#include "learn/box/blas_lapack.h"
#include "learn/box/box_projection.h"

namespace tevra {
namespace {

constexpr double sufficient_decrease = 0.01;  // mu
constexpr double contraction = 0.1;
constexpr double extrapolation = 10;

// Whether q(s) = 1/2 s'(As) + g's falls below mu*g's (strictly when
// strict is set); work receives As.
bool decreases_enough(int n, const double* A, const double* g, const double* s, double* work,
                      bool strict) {
  dsymv_upper(n, 1.0, A, s, 0.0, work);
  const double gts = ddot(n, g, s);
  const double q = 0.5 * ddot(n, s, work) + gts;
  return strict ? q < sufficient_decrease * gts : q <= sufficient_decrease * gts;
}

}  // namespace

void cauchy_step(int n, const double* x, const double* l, const double* u, const double* A,
                 const double* g, double delta, double& alpha, double* s) {
  // Holds -g for the breakpoint search, then A*s.
  std::vector<double> work(n);
  for (int i = 0; i < n; ++i) work[i] = -g[i];

  // Only the largest breakpoint bounds the extrapolation.
  int count;
  double first, last;
  find_breakpoints(n, x, l, u, work.data(), count, first, last);

  projected_step(n, x, l, u, -alpha, g, s);
  // The model is evaluated only for steps inside the region.
  const bool contract =
      dnrm2(n, s) > delta || !decreases_enough(n, A, g, s, work.data(), /*strict=*/true);

  if (contract) {
    for (;;) {
      alpha = alpha * contraction;
      projected_step(n, x, l, u, -alpha, g, s);
      if (dnrm2(n, s) <= delta && decreases_enough(n, A, g, s, work.data(), /*strict=*/false))
        break;
      // Once alpha underflows to 0, s = 0 passes both tests for any finite
      // radius. A NaN radius (left behind by a trial step through a failed
      // factor with a zero pivot) never passes, so stop here rather than
      // loop for ever.
      if (alpha == 0) break;
    }
  } else {
    double alpha_s = alpha;  // length restored after the search
    while (alpha <= last) {
      alpha_s = alpha;
      alpha = alpha * extrapolation;
      // A breakpoint that overflowed to +inf would let an infinite alpha
      // pass the loop test for ever.
      if (!std::isfinite(alpha)) break;
      projected_step(n, x, l, u, -alpha, g, s);
      if (dnrm2(n, s) > delta) break;
      if (!decreases_enough(n, A, g, s, work.data(), /*strict=*/true)) break;
    }
    alpha = alpha_s;
    projected_step(n, x, l, u, -alpha, g, s);
  }
}

}  // namespace tevra
