// A training set: samples with their labels, and the library's view of it.
#ifndef TEVRA_PYTHON_SRC_DATASET_H_
#define TEVRA_PYTHON_SRC_DATASET_H_

#include <string>
#include <vector>

#include "learn/tevra.h"
#include "python/src/errors.h"
#include "python/src/node_rows.h"

namespace tevra_python {

class Dataset {
 public:
  // One label per row.
  Dataset(Node_rows rows, std::vector<double> labels);
  Dataset(const Dataset&) = delete;
  Dataset& operator=(const Dataset&) = delete;

  const Node_rows& rows() const { return rows_; }
  const std::vector<double>& labels() const { return labels_; }
  int sample_count() const { return static_cast<int>(labels_.size()); }
  int max_index() const { return rows_.max_index; }
  // The samples in the library's record; the arrays stay owned here.
  tevra::Problem problem() const;
  // Position of a sample of problem() in the set.
  int position_of(const Node* sample) const;

 private:
  Node_rows rows_;
  std::vector<double> labels_;
  std::vector<Node*> samples_;
};

// Rows of a precomputed kernel: the kernel looks a value up by position,
// after the serial number at index 0, so serial numbers must lie in
// 1 .. the largest index and every row must be complete. Throws
// std::invalid_argument with tevra-train's message otherwise.
void check_kernel_rows(const Node_rows& rows);

// Reads a file in the sparse text format by tevra-train's rules: the same
// line parser, class labels (every svm_type but epsilon_svr) within the int
// range, and for the precomputed kernel serial numbers in range and rows
// without gaps. Throws File_error when the file cannot be read and
// std::invalid_argument for malformed content.
std::vector<double> read_data_file(const std::string& path, int svm_type, int kernel_type,
                                   Node_rows* rows);

}  // namespace tevra_python

#endif  // TEVRA_PYTHON_SRC_DATASET_H_
