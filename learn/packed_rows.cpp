// Packed_rows: packing of sparse samples into interleaved groups.
#include "learn/packed_rows.h"

#include <algorithm>

#include "learn/parallel.h"

namespace tevra {

static_assert(Packed_rows::lanes == 4, "group_dots names one sum per lane");

void Packed_rows::pack(const Node* const* rows, const int* lengths, int count, int pad_index) {
  const int groups = (count + lanes - 1) / lanes;
  start.resize(static_cast<size_t>(groups) + 1);
  size_t total = 0;
  for (int g = 0; g < groups; ++g) {
    start[g] = total;
    int longest = 0;
    for (int r = g * lanes; r < std::min(count, (g + 1) * lanes); ++r) longest = std::max(longest, lengths[r]);
    total += static_cast<size_t>(lanes) * static_cast<size_t>(longest);
  }
  start[groups] = total;

  index.resize(total);
  value.resize(total);
  parallel_for_balanced(groups, start.data(), [&](int first, int last) {
    for (int g = first; g < last; ++g) {
      const size_t length = (start[g + 1] - start[g]) / lanes;
      int* idx = index.data() + start[g];
      double* val = value.data() + start[g];
      for (int c = 0; c < lanes; ++c) {
        const int r = g * lanes + c;
        const size_t n = r < count ? static_cast<size_t>(lengths[r]) : 0;
        for (size_t e = 0; e < n; ++e) {
          idx[e * lanes + c] = rows[r][e].index;
          val[e * lanes + c] = rows[r][e].value;
        }
        for (size_t e = n; e < length; ++e) {
          idx[e * lanes + c] = pad_index;
          val[e * lanes + c] = 0.0;
        }
      }
    }
  });
}

}  // namespace tevra
