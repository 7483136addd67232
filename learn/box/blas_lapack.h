// Fortran interfaces of the BLAS and LAPACK routines used by the box
// sub-problem solver. All arguments go by reference; every character
// argument is followed by its hidden length, appended after the declared
// arguments as gfortran passes it. Matrices are column-major.
#ifndef TEVRA_LEARN_BOX_BLAS_LAPACK_H_
#define TEVRA_LEARN_BOX_BLAS_LAPACK_H_

#include <cstddef>

extern "C" {

// x'y
double ddot_(const int* n, const double* x, const int* incx, const double* y, const int* incy);

// y = alpha*x + y
void daxpy_(const int* n, const double* alpha, const double* x, const int* incx, double* y,
            const int* incy);

// x = alpha*x
void dscal_(const int* n, const double* alpha, double* x, const int* incx);

// ||x||_2, computed without destructive overflow or underflow
double dnrm2_(const int* n, const double* x, const int* incx);

// y = alpha*A*x + beta*y for symmetric A, reading the triangle named by uplo
void dsymv_(const char* uplo, const int* n, const double* alpha, const double* a, const int* lda,
            const double* x, const int* incx, const double* beta, double* y, const int* incy,
            std::size_t uplo_length);

// x = inv(op(A))*x for triangular A
void dtrsv_(const char* uplo, const char* trans, const char* diag, const int* n, const double* a,
            const int* lda, double* x, const int* incx, std::size_t uplo_length,
            std::size_t trans_length, std::size_t diag_length);

// Unblocked Cholesky factorisation of the triangle named by uplo; info > 0
// is the order of the first leading minor that is not positive definite.
void dpotf2_(const char* uplo, const int* n, double* a, const int* lda, int* info,
             std::size_t uplo_length);
}

namespace tevra {

// Unit-stride wrappers so the solver reads like the algorithms it follows.
// They only forward to the routines above.

inline double ddot(int n, const double* x, const double* y) {
  const int one = 1;
  return ddot_(&n, x, &one, y, &one);
}

inline void daxpy(int n, double alpha, const double* x, double* y) {
  const int one = 1;
  daxpy_(&n, &alpha, x, &one, y, &one);
}

inline void dscal(int n, double alpha, double* x) {
  const int one = 1;
  dscal_(&n, &alpha, x, &one);
}

inline double dnrm2(int n, const double* x) {
  const int one = 1;
  return dnrm2_(&n, x, &one);
}

// y = alpha*A*x + beta*y with A n*n (leading dimension n), upper triangle read.
inline void dsymv_upper(int n, double alpha, const double* a, const double* x, double beta,
                        double* y) {
  const int one = 1;
  const int lda = n > 1 ? n : 1;
  dsymv_("U", &n, &alpha, a, &lda, x, &one, &beta, y, &one, 1);
}

// x = inv(L)*x, or inv(L')*x when transposed, with L the lower triangle of
// an n*n array (leading dimension n), non-unit diagonal.
inline void dtrsv_lower(bool transposed, int n, const double* l, double* x) {
  const int one = 1;
  const int lda = n > 1 ? n : 1;
  dtrsv_("L", transposed ? "T" : "N", "N", &n, l, &lda, x, &one, 1, 1, 1);
}

// Factorises the lower triangle of the n*n array a in place; returns info.
inline int dpotf2_lower(int n, double* a) {
  int info = 0;
  const int lda = n > 1 ? n : 1;
  dpotf2_("L", &n, a, &lda, &info, 1);
  return info;
}

}  // namespace tevra

#endif  // TEVRA_LEARN_BOX_BLAS_LAPACK_H_
