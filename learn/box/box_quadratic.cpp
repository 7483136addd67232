#include "learn/box/box_quadratic.h"

#include <vector>

#include "learn/box/blas_lapack.h"

namespace tevra {

Box_quadratic::Box_quadratic(const double* matrix, const double* linear, int* evaluation_count)
    : matrix_(matrix), linear_(linear), evaluation_count_(evaluation_count) {
  *evaluation_count_ = 0;
}

void Box_quadratic::gradient(int n, const double* x, double* g) const {
  for (int i = 0; i < n; ++i) g[i] = linear_[i];
  dsymv_upper(n, 1.0, matrix_, x, 1.0, g);
}

int Box_quadratic::value(int n, const double* x, double& f) {
  std::vector<double> ax(n);
  dsymv_upper(n, 1.0, matrix_, x, 0.0, ax.data());
  f = 0.5 * ddot(n, x, ax.data()) + ddot(n, linear_, x);
  return ++*evaluation_count_;
}

}  // namespace tevra
