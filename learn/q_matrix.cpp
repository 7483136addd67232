// Byte count of the column cache shared by every Q-matrix class, and the
// batched fetch of several columns.
#include "learn/q_matrix.h"

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

int Column_batch::fetch(Column_cache& cache, const int* indices, int count, int len,
                        const float** columns) {
  if (static_cast<int>(rows.size()) < count) {
    rows.resize(count);
    begins.resize(count);
    data.resize(count);
  }
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

}  // namespace tevra
