#include "learn/shifted_cholesky.h"

#include <cstdio>
#include <cstring>

#include "learn/blas_lapack.h"
#include "learn/box_solver_state.h"

namespace tevra {

double shifted_cholesky(int m, const double* B, double* L) {
  const std::size_t bytes = sizeof(double) * m * m;
  std::memcpy(L, B, bytes);
  if (dpotf2_lower(m, L) == 0) return 0;

  double& shift = box_solver_state().cholesky_shift;
  std::memcpy(L, B, bytes);
  for (int i = 0; i < m; ++i) L[i + i * m] += shift;
  if (dpotf2_lower(m, L) == 0) return shift;

  // Written directly, not through print_hook, so it cannot be silenced.
  std::printf("A is not positive semi-definite\n");
  shift *= 2;
  return shift;
}

}  // namespace tevra
