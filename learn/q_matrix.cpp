// Byte count of the column cache shared by every Q-matrix class.
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

}  // namespace tevra
