// The four Q-matrix classes: kernel columns of the duals, cached in single
// precision. The solvers see them only through get_column and swap_entries.
#ifndef TEVRA_LEARN_Q_MATRIX_H_
#define TEVRA_LEARN_Q_MATRIX_H_

#include "learn/column_cache.h"
#include "learn/kernel.h"
#include "learn/tevra.h"

namespace tevra {

// The cache's byte count for a parameter: cache_size * 1048576, truncated
// toward zero and saturated to the 32-bit range.
long long cache_bytes(const Parameter& param);

// Q(i, j) = K(i, j). Used by the Crammer and Singer solver.
class ONE_CLASS_Q : public Kernel {
 public:
  ONE_CLASS_Q(const Problem& problem, const Parameter& param);
  ~ONE_CLASS_Q() override;
  const float* get_column(int i, int len) override;
  void swap_entries(int i, int j) override;
  // TODO(Q owner): private members.
};

// Q(i, j) = K(i, j) + 1. Used by Solver_MB, addressed by sample; never
// reordered through swap_entries.
class BONE_CLASS_Q : public Kernel {
 public:
  BONE_CLASS_Q(const Problem& problem, const Parameter& param);
  ~BONE_CLASS_Q() override;
  const float* get_column(int i, int len) override;
};

// Q(i, j) = s_i s_j (K(i, j) + 1). Two-class classification.
class BSVC_Q : public Kernel {
 public:
  BSVC_Q(const Problem& problem, const Parameter& param, const signed char* signs);
  ~BSVC_Q() override;
  const float* get_column(int i, int len) override;
  void swap_entries(int i, int j) override;
};

// Q(i, j) = s_i s_j (K(sample(i), sample(j)) + 1) over 2l positions.
// Regression. get_column returns one of qpsize rotating buffers.
class BSVR_Q : public Kernel {
 public:
  BSVR_Q(const Problem& problem, const Parameter& param);
  ~BSVR_Q() override;
  const float* get_column(int i, int len) override;
  void swap_entries(int i, int j) override;
};

}  // namespace tevra

#endif  // TEVRA_LEARN_Q_MATRIX_H_
