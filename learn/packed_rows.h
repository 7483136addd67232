// Packed_rows: sparse samples copied into groups of four whose dot products
// with one dense vector advance side by side.
#ifndef TEVRA_LEARN_PACKED_ROWS_H_
#define TEVRA_LEARN_PACKED_ROWS_H_

#include <cstddef>
#include <vector>

#include "learn/tevra.h"

namespace tevra {

// The dot product of a sparse sample with a dense vector is one chain of
// additions, each waiting for the one before. With the entries of four
// samples interleaved, four chains advance at once while each sum still adds
// its own products in its sample's order: every result is, to the last bit,
//   sum = 0; for each node x of the row: sum += dense[x.index] * x.value.
// A group is as long as its longest row; shorter rows are padded with
// entries (pad_index, 0.0). Their product is +0 when dense[pad_index] is 0,
// and adding +0 changes no sum (a sum that starts at +0 never becomes -0).
class Packed_rows {
 public:
  static constexpr int lanes = 4;

  // Packs count rows: rows[r], lengths[r] nodes long (terminator excluded),
  // becomes lane r % lanes of group r / lanes. Storage is reused; the
  // groups are filled on every thread.
  void pack(const Node* const* rows, const int* lengths, int count, int pad_index);

  int group_count() const { return static_cast<int>(start.size()) - 1; }

  // Entries before each group, group_count() + 1 of them from 0: the cost
  // of the groups' dot products, for splitting them between threads.
  const std::size_t* group_starts() const { return start.data(); }

  // Dot products of the rows of group g with dense: sums[c] for lane c, 0
  // for lanes without a row. dense[pad_index] must be 0.
  void group_dots(const double* dense, int g, double* sums) const {
    const int* idx = index.data() + start[g];
    const double* val = value.data() + start[g];
    const size_t n = start[g + 1] - start[g];
    // Named sums stay in registers; an array of them might not.
    double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    for (size_t e = 0; e < n; e += lanes) {
      s0 += dense[idx[e]] * val[e];
      s1 += dense[idx[e + 1]] * val[e + 1];
      s2 += dense[idx[e + 2]] * val[e + 2];
      s3 += dense[idx[e + 3]] * val[e + 3];
    }
    sums[0] = s0;
    sums[1] = s1;
    sums[2] = s2;
    sums[3] = s3;
  }

 private:
  std::vector<int> index;     // entry e of lane c of group g at start[g] + e * lanes + c
  std::vector<double> value;  // value of the same entry
  std::vector<size_t> start;  // group_count() + 1 offsets into index and value
};

}  // namespace tevra

#endif  // TEVRA_LEARN_PACKED_ROWS_H_
