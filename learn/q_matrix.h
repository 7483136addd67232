// Q_matrix: the narrow face of a dual's Q matrix that the decomposition
// solvers see.
#ifndef TEVRA_LEARN_Q_MATRIX_H_
#define TEVRA_LEARN_Q_MATRIX_H_

namespace tevra {

// Columns of Q in single precision, by position, and the exchange of two
// positions. Which entries a column holds, how long its storage stays valid
// and how many columns may be held at once are each implementation's
// contract (Kernel and the Q matrices of q_matrices.h; the solvers hold at
// most qpsize columns at a time).
class Q_matrix {
 public:
  virtual ~Q_matrix() = default;

  // Entries 0 to len-1 of column i: one get_columns of one column.
  const float* get_column(int i, int len) {
    const float* column;
    get_columns(&i, 1, len, &column);
    return column;
  }

  // Columns positions[0..count-1], entries 0 to len-1 each, into
  // columns[0..count-1], with the values count get_column calls in turn
  // would give; all stay valid at least until the next call into the same
  // object.
  virtual void get_columns(const int* positions, int count, int len, const float** columns) = 0;

  // Positions i and j trade places: afterwards every column answers for
  // the new order.
  virtual void swap_entries(int i, int j) = 0;
};

}  // namespace tevra

#endif  // TEVRA_LEARN_Q_MATRIX_H_
