// The cache's byte count and the fetch and mirror steps of Cached_columns.
#include "learn/cached_columns.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace tevra {

// A cache_size of 2048 MB or more has no 32-bit byte count: it saturates at
// the largest one rather than wrapping. Not-a-number gives 0 bytes, which
// leaves the cache at its floor of qpsize columns.
long long cache_bytes(const Parameter& param) {
  const double bytes = param.cache_size * 1048576;
  if (std::isnan(bytes)) return 0;
  if (bytes >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (bytes <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<long long>(std::trunc(bytes));
}

Cached_columns::Cached_columns(Kernel& kernel, int count, const Parameter& param)
    : kernel(kernel), cache(count, cache_bytes(param), param.qpsize) {}

int Cached_columns::fetch(const int* indices, int count, int len, const float** columns) {
  // Every list is sized before the first fetch: once the cache has handed
  // out storage, nothing may fail until the columns are filled.
  if (static_cast<int>(rows.size()) < count) {
    rows.resize(count);
    begins.resize(count);
    data.resize(count);
  }
  if (static_cast<int>(pending.size()) < len) pending.resize(len);
  int misses = 0;
  for (int k = 0; k < count; ++k) {
    int filled;
    float* const column = cache.fetch(indices[k], len, &filled);
    columns[k] = column;
    if (filled < len) {
      rows[misses] = indices[k];
      begins[misses] = filled;
      data[misses] = column;
      ++misses;
    }
  }
  return misses;
}

int Cached_columns::mirror(int misses, int end) {
  int begin = end;
  int last_row = 0;
  for (int k = 0; k < misses; ++k) {
    begin = std::min(begin, begins[k]);
    last_row = std::max(last_row, rows[k]);
  }
  int count = 0;
  for (int j = begin; j < end; ++j) {
    const float* source = cache.peek(j, last_row + 1);
    // A listed column holds no values yet, however filled its slot says.
    for (int k = 0; source != nullptr && k < misses; ++k)
      if (rows[k] == j) source = nullptr;
    if (source == nullptr) {
      pending[count++] = j;
      continue;
    }
    for (int k = 0; k < misses; ++k)
      if (j >= begins[k]) data[k][j] = source[rows[k]];
  }
  return count;
}

}  // namespace tevra
