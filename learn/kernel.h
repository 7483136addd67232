// Kernel evaluation between sparse samples.
//
// Kernel is the base of the Q-matrix classes: it is built over the samples of
// one training problem and gives the kernel values of two of them, or of
// stretches of columns, by position. kernel_value and dot work on any two
// samples and need no object.
#ifndef TEVRA_LEARN_KERNEL_H_
#define TEVRA_LEARN_KERNEL_H_

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <vector>

#include "learn/parallel.h"
#include "learn/q_matrix.h"
#include "learn/tevra.h"

namespace tevra {

// Sparse dot product: one merge walk over both samples.
double dot(const Node* x, const Node* y);

// Kernel value of x (the sample to predict) and y (a support vector) under
// the kernel settings of param. 0 for an unknown kernel_type.
double kernel_value(const Node* x, const Node* y, const Parameter& param);

// What kernel_value gives for the linear, polynomial and sigmoid kernels
// when dot(x, y) is dot_product.
double kernel_of_dot(double dot_product, const Parameter& param);

// Whether a dense row of length doubles pays for itself over samples of
// node_count nodes in all: a row is zero-filled once, and beyond a small
// size only while it is no larger than the samples' own nodes, so indices
// that reach far beyond the data (hashed features, or few samples) keep the
// merge walk.
inline bool dense_row_pays(long long length, long long node_count) {
  constexpr long long always = 1 << 12;  // 32 KiB: cheaper than any decision
  constexpr long long per_node = 2;      // two doubles, the size of one node
  return length > 0 && (length <= always || length <= per_node * node_count);
}

// Most columns kernel_columns computes in one pass over the samples.
constexpr int kMaxBatchWidth = 16;

// base raised to degree by repeated squaring (1 for degree <= 0).
inline double integer_power(double base, int degree) {
  double result = 1;
  for (int t = degree; t > 0; t /= 2) {
    if (t % 2 == 1) result *= base;
    base *= base;
  }
  return result;
}

// The kernel formulas, each written once: every path to a kernel value, in
// training and in prediction, ends in one of these.
inline double polynomial_kernel(double dot, double gamma, double coef0, int degree) {
  return integer_power(gamma * dot + coef0, degree);
}
inline double rbf_kernel(double squared_distance, double gamma) {
  return std::exp(-(squared_distance * gamma));
}
inline double sigmoid_kernel(double dot, double gamma, double coef0) {
  return std::tanh(gamma * dot + coef0);
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
//
// The rows of a column (or of a batch of columns) are independent of each
// other: each pass hands contiguous stretches of them to the threads of
// parallel_for, and every entry is computed exactly as on one thread. So a
// store callback may run on several threads at once, each call for its own
// entry.
//
// The Q matrices derive from it and implement Q_matrix's get_columns; the
// swap_entries here moves the samples (and their norms) only.
class Kernel : public Q_matrix {
 public:
  // Copies the count sample pointers (the nodes stay borrowed) and the
  // kernel settings of param.
  Kernel(int count, Node* const* samples, const Parameter& param);
  ~Kernel() override;
  Kernel(const Kernel&) = delete;
  Kernel& operator=(const Kernel&) = delete;

  // Positions i and j trade places among the samples.
  void swap_entries(int i, int j) override;

  // K(i, j) by the formula bound at construction, one entry at a time.
  double pair(int i, int j) const { return (this->*pair_kernel)(i, j); }

  // K(i, j) equals K(j, i) to the bit (the two sum the same products in
  // the same order). Not so for precomputed kernels, whose matrix the user
  // may give unsymmetric.
  bool symmetric() const { return kernel_type != precomputed; }

  // Hands K(i, j) to store(j, value) for j = begin to end-1, each once,
  // from any thread (increasing j within each thread's stretch). The
  // kernel type is tested once per call, never per entry.
  template <typename Store>
  void kernel_column(int i, int begin, int end, Store store) {
    kernel_column_at(i, identity_rows.data() + begin, end - begin, store);
  }
  // The same for the rows js[0..n-1] only, in the order listed.
  template <typename Store>
  void kernel_column_at(int i, const int* js, int n, Store store);

  // Column k of the batch is column rows[k]: store(k, j, K(rows[k], j)) for
  // j = begins[k] to end-1, each once, from any thread. Each value is
  // formed exactly as kernel_column forms it, but the other samples are
  // walked once per batch of columns instead of once per column: the batch
  // is scattered side by side into dense_block, and the independent sums
  // of one pass no longer wait on each other.
  template <typename Store>
  void kernel_columns(const int* rows, const int* begins, int count, int end, Store store) {
    int begin = end;
    for (int k = 0; k < count; ++k) begin = std::min(begin, begins[k]);
    kernel_columns_at(rows, begins, count, identity_rows.data() + begin, end - begin, store);
  }
  // The same for the rows js[0..n-1] only (increasing), and of those only
  // j >= begins[k] for column k.
  template <typename Store>
  void kernel_columns_at(const int* rows, const int* begins, int count, const int* js, int n,
                         Store store);

 protected:
  // The formula of this kernel, bound once at construction.
  double (Kernel::*pair_kernel)(int i, int j) const;

  Node** samples;         // own array of borrowed sample pointers
  int* node_counts;       // nodes of each sample before its terminator
  double* squared_norms;  // dot(x, x) per sample; rbf only, else null
  // Copies of the kernel settings, fixed for the life of the object.
  const int kernel_type;  // selects the formula
  const int degree;       // polynomial degree
  const double gamma;     // coefficient of the dot product (or distance)
  const double coef0;     // constant term of polynomial and sigmoid

 private:
  // K(i, j) from the dot product of samples i and j, by the formula of
  // the dot-product kernel type (rbf through the squared norms). Every path
  // of this class to a kernel value goes through here.
  template <int type>
  double from_dot(int i, int j, double dot) const {
    static_assert(type == linear || type == polynomial || type == rbf || type == sigmoid,
                  "a dot-product kernel");
    if constexpr (type == linear) {
      return dot;
    } else if constexpr (type == polynomial) {
      return polynomial_kernel(dot, gamma, coef0, degree);
    } else if constexpr (type == rbf) {
      return rbf_kernel(squared_norms[i] + squared_norms[j] - 2 * dot, gamma);
    } else {
      return sigmoid_kernel(dot, gamma, coef0);
    }
  }

  // Calls body(std::integral_constant<int, kernel_type>()) when kernel_type
  // is a dot-product kernel, so that the type is tested once per call and
  // never per entry; does nothing for the others.
  template <typename Body>
  void with_dot_kernel(Body body) const;

  // Member formulas bound to pair_kernel.
  template <int type>
  double dot_pair(int i, int j) const {
    return from_dot<type>(i, j, dot(samples[i], samples[j]));
  }
  double precomputed_pair(int i, int j) const;
  double unknown_pair(int i, int j) const;

  // Work of a pass over n samples for `columns` columns, in parallel_for's
  // units: one multiply-add per node and column.
  long long pass_work(int n, int columns) const {
    return static_cast<long long>(n) * average_nodes * columns;
  }

  // Dot product of the scattered sample with y: one pass over y.
  double dense_dot(const Node* y) const {
    double sum = 0;
    for (; y->index != -1; ++y) sum += dense_row[y->index] * y->value;
    return sum;
  }
  void scatter(const Node* x);
  void clear(const Node* x);

  // dense_dot of samples js[0] to js[3] in one walk: four independent sums,
  // each taking its own sample's products in node order.
  void dense_dots4(const int* js, double* dots) const;

  // Hands dense_dot(samples[j]) to finish(j, dot) for j = js[0..n-1], in
  // the order listed, four samples at a time.
  template <typename Finish>
  void column_pass(const int* js, int n, Finish finish);

  // One pass of kernel_columns over samples js[0..n-1] for the width
  // columns scattered into dense_block; finish(k, j, dot) turns each dot
  // product into the kernel value and stores it.
  template <typename Finish>
  void block_pass(const int* begins, int width, const int* js, int n, Finish finish);

  std::vector<int> identity_rows;  // 0, 1, ..., count-1: the rows of a range
  long long average_nodes = 1;     // nodes per sample, rounded up (at least 1)

  // One entry per feature index 0 to the largest index of any sample; all
  // zero except while kernel_column holds a sample scattered in it. Empty
  // when the indices are too large for it (or for precomputed kernels).
  std::vector<double> dense_row;

  // Columns per batch of kernel_columns: dense_block holds this many dense
  // rows interleaved, entry (index, k) at index * width + k, so one feature
  // of every batched column shares a cache line. 1 (no batching) when the
  // feature indices are too large for that.
  int batch_width = 1;
  std::vector<double> dense_block;  // all zero between batches; empty if batch_width is 1
};

template <typename Body>
void Kernel::with_dot_kernel(Body body) const {
  switch (kernel_type) {
    case linear:
      body(std::integral_constant<int, linear>());
      break;
    case polynomial:
      body(std::integral_constant<int, polynomial>());
      break;
    case rbf:
      body(std::integral_constant<int, rbf>());
      break;
    case sigmoid:
      body(std::integral_constant<int, sigmoid>());
      break;
    default:  // no dense row and no batches for the other kernels
      break;
  }
}

template <typename Finish>
void Kernel::column_pass(const int* js, int n, Finish finish) {
  parallel_for(n, pass_work(n, 1), [&](int begin, int end) {
    int t = begin;
    double dots[4];
    for (; t + 4 <= end; t += 4) {
      dense_dots4(js + t, dots);
      for (int u = 0; u < 4; ++u) finish(js[t + u], dots[u]);
    }
    for (; t < end; ++t) finish(js[t], dense_dot(samples[js[t]]));
  });
}

template <typename Store>
void Kernel::kernel_column_at(int i, const int* js, int n, Store store) {
  if (dense_row.empty()) {
    // Through pair(), not the member pointer: GCC's vptr sanitizer
    // miscompiles a member-pointer call on a captured this.
    parallel_for(n, pass_work(n, 1), [&](int begin, int end) {
      for (int t = begin; t < end; ++t) store(js[t], pair(i, js[t]));
    });
    return;
  }
  scatter(samples[i]);
  with_dot_kernel([&](auto type) {
    column_pass(js, n, [&](int j, double dot) {
      store(j, from_dot<decltype(type)::value>(i, j, dot));
    });
  });
  clear(samples[i]);
}

// The width dot products of y with the columns interleaved in block, into
// dots: one walk over y's nodes, each sum taking its products in node
// order as dense_dot does. The width is fixed at compile time so that the
// sums stay in registers.
template <int width>
void block_dots(const Node* y, const double* block, double* dots) {
  double sums[width] = {};
  for (; y->index != -1; ++y) {
    const double* const row = block + static_cast<size_t>(y->index) * width;
    const double value = y->value;
#pragma GCC unroll 16
    for (int k = 0; k < width; ++k) sums[k] += row[k] * value;
  }
#pragma GCC unroll 16
  for (int k = 0; k < width; ++k) dots[k] = sums[k];
}

using Block_dots = void (*)(const Node* y, const double* block, double* dots);

// block_dots for width 0 to kMaxBatchWidth (0 and 1 are never used).
extern const Block_dots block_dots_of_width[kMaxBatchWidth + 1];

template <typename Finish>
void Kernel::block_pass(const int* begins, int width, const int* js, int n, Finish finish) {
  const double* const block = dense_block.data();
  const Block_dots dots_of = block_dots_of_width[width];
  parallel_for(n, pass_work(n, width), [&](int from, int to) {
    double dots[kMaxBatchWidth];
    for (int t = from; t < to; ++t) {
      const int j = js[t];
      dots_of(samples[j], block, dots);
      for (int k = 0; k < width; ++k)
        if (j >= begins[k]) finish(k, j, dots[k]);
    }
  });
}

template <typename Store>
void Kernel::kernel_columns_at(const int* rows, const int* begins, int count, const int* js, int n,
                               Store store) {
  for (int first = 0; first < count; first += batch_width) {
    const int width = std::min(batch_width, count - first);
    const int* const batch = rows + first;
    const int* const starts = begins + first;
    if (width == 1) {
      // js is increasing: skip the rows before this column's start.
      const int skip = static_cast<int>(std::lower_bound(js, js + n, starts[0]) - js);
      kernel_column_at(batch[0], js + skip, n - skip,
                       [&store, first](int j, double value) { store(first, j, value); });
      continue;
    }
    for (int k = 0; k < width; ++k) {
      for (const Node* x = samples[batch[k]]; x->index != -1; ++x)
        dense_block[static_cast<size_t>(x->index) * width + k] = x->value;
    }
    with_dot_kernel([&](auto type) {
      block_pass(starts, width, js, n, [&](int k, int j, double dot) {
        store(first + k, j, from_dot<decltype(type)::value>(batch[k], j, dot));
      });
    });
    for (int k = 0; k < width; ++k)
      for (const Node* x = samples[batch[k]]; x->index != -1; ++x)
        dense_block[static_cast<size_t>(x->index) * width + k] = 0;
  }
}

}  // namespace tevra

#endif  // TEVRA_LEARN_KERNEL_H_
