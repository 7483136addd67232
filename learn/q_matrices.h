// The four Q matrices of the duals: kernel columns in single precision,
// each class with the Cached_columns it owns (BSVR_Q serves two positions
// per sample from one cached column).
#ifndef TEVRA_LEARN_Q_MATRICES_H_
#define TEVRA_LEARN_Q_MATRICES_H_

#include <memory>
#include <vector>

#include "learn/cached_columns.h"
#include "learn/kernel.h"
#include "learn/tevra.h"

namespace tevra {

// Q(i, j) = K(i, j). Used by the Crammer and Singer solver.
// Entries are K converted to single precision.
class ONE_CLASS_Q : public Kernel {
 public:
  ONE_CLASS_Q(const Problem& problem, const Parameter& param);
  void get_columns(const int* positions, int count, int len, const float** columns) override;
  void swap_entries(int i, int j) override;

 private:
  Cached_columns cache;  // one column per sample, in the current order
};

// Q(i, j) = K(i, j) + 1. Used by Solver_MB, addressed by sample; never
// reordered through swap_entries, which it inherits from Kernel unchanged:
// a swap would move the samples but not the cached columns.
// Entries are K converted to single precision, then 1 added in single.
class BONE_CLASS_Q : public Kernel {
 public:
  BONE_CLASS_Q(const Problem& problem, const Parameter& param);
  void get_columns(const int* positions, int count, int len, const float** columns) override;

 private:
  Cached_columns cache;  // one column per sample
};

// Q(i, j) = s_i s_j (K(i, j) + 1). Two-class classification.
// Entries are (K + 1) in double times the sign product formed in single
// precision, then converted to single.
class BSVC_Q : public Kernel {
 public:
  BSVC_Q(const Problem& problem, const Parameter& param, const signed char* signs);
  void get_columns(const int* positions, int count, int len, const float** columns) override;
  void swap_entries(int i, int j) override;

 private:
  std::unique_ptr<signed char[]> signs;  // +1 / -1 per position, own copy
  Cached_columns cache;                  // one column per sample, in the current order
};

// Q(i, j) = s_i s_j (K(sample(i), sample(j)) + 1) over 2l positions.
// Regression. A column is one of qpsize rotating buffers, valid until
// qpsize further columns have been asked for.
// The cache holds each sample's complete column of K + 1 (in single
// precision) once, in sample order; both positions of a sample are served
// from it with a sign flip, so a swap moves only signs and sample_of.
class BSVR_Q : public Kernel {
 public:
  BSVR_Q(const Problem& problem, const Parameter& param);
  void get_columns(const int* positions, int count, int len, const float** columns) override;
  void swap_entries(int i, int j) override;

 private:
  int sample_count;                         // l; the object has 2l positions
  int buffer_count;                         // output buffers, qpsize of them
  Cached_columns cache;                     // l complete columns, sample order
  std::vector<int> batch_samples;           // samples of a get_columns call
  std::vector<const float*> batch_sources;  // their cached columns
  std::vector<float*> batch_buffers;        // the buffers their signed columns fill
  std::unique_ptr<signed char[]> signs;     // per position: +1 first l, -1 last l
  std::unique_ptr<int[]> sample_of;         // per position: the sample it stands for
  int next_buffer;                          // buffer the next column fills
  std::unique_ptr<float[]> column_buffers;  // buffer_count buffers of 2l floats
};

}  // namespace tevra

#endif  // TEVRA_LEARN_Q_MATRICES_H_
