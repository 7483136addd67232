// Kernel evaluation between sparse samples.
//
// Kernel is the base of the Q-matrix classes: it is built over the samples of
// one training problem and gives the kernel value of two of them by position.
// kernel_value and dot work on any two samples and need no object.
#ifndef TEVRA_LEARN_KERNEL_H_
#define TEVRA_LEARN_KERNEL_H_

#include "learn/tevra.h"

namespace tevra {

// Sparse dot product: one merge walk over both samples.
double dot(const Node* x, const Node* y);

// Kernel value of x (the sample to predict) and y (a support vector) under
// the kernel settings of param. 0 for an unknown kernel_type.
double kernel_value(const Node* x, const Node* y, const Parameter& param);

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

  Node** samples;          // own array of borrowed sample pointers
  double* squared_norms;   // dot(x, x) per sample; rbf only, else null
  const int kernel_type;
  const int degree;
  const double gamma;
  const double coef0;

  // TODO(kernel owner): member formulas and any column-computation helpers.
};

}  // namespace tevra

#endif  // TEVRA_LEARN_KERNEL_H_
