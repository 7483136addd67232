// Sample_order: the order in which coordinate descent visits its samples.
#ifndef TEVRA_LEARN_COORDINATE_DESCENT_SAMPLE_ORDER_H_
#define TEVRA_LEARN_COORDINATE_DESCENT_SAMPLE_ORDER_H_

#include <cstdint>
#include <random>

namespace tevra {

// Random permutations that are the same on every platform and every run:
// std::mt19937 is defined to the bit by the C++ standard, while the
// standard distributions and std::shuffle are not, so the draws are mapped
// to ranges here, by multiplying and keeping the high 32 bits (a slight
// bias for ranges that do not divide 2^32, which does not matter for a
// visiting order).
class Sample_order {
 public:
  explicit Sample_order(std::uint32_t seed = 1) : engine_(seed) {}

  // A draw in [0, n), for 1 <= n.
  int below(int n) {
    return static_cast<int>((static_cast<std::uint64_t>(engine_()) * static_cast<std::uint32_t>(n)) >> 32);
  }

  // Fisher and Yates: every one of the count! orders equally likely (up to
  // the bias above).
  void shuffle(int* items, int count) {
    for (int i = count - 1; i > 0; --i) {
      const int j = below(i + 1);
      const int t = items[i];
      items[i] = items[j];
      items[j] = t;
    }
  }

 private:
  std::mt19937 engine_;
};

}  // namespace tevra

#endif  // TEVRA_LEARN_COORDINATE_DESCENT_SAMPLE_ORDER_H_
