#include "learn/box/subspace_step.h"

#include <vector>

#include "learn/box/blas_lapack.h"
#include "learn/box/box_projection.h"
#include "learn/box/tie_rules.h"
#include "learn/box/truncated_cg.h"

namespace tevra {
namespace {

constexpr double cg_scaled_tolerance = 1e-16;   // stol of truncated_cg
constexpr double sufficient_decrease = 0.01;    // mu of the line search
constexpr double backtracking = 0.5;

}  // namespace

void subspace_step(Shifted_cholesky& cholesky, int n, double* x, const double* l, const double* u,
                   const double* A, const double* g, double delta, double cg_tolerance, double* s) {
  std::vector<double> B(n * n);    // A[F, F], leading dimension m
  std::vector<double> L(n * n);    // its (shifted) Cholesky factor, lower triangle
  std::vector<double> wa(n);       // A*s, the model gradient is g + A*s
  std::vector<double> g_free(n);   // g[F], the gradient at x_k
  std::vector<double> r(n);        // (g + A*s)[F], the model gradient at x
  std::vector<double> w(n);        // direction over F, then the step taken
  std::vector<double> x_free(n);   // x[F]
  std::vector<double> l_free(n);   // l[F]
  std::vector<double> u_free(n);   // u[F]
  std::vector<int> free_set(n);    // F, increasing

  dsymv_upper(n, 1.0, A, s, 0.0, wa.data());
  for (int i = 0; i < n; ++i) x[i] = max(l[i], min(x[i] + s[i], u[i]));

  for (int pass = 0; pass < n; ++pass) {
    int m = 0;
    for (int i = 0; i < n; ++i)
      if (l[i] < x[i] && x[i] < u[i]) free_set[m++] = i;
    if (m == 0) return;

    for (int c = 0; c < m; ++c)
      for (int rw = 0; rw < m; ++rw) B[rw + c * m] = A[free_set[rw] + free_set[c] * n];
    for (int k = 0; k < m; ++k) {
      const int i = free_set[k];
      g_free[k] = g[i];
      r[k] = g[i] + wa[i];
    }

    // Measured against the gradient at x_k, not at the current point.
    const double tol = cg_tolerance * dnrm2(m, g_free.data());

    cholesky.factorize(m, B.data(), L.data());
    const Cg_outcome outcome =
        truncated_cg(m, B.data(), r.data(), delta, L.data(), tol, cg_scaled_tolerance, w.data());
    dtrsv_lower(true, m, L.data(), w.data());

    for (int k = 0; k < m; ++k) {
      const int i = free_set[k];
      x_free[k] = x[i];
      l_free[k] = l[i];
      u_free[k] = u[i];
    }
    projected_line_search(m, x_free.data(), l_free.data(), u_free.data(), B.data(), r.data(),
                          w.data());
    for (int k = 0; k < m; ++k) {
      const int i = free_set[k];
      x[i] = x_free[k];
      s[i] = s[i] + w[k];
    }

    dsymv_upper(n, 1.0, A, s, 0.0, wa.data());
    for (int k = 0; k < m; ++k) {
      const int i = free_set[k];
      r[k] = g[i] + wa[i];
    }
    if (dnrm2(m, r.data()) <= tol) return;
    if (outcome == negative_curvature || outcome == boundary) return;
  }
}

void projected_line_search(int m, double* x, const double* l, const double* u, const double* B,
                           const double* r, double* w) {
  std::vector<double> p(m);   // projected step of the current length
  std::vector<double> bp(m);  // B*p

  int count;
  double first, last;
  find_breakpoints(m, x, l, u, w, count, first, last);

  double alpha = 1;
  while (alpha > first) {
    projected_step(m, x, l, u, alpha, w, p.data());
    dsymv_upper(m, 1.0, B, p.data(), 0.0, bp.data());
    const double rtp = ddot(m, r, p.data());
    const double q = 0.5 * ddot(m, p.data(), bp.data()) + rtp;
    if (q <= sufficient_decrease * rtp) break;
    alpha = backtracking * alpha;
  }
  // Halving past the first breakpoint: stop where the first variable meets
  // its bound instead.
  if (alpha < 1 && alpha < first) alpha = first;

  projected_step(m, x, l, u, alpha, w, p.data());
  daxpy(m, alpha, w, x);
  project_onto_box(m, x, l, u);
  for (int i = 0; i < m; ++i) w[i] = p[i];
}

}  // namespace tevra
