#include "learn/box/box_projection.h"

#include <cmath>

#include "learn/box/tie_rules.h"

namespace tevra {

void project_onto_box(int n, double* x, const double* l, const double* u) {
  for (int i = 0; i < n; ++i) x[i] = max(l[i], min(x[i], u[i]));
}

void projected_step(int n, const double* x, const double* l, const double* u, double alpha,
                    const double* w, double* s) {
  for (int i = 0; i < n; ++i) {
    const double t = alpha * w[i];
    const double v = x[i] + t;
    if (v < l[i])
      s[i] = l[i] - x[i];
    else if (v > u[i])
      s[i] = u[i] - x[i];
    else
      s[i] = t;
  }
}

void find_breakpoints(int n, const double* x, const double* l, const double* u, const double* w,
                      int& count, double& first, double& last) {
  count = 0;
  first = 0;
  last = 0;
  for (int i = 0; i < n; ++i) {
    double b;
    if (x[i] < u[i] && w[i] > 0)
      b = (u[i] - x[i]) / w[i];
    else if (x[i] > l[i] && w[i] < 0)
      b = (l[i] - x[i]) / w[i];
    else
      continue;
    ++count;
    if (count == 1) {
      first = b;
      last = b;
    } else {
      first = min(b, first);
      last = max(b, last);
    }
  }
}

double projected_gradient_norm(int n, const double* x, const double* l, const double* u,
                               const double* g) {
  double norm = 0;
  for (int i = 0; i < n; ++i) {
    if (l[i] == u[i]) continue;
    if (g[i] <= 0 && x[i] == u[i]) continue;
    if (g[i] >= 0 && x[i] == l[i]) continue;
    norm = max(norm, std::fabs(g[i]));
  }
  return norm;
}

}  // namespace tevra
