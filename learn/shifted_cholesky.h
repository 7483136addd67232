// Cholesky factorisation of a free-variable block with a persistent
// diagonal shift for blocks that are not positive definite.
#ifndef TEVRA_LEARN_SHIFTED_CHOLESKY_H_
#define TEVRA_LEARN_SHIFTED_CHOLESKY_H_

namespace tevra {

// Factorises the m*m block B (column-major, lower triangle read) into the
// lower triangle of L with LAPACK dpotf2. When B is not positive definite
// the factorisation is retried on B + cholesky_shift*I. When that fails too,
// prints "A is not positive semi-definite\n" on standard output, doubles
// cholesky_shift (Box_solver_state) and leaves L as the failed attempt left
// it: columns before the failing pivot factorised, the failing diagonal
// entry holding the non-positive pivot. Returns the shift added (0 when
// none), or the doubled shift after a failure.
double shifted_cholesky(int m, const double* B, double* L);

}  // namespace tevra

#endif  // TEVRA_LEARN_SHIFTED_CHOLESKY_H_
