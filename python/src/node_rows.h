// Samples in tevra's sparse form, built from numpy data.
//
// Column j of a matrix is feature index j + 1, as in the data files, and a
// zero is an absent feature, as a file written from the matrix leaves it out.
// Rows of a precomputed kernel matrix keep every entry instead: the kernel
// looks values up by position, after the serial number at index 0.
#ifndef TEVRA_PYTHON_SRC_NODE_ROWS_H_
#define TEVRA_PYTHON_SRC_NODE_ROWS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "learn/tevra.h"

namespace tevra_python {

using tevra::Node;

// Rows of nodes in one store, each ended by a terminator (index -1).
struct Node_rows {
  std::vector<Node> store;
  std::vector<std::size_t> starts;  // row i begins at store[starts[i]]
  int max_index = 0;                // largest feature index of any row (0 when none)

  std::size_t row_count() const { return starts.size(); }
  const Node* row(std::size_t i) const { return store.data() + starts[i]; }
  // Entries of row i, terminator excluded.
  std::size_t row_length(std::size_t i) const;
  // Pointers to every row, for the library's records. The store must not
  // change while they are in use.
  std::vector<Node*> row_pointers();

  // Starts a row; append entries with add, end it with end_row.
  void begin_row() { starts.push_back(store.size()); }
  void add(int index, double value);
  void end_row() { store.push_back(Node{-1, 0}); }
};

// A dense row-major matrix of rows x cols doubles.
Node_rows rows_from_dense(const double* values, std::int64_t rows, std::int64_t cols);

// A CSR matrix: row i holds the entries indptr[i] .. indptr[i + 1] - 1, whose
// column indices must increase strictly within the row and lie below cols.
Node_rows rows_from_csr(const std::int64_t* indptr, const std::int64_t* indices,
                        const double* values, std::int64_t rows, std::int64_t cols);

// A precomputed kernel matrix, rows x cols: row i becomes 0:(i + 1), then
// 1:K[i][0], 2:K[i][1], ... with every entry kept.
Node_rows rows_from_kernel(const double* values, std::int64_t rows, std::int64_t cols);

}  // namespace tevra_python

#endif  // TEVRA_PYTHON_SRC_NODE_ROWS_H_
