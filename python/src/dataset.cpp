#include "python/src/dataset.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "tools/common/sample_line.h"

namespace tevra_python {

Dataset::Dataset(Node_rows rows, std::vector<double> labels)
    : rows_(std::move(rows)), labels_(std::move(labels)) {
  if (rows_.row_count() != labels_.size())
    throw std::invalid_argument("the number of labels differs from the number of samples");
  if (labels_.size() > static_cast<std::size_t>(INT_MAX))
    throw std::invalid_argument("more than 2147483647 samples");
  for (double label : labels_)
    if (!std::isfinite(label)) throw std::invalid_argument("Input y contains NaN or infinity.");
  samples_ = rows_.row_pointers();
}

tevra::Problem Dataset::problem() const {
  tevra::Problem problem;
  problem.sample_count = sample_count();
  problem.max_index = rows_.max_index;
  problem.labels = const_cast<double*>(labels_.data());
  problem.samples = const_cast<Node**>(samples_.data());
  return problem;
}

int Dataset::position_of(const Node* sample) const {
  // The rows lie one after the other in one store, so their addresses ascend.
  const auto found = std::lower_bound(samples_.begin(), samples_.end(), sample,
                                      [](const Node* a, const Node* b) { return a < b; });
  return static_cast<int>(found - samples_.begin());
}

namespace {

// Frees the line parser's buffer on every path.
struct Sample_buffer_owner {
  tevra::Sample_buffer buffer = tevra::make_sample_buffer();
  ~Sample_buffer_owner() { tevra::release_sample_buffer(&buffer); }
};

[[noreturn]] void refuse(const std::string& path, const std::string& message) {
  throw std::invalid_argument(path + ": " + message);
}

[[noreturn]] void refuse_line(const std::string& path, std::size_t line) {
  refuse(path, "Wrong input format at line " + std::to_string(line));
}

}  // namespace

void check_kernel_rows(const Node_rows& rows) {
  int largest_serial = 0;
  for (std::size_t i = 0; i < rows.row_count(); ++i) {
    const Node* row = rows.row(i);
    if (row[0].index != 0)
      throw std::invalid_argument("Wrong input format: first column must be 0:sample_serial_number");
    const double serial = std::trunc(row[0].value);
    if (serial < 1 || serial > rows.max_index)
      throw std::invalid_argument("Wrong input format: sample_serial_number out of range");
    largest_serial = std::max(largest_serial, static_cast<int>(serial));
  }
  for (std::size_t i = 0; i < rows.row_count(); ++i) {
    const Node* row = rows.row(i);
    int k = 0;
    while (row[k].index == k) ++k;
    if (row[k].index != -1 || k <= largest_serial)
      throw std::invalid_argument("Wrong input format at line " + std::to_string(i + 1) +
                                  ": precomputed kernel values must be at indices 1, 2, ... up to " +
                                  std::to_string(largest_serial) + " without gaps");
  }
}

std::vector<double> read_data_file(const std::string& path, int svm_type, int kernel_type,
                                   Node_rows* rows) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw File_error(errno, path);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) throw File_error(errno, path);

  const bool class_labels = svm_type != tevra::epsilon_svr;
  Sample_buffer_owner sample;
  std::vector<double> labels;
  std::string line;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    const bool has_newline = end != std::string::npos;
    if (!has_newline) end = text.size();
    line.assign(text, begin, end - begin);
    begin = end + 1;
    // Line ends as tevra-train reads them: CR LF reads as LF, and a CR that
    // ends the file is dropped.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (has_newline) line.push_back('\n');

    const std::size_t number = labels.size() + 1;
    double label;
    int entry_count;
    if (!tevra::parse_sample_line(line.c_str(), line.size(), &sample.buffer, &label, &entry_count))
      refuse_line(path, number);
    if (class_labels && !(label > -2147483649.0 && label < 2147483648.0)) refuse_line(path, number);
    rows->begin_row();
    for (int k = 0; k < entry_count; ++k)
      rows->add(sample.buffer.nodes[k].index, sample.buffer.nodes[k].value);
    rows->end_row();
    labels.push_back(label);
    if (labels.size() > static_cast<std::size_t>(INT_MAX))
      refuse(path, "the training set has more than 2147483647 lines");
  }
  if (kernel_type == tevra::precomputed) {
    try {
      check_kernel_rows(*rows);
    } catch (const std::invalid_argument& error) {
      refuse(path, error.what());
    }
  }
  return labels;
}

}  // namespace tevra_python
