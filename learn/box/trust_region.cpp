#include "learn/box/trust_region.h"

#include <cmath>
#include <vector>

#include "learn/box/blas_lapack.h"
#include "learn/box/box_projection.h"
#include "learn/box/box_messages.h"
#include "learn/box/cauchy_step.h"
#include "learn/box/subspace_step.h"
#include "learn/box/tie_rules.h"

namespace tevra {
namespace {

// Thresholds on actred as multiples of prered.
constexpr double eta0 = 1e-4;  // acceptance, and the strongest shrink below it
constexpr double eta1 = 0.25;
constexpr double eta2 = 0.75;
// Radius factors.
constexpr double sigma1 = 0.25;
constexpr double sigma2 = 0.5;
constexpr double sigma3 = 4;

}  // namespace

void trust_region_solve(Box_quadratic& quadratic, Shifted_cholesky& cholesky,
                        const Box_solver_options& options, int n, double* x, const double* lower,
                        const double* upper, double gradient_tolerance) {
  std::vector<double> x_old(n);  // last accepted iterate
  std::vector<double> g(n);      // gradient at the accepted iterate
  std::vector<double> s(n);      // step from x_old to the trial point
  std::vector<double> w(n);      // g + 1/2 A s for the predicted reduction

  const double* A = quadratic.hessian();
  quadratic.gradient(n, x, g.data());
  double f;  // objective at the accepted iterate
  quadratic.value(n, x, f);

  const double g0 = dnrm2(n, g.data());
  const double tau = gradient_tolerance * g0;  // absolute gradient tolerance
  double delta = 1000 * g0;                    // trust-region radius
  double alpha_c = 1.0;                        // Cauchy length, carried between iterations
  int iter = 1;                                // 1 + number of accepted steps

  if (projected_gradient_norm(n, x, lower, upper, g.data()) <= tau) return;

  for (;;) {
    x_old.assign(x, x + n);
    const double f_old = f;

    cauchy_step(n, x, lower, upper, A, g.data(), delta, alpha_c, s.data());
    subspace_step(cholesky, n, x, lower, upper, A, g.data(), delta, options.cg_tolerance,
                  s.data());

    double f_new;
    if (quadratic.value(n, x, f_new) > options.max_evaluations) return;

    w = g;
    dsymv_upper(n, 0.5, A, s.data(), 1.0, w.data());
    const double prered = -ddot(n, s.data(), w.data());
    const double actred = f_old - f_new;
    const double snorm = dnrm2(n, s.data());

    if (iter == 1) delta = min(delta, snorm);

    // Minimiser of the quadratic interpolating f_old, the slope gs and
    // f_new along s, as a multiple of the step.
    const double gs = ddot(n, g.data(), s.data());
    const double t = f_new - f_old - gs;
    const double alpha = t <= 0 ? sigma3 : max(sigma1, -0.5 * gs / t);

    if (actred < eta0 * prered)
      delta = min(max(alpha, sigma1) * snorm, sigma2 * delta);
    else if (actred < eta1 * prered)
      delta = max(sigma1 * delta, min(alpha * snorm, sigma2 * delta));
    else if (actred < eta2 * prered)
      delta = max(sigma1 * delta, min(alpha * snorm, sigma3 * delta));
    else
      delta = max(delta, min(alpha * snorm, sigma3 * delta));

    if (actred > eta0 * prered) {
      ++iter;
      quadratic.gradient(n, x, g.data());
      if (projected_gradient_norm(n, x, lower, upper, g.data()) <= tau) return;
      f = f_new;
    } else {
      for (int i = 0; i < n; ++i) x[i] = x_old[i];
      f = f_old;
    }

    if (f < options.f_minimum) {
      print_box_message(options, "WARNING: F .LT. FMIN\n");
      return;
    }
    const double fatol = options.absolute_f_tolerance;
    if (std::fabs(actred) <= fatol && prered <= fatol) {
      print_box_message(options, "CONVERGENCE: FATOL TEST SATISFIED\n");
      return;
    }
    const double frtol = options.relative_f_tolerance;
    if (std::fabs(actred) <= frtol * std::fabs(f) && prered <= frtol * std::fabs(f)) return;
  }
}

}  // namespace tevra
