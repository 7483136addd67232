#include "python/src/node_rows.h"

#include <climits>
#include <cmath>
#include <stdexcept>
#include <string>

namespace tevra_python {

namespace {

// Feature index of column j: j + 1 must be a valid int.
void check_column_count(std::int64_t cols) {
  if (cols < 0 || cols >= INT_MAX)
    throw std::invalid_argument("too many columns: feature indices must fit a 32-bit int");
}

void check_finite(double value) {
  if (!std::isfinite(value)) throw std::invalid_argument("Input X contains NaN or infinity.");
}

}  // namespace

std::size_t Node_rows::row_length(std::size_t i) const {
  const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : store.size();
  return end - starts[i] - 1;
}

std::vector<Node*> Node_rows::row_pointers() {
  std::vector<Node*> pointers(starts.size());
  for (std::size_t i = 0; i < starts.size(); ++i) pointers[i] = store.data() + starts[i];
  return pointers;
}

void Node_rows::add(int index, double value) {
  store.push_back(Node{index, value});
  if (index > max_index) max_index = index;
}

Node_rows rows_from_dense(const double* values, std::int64_t rows, std::int64_t cols) {
  check_column_count(cols);
  std::size_t nonzero = 0;
  for (std::int64_t k = 0; k < rows * cols; ++k) {
    check_finite(values[k]);
    if (values[k] != 0) ++nonzero;
  }
  Node_rows result;
  result.store.reserve(nonzero + static_cast<std::size_t>(rows));
  result.starts.reserve(static_cast<std::size_t>(rows));
  for (std::int64_t i = 0; i < rows; ++i) {
    result.begin_row();
    const double* row = values + i * cols;
    for (std::int64_t j = 0; j < cols; ++j)
      if (row[j] != 0) result.add(static_cast<int>(j + 1), row[j]);
    result.end_row();
  }
  return result;
}

Node_rows rows_from_csr(const std::int64_t* indptr, const std::int64_t* indices,
                        const double* values, std::int64_t rows, std::int64_t cols) {
  check_column_count(cols);
  if (rows < 0 || indptr[0] != 0) throw std::invalid_argument("malformed CSR matrix: indptr");
  for (std::int64_t i = 0; i < rows; ++i)
    if (indptr[i + 1] < indptr[i]) throw std::invalid_argument("malformed CSR matrix: indptr");
  Node_rows result;
  result.store.reserve(static_cast<std::size_t>(indptr[rows] + rows));
  result.starts.reserve(static_cast<std::size_t>(rows));
  for (std::int64_t i = 0; i < rows; ++i) {
    result.begin_row();
    std::int64_t last = -1;
    for (std::int64_t k = indptr[i]; k < indptr[i + 1]; ++k) {
      const std::int64_t column = indices[k];
      if (column <= last || column >= cols)
        throw std::invalid_argument("malformed CSR matrix: column indices of row " +
                                    std::to_string(i) + " must increase and lie below " +
                                    std::to_string(cols));
      last = column;
      check_finite(values[k]);
      if (values[k] != 0) result.add(static_cast<int>(column + 1), values[k]);
    }
    result.end_row();
  }
  return result;
}

Node_rows rows_from_kernel(const double* values, std::int64_t rows, std::int64_t cols) {
  check_column_count(cols);
  Node_rows result;
  result.store.reserve(static_cast<std::size_t>(rows * (cols + 2)));
  result.starts.reserve(static_cast<std::size_t>(rows));
  for (std::int64_t i = 0; i < rows; ++i) {
    result.begin_row();
    result.add(0, static_cast<double>(i + 1));
    const double* row = values + i * cols;
    for (std::int64_t j = 0; j < cols; ++j) {
      check_finite(row[j]);
      result.add(static_cast<int>(j + 1), row[j]);
    }
    result.end_row();
  }
  return result;
}

}  // namespace tevra_python
