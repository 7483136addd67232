// The four Q-matrix classes: kernel columns of the duals, cached in single
// precision. The solvers see them only through get_column and swap_entries.
#ifndef TEVRA_LEARN_Q_MATRIX_H_
#define TEVRA_LEARN_Q_MATRIX_H_

#include <memory>
#include <vector>

#include "learn/column_cache.h"
#include "learn/kernel.h"
#include "learn/tevra.h"

namespace tevra {

// The cache's byte count for a parameter: cache_size * 1048576, truncated
// toward zero and saturated to the 32-bit range.
long long cache_bytes(const Parameter& param);

// The columns of one get_columns call that the cache lacks, and how to
// fill them: what the cache already holds is copied, the rest computed by
// Kernel::kernel_columns_at. The lists grow once and are then reused.
struct Column_batch {
  std::vector<int> rows;      // column (cache index) to compute
  std::vector<int> begins;    // first entry it lacks
  std::vector<float*> data;   // its storage in the cache
  std::vector<int> pending;   // rows no cached column can supply, increasing

  // Fetches the count columns in turn, exactly as count get_column calls
  // would, into columns, and lists the incomplete ones; returns how many.
  // A column named twice is listed once: the second fetch finds it
  // complete, and it will be by the time the caller reads it.
  int fetch(Column_cache& cache, const int* indices, int count, int len, const float** columns);

  // For the misses listed by fetch, entries begins[k] to end-1 (end: the
  // len given to fetch, which sized pending): the cached
  // matrix is symmetric to the bit (K(i, j) and K(j, i) sum the same
  // products in the same order), so entry j of column rows[k] is entry
  // rows[k] of column j whenever the cache holds that one. Such entries are
  // copied; the rows where any listed column still lacks a value go to
  // pending. Returns their count. Never used for precomputed kernels, whose
  // matrix the user may give unsymmetric.
  int mirror(const Column_cache& cache, int misses, int end);
};

// Q(i, j) = K(i, j). Used by the Crammer and Singer solver.
// Entries are K converted to single precision.
class ONE_CLASS_Q : public Kernel {
 public:
  ONE_CLASS_Q(const Problem& problem, const Parameter& param);
  ~ONE_CLASS_Q() override;
  const float* get_column(int i, int len) override;
  void get_columns(const int* positions, int count, int len, const float** columns) override;
  void swap_entries(int i, int j) override;

 private:
  Column_cache cache;  // one column per sample, in the current order
  Column_batch batch;  // scratch of get_columns
};

// Q(i, j) = K(i, j) + 1. Used by Solver_MB, addressed by sample; never
// reordered through swap_entries, which it inherits from Kernel unchanged:
// a swap would move the samples but not the cached columns.
// Entries are K converted to single precision, then 1 added in single.
class BONE_CLASS_Q : public Kernel {
 public:
  BONE_CLASS_Q(const Problem& problem, const Parameter& param);
  ~BONE_CLASS_Q() override;
  const float* get_column(int i, int len) override;
  void get_columns(const int* positions, int count, int len, const float** columns) override;

 private:
  Column_cache cache;  // one column per sample
  Column_batch batch;  // scratch of get_columns
};

// Q(i, j) = s_i s_j (K(i, j) + 1). Two-class classification.
// Entries are (K + 1) in double times the sign product formed in single
// precision, then converted to single.
class BSVC_Q : public Kernel {
 public:
  BSVC_Q(const Problem& problem, const Parameter& param, const signed char* signs);
  ~BSVC_Q() override;
  const float* get_column(int i, int len) override;
  void get_columns(const int* positions, int count, int len, const float** columns) override;
  void swap_entries(int i, int j) override;

 private:
  std::unique_ptr<signed char[]> signs;  // +1 / -1 per position, own copy
  Column_cache cache;                    // one column per sample, in the current order
  Column_batch batch;                    // scratch of get_columns
};

// Q(i, j) = s_i s_j (K(sample(i), sample(j)) + 1) over 2l positions.
// Regression. get_column returns one of qpsize rotating buffers.
// The cache holds each sample's complete column of K + 1 (in single
// precision) once, in sample order; both positions of a sample are served
// from it with a sign flip, so a swap moves only signs and sample_of.
class BSVR_Q : public Kernel {
 public:
  BSVR_Q(const Problem& problem, const Parameter& param);
  ~BSVR_Q() override;
  const float* get_column(int i, int len) override;
  void get_columns(const int* positions, int count, int len, const float** columns) override;
  void swap_entries(int i, int j) override;

 private:
  int sample_count;                         // l; the object has 2l positions
  int buffer_count;                         // output buffers, qpsize of them
  Column_cache cache;                       // l complete columns, sample order
  Column_batch batch;                       // scratch of get_columns
  std::vector<int> batch_samples;           // samples of a get_columns call
  std::unique_ptr<signed char[]> signs;     // per position: +1 first l, -1 last l
  std::unique_ptr<int[]> sample_of;         // per position: the sample it stands for
  int next_buffer;                          // buffer the next get_column fills
  std::unique_ptr<float[]> column_buffers;  // buffer_count buffers of 2l floats

  // Fills the next rotating buffer with position i's column, from the
  // complete cached column of its sample.
  const float* signed_column(int i, int len, const float* column);
};

template <typename Store>
void Kernel::fill_columns(Column_cache& cache, Column_batch& batch, const int* indices, int count,
                          int len, const float** columns, Store store) {
  const int misses = batch.fetch(cache, indices, count, len, columns);
  if (misses == 0) return;
  float* const* const data = batch.data.data();
  const int* const rows = batch.rows.data();
  auto to_column = [&store, data, rows](int k, int j, double value) {
    store(data[k], rows[k], j, value);
  };
  if (kernel_type == precomputed) {
    kernel_columns(batch.rows.data(), batch.begins.data(), misses, len, to_column);
    return;
  }
  const int pending = batch.mirror(cache, misses, len);
  kernel_columns_at(batch.rows.data(), batch.begins.data(), misses, batch.pending.data(), pending,
                    to_column);
}

}  // namespace tevra

#endif  // TEVRA_LEARN_Q_MATRIX_H_
