// Kernel evaluation between sparse samples.
//
// Kernel is the base of the Q-matrix classes: it is built over the samples of
// one training problem and gives the kernel value of two of them by position.
// kernel_value and dot work on any two samples and need no object.
#ifndef TEVRA_LEARN_KERNEL_H_
#define TEVRA_LEARN_KERNEL_H_

#include <cmath>
#include <vector>

#include "learn/tevra.h"

namespace tevra {

// Sparse dot product: one merge walk over both samples.
double dot(const Node* x, const Node* y);

// Kernel value of x (the sample to predict) and y (a support vector) under
// the kernel settings of param. 0 for an unknown kernel_type.
double kernel_value(const Node* x, const Node* y, const Parameter& param);

// base raised to degree by repeated squaring (1 for degree <= 0).
inline double integer_power(double base, int degree) {
  double result = 1;
  for (int t = degree; t > 0; t /= 2) {
    if (t % 2 == 1) result *= base;
    base *= base;
  }
  return result;
}

// The kernel matrix of one training problem, addressed by position.
//
// Entries one at a time go through pair_kernel, the formula bound at
// construction. Whole stretches of a column go through kernel_column, which
// scatters the column's own sample into a dense row once and then needs only
// one pass over each other sample. Adding the exact zero products of absent
// features leaves a sum unchanged, so both paths agree to the last bit
// (feature values are finite: the readers refuse any other).
// When the feature indices are too large for a dense row, kernel_column
// falls back to pair_kernel. The dense row is an addition for speed only:
// it changes no value.
class Kernel {
 public:
  // Copies the count sample pointers (the nodes stay borrowed) and the
  // kernel settings of param.
  Kernel(int count, Node* const* samples, const Parameter& param);
  virtual ~Kernel();
  Kernel(const Kernel&) = delete;
  Kernel& operator=(const Kernel&) = delete;

  // Entries 0 to len-1 of column i of the Q matrix, in single precision.
  // Valid until the next call into the same object (BSVR_Q: see there).
  virtual const float* get_column(int i, int len) = 0;

  // Positions i and j trade places.
  virtual void swap_entries(int i, int j);

 protected:
  // The formula of this kernel, bound once at construction.
  double (Kernel::*pair_kernel)(int i, int j) const;

  Node** samples;         // own array of borrowed sample pointers
  double* squared_norms;  // dot(x, x) per sample; rbf only, else null
  // Copies of the kernel settings, fixed for the life of the object.
  const int kernel_type;  // selects the formula
  const int degree;       // polynomial degree
  const double gamma;     // coefficient of the dot product (or distance)
  const double coef0;     // constant term of polynomial and sigmoid

  // Hands K(i, j) to store(j, value) for j = begin to end-1, in increasing
  // j. The kernel type is tested once per call, never per entry.
  template <typename Store>
  void kernel_column(int i, int begin, int end, Store store);

 private:
  // Member formulas, one per kernel_type.
  double linear_pair(int i, int j) const;
  double polynomial_pair(int i, int j) const;
  double rbf_pair(int i, int j) const;
  double sigmoid_pair(int i, int j) const;
  double precomputed_pair(int i, int j) const;
  double unknown_pair(int i, int j) const;

  // Dot product of the scattered sample with y: one pass over y.
  double dense_dot(const Node* y) const {
    double sum = 0;
    for (; y->index != -1; ++y) sum += dense_row[y->index] * y->value;
    return sum;
  }
  void scatter(const Node* x);
  void clear(const Node* x);

  // One entry per feature index 0 to the largest index of any sample; all
  // zero except while kernel_column holds a sample scattered in it. Empty
  // when the indices are too large for it (or for precomputed kernels).
  std::vector<double> dense_row;
};

template <typename Store>
void Kernel::kernel_column(int i, int begin, int end, Store store) {
  if (dense_row.empty()) {
    for (int j = begin; j < end; ++j) store(j, (this->*pair_kernel)(i, j));
    return;
  }
  scatter(samples[i]);
  switch (kernel_type) {
    case linear:
      for (int j = begin; j < end; ++j) store(j, dense_dot(samples[j]));
      break;
    case polynomial:
      for (int j = begin; j < end; ++j)
        store(j, integer_power(gamma * dense_dot(samples[j]) + coef0, degree));
      break;
    case rbf: {
      const double norm_i = squared_norms[i];
      for (int j = begin; j < end; ++j)
        store(j, std::exp(-((norm_i + squared_norms[j] - 2 * dense_dot(samples[j])) * gamma)));
      break;
    }
    case sigmoid:
      for (int j = begin; j < end; ++j) store(j, std::tanh(gamma * dense_dot(samples[j]) + coef0));
      break;
    default:  // dense_row stays empty for every other kernel
      break;
  }
  clear(samples[i]);
}

}  // namespace tevra

#endif  // TEVRA_LEARN_KERNEL_H_
