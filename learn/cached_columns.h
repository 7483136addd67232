// Cached_columns: the kernel columns of one Q matrix, kept in a
// Column_cache and computed by its Kernel where the cache lacks them.
#ifndef TEVRA_LEARN_CACHED_COLUMNS_H_
#define TEVRA_LEARN_CACHED_COLUMNS_H_

#include <vector>

#include "learn/column_cache.h"
#include "learn/kernel.h"
#include "learn/tevra.h"

namespace tevra {

// The cache's byte count for a parameter: cache_size * 1048576, truncated
// toward zero and saturated to the 32-bit range.
long long cache_bytes(const Parameter& param);

// Each Q matrix that computes kernel values owns one. get fetches a working
// set's columns from the cache exactly as one fetch after another would,
// and fills what they lack in one batched pass of the Kernel over the
// samples; the entries of a Q matrix are what its entry function makes of
// the kernel values.
class Cached_columns {
 public:
  // count columns of count rows over kernel's positions (kernel borrowed),
  // within param.cache_size and with room for at least param.qpsize
  // complete columns.
  Cached_columns(Kernel& kernel, int count, const Parameter& param);
  Cached_columns(const Cached_columns&) = delete;
  Cached_columns& operator=(const Cached_columns&) = delete;

  // Columns indices[0..count-1], entries 0 to len-1, into columns; the
  // storage is the cache's and stays valid until the next call. Each
  // missing entry j of column i is set by entry(storage of column i, i, j,
  // K(i, j)), in increasing j for each column. Where the cache holds the
  // mirror entry (i of column j) and the kernel is symmetric, that entry is
  // copied instead: it is the same value.
  template <typename Entry>
  void get(const int* indices, int count, int len, const float** columns, Entry entry);

  // Positions i and j trade places in every cached column.
  void swap_positions(int i, int j) { cache.swap_positions(i, j); }

 private:
  // Fetches the count columns in turn into columns and lists the
  // incomplete ones in rows, begins and data; returns how many. A column
  // named twice is listed once: the second fetch finds it complete, and it
  // will be by the time the caller reads it.
  int fetch(const int* indices, int count, int len, const float** columns);

  // For the misses listed by fetch, entries begins[k] to end-1 (end: the
  // len given to fetch, which sized pending): entry j of column rows[k] is
  // copied from entry rows[k] of column j wherever the cache holds that
  // one; the rows where any listed column still lacks a value go to
  // pending. Returns their count.
  int mirror(int misses, int end);

  Kernel& kernel;
  Column_cache cache;
  // The misses of one get; the lists grow once and are then reused.
  std::vector<int> rows;     // column (cache index) to compute
  std::vector<int> begins;   // first entry it lacks
  std::vector<float*> data;  // its storage in the cache
  std::vector<int> pending;  // rows no cached column can supply, increasing
};

template <typename Entry>
void Cached_columns::get(const int* indices, int count, int len, const float** columns,
                         Entry entry) {
  const int misses = fetch(indices, count, len, columns);
  if (misses == 0) return;
  float* const* const storage = data.data();
  const int* const columns_of = rows.data();
  auto to_column = [&entry, storage, columns_of](int k, int j, double value) {
    entry(storage[k], columns_of[k], j, value);
  };
  if (!kernel.symmetric()) {
    kernel.kernel_columns(rows.data(), begins.data(), misses, len, to_column);
    return;
  }
  const int unresolved = mirror(misses, len);
  kernel.kernel_columns_at(rows.data(), begins.data(), misses, pending.data(), unresolved,
                           to_column);
}

}  // namespace tevra

#endif  // TEVRA_LEARN_CACHED_COLUMNS_H_
