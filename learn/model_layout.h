// How a model lays out its support vectors and coefficient rows: the rules
// the training driver writes a model by and prediction reads it by.
#ifndef TEVRA_LEARN_MODEL_LAYOUT_H_
#define TEVRA_LEARN_MODEL_LAYOUT_H_

#include <vector>

namespace tevra {

// First position of each group when groups of sizes[0..count-1] follow one
// another: start[0] = 0, start[k] = start[k-1] + sizes[k-1]. Classes in the
// grouped training set and support vectors in a model are laid out so.
inline std::vector<int> group_starts(const int* sizes, int count) {
  std::vector<int> start(count > 0 ? count : 0);
  for (int k = 1; k < count; ++k) start[k] = start[k - 1] + sizes[k - 1];
  return start;
}

// The row that holds a support vector's coefficient against another class
// in a c_svc or kbb model (nr_class - 1 rows): the other classes in order,
// with the support vector's own class left out. So in the pair (i, j),
// i < j, class i keeps its coefficients in row j - 1 and class j in row i.
inline int other_class_row(int own_class, int other_class) {
  return other_class < own_class ? other_class : other_class - 1;
}

}  // namespace tevra

#endif  // TEVRA_LEARN_MODEL_LAYOUT_H_
