#include "learn/box/shifted_cholesky.h"

#include <cstring>

#include "learn/box/blas_lapack.h"
#include "learn/box/box_messages.h"

namespace tevra {

Shifted_cholesky::Shifted_cholesky(double* shift, const Box_solver_options& options)
    : shift_(shift), options_(options) {}

double Shifted_cholesky::factorize(int m, const double* B, double* L) {
  const std::size_t bytes = sizeof(double) * m * m;
  std::memcpy(L, B, bytes);
  if (dpotf2_lower(m, L) == 0) return 0;

  double& shift = *shift_;
  std::memcpy(L, B, bytes);
  for (int i = 0; i < m; ++i) L[i + i * m] += shift;
  if (dpotf2_lower(m, L) == 0) return shift;

  print_box_message(options_, "A is not positive semi-definite\n");
  shift *= 2;
  return shift;
}

}  // namespace tevra
