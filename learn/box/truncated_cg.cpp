#include "learn/box/truncated_cg.h"

#include <cmath>
#include <vector>

#include "learn/box/blas_lapack.h"
#include "learn/box/tie_rules.h"

namespace tevra {

Cg_outcome truncated_cg(int m, const double* B, const double* r, double delta, const double* L,
                        double tol, double stol, double* w) {
  std::vector<double> z(m);    // scaled residual inv(L)(-r - B inv(L') w)
  std::vector<double> d(m);    // search direction, scaled variables
  std::vector<double> res(m);  // residual in the unscaled variables, -r - B inv(L') w
  std::vector<double> t(m);    // inv(L') d, then inv(L) B inv(L') d
  std::vector<double> v(m);    // B inv(L') d

  for (int i = 0; i < m; ++i) {
    w[i] = 0;
    res[i] = -r[i];
    z[i] = res[i];
  }
  dtrsv_lower(false, m, L, z.data());
  d = z;
  double rho = ddot(m, z.data(), z.data());  // z'z of the current residual
  if (std::sqrt(rho) <= stol) return residual_small;

  for (int k = 1; k <= m; ++k) {
    t = d;
    dtrsv_lower(true, m, L, t.data());
    dsymv_upper(m, 1.0, B, t.data(), 0.0, v.data());
    t = v;
    dtrsv_lower(false, m, L, t.data());
    const double kappa = ddot(m, d.data(), t.data());  // curvature along d

    const double alpha = kappa > 0 ? rho / kappa : 0;
    const double sigma = boundary_step_length(m, w, d.data(), delta);
    if (kappa <= 0 || alpha >= sigma) {
      daxpy(m, sigma, d.data(), w);
      return kappa <= 0 ? negative_curvature : boundary;
    }

    daxpy(m, alpha, d.data(), w);
    daxpy(m, -alpha, t.data(), z.data());
    daxpy(m, -alpha, v.data(), res.data());
    const double rho_next = ddot(m, z.data(), z.data());
    if (dnrm2(m, res.data()) <= tol) return residual_small;
    if (std::sqrt(rho_next) <= stol) return scaled_residual_small;

    const double beta = rho_next / rho;
    dscal(m, beta, d.data());
    daxpy(m, 1.0, z.data(), d.data());
    rho = rho_next;
  }
  return iteration_limit;
}

double boundary_step_length(int m, const double* w, const double* d, double delta) {
  const double dw = ddot(m, d, w);
  const double dd = ddot(m, d, d);
  const double ww = ddot(m, w, w);
  const double e = delta * delta - ww;
  const double rad = std::sqrt(max(0.0, dw * dw + dd * e));
  if (dw > 0) return e / (rad + dw);
  if (rad > 0) return (rad - dw) / dd;
  return 0;
}

}  // namespace tevra
