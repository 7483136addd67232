// Test lines predicted a batch at a time, in parallel, for output in input
// order.
#ifndef TEVRA_TOOLS_PREDICT_LINE_BATCH_H_
#define TEVRA_TOOLS_PREDICT_LINE_BATCH_H_

#include <cstddef>
#include <cstdio>
#include <functional>
#include <vector>

#include "learn/tevra.h"

namespace tevra {

// Lines arrive one at a time from read_line and their predictions must
// reach the output file in the same order; in between, the lines of a batch
// are independent of each other: each one is parsed, checked, predicted and
// formatted on whichever thread takes it. A batch stops growing at
// kBatchLines lines or kBatchBytes of text, so memory stays bounded however
// long the test file is.
class Line_batch {
 public:
  static constexpr int kBatchLines = 4096;
  // Lines of one thread predicted together (predict_values).
  static constexpr int kGroupLines = 32;
  static constexpr std::size_t kBatchBytes = 16 << 20;

  // Whether a parsed row (entry_count entries before the terminator) may be
  // handed to the model; a row it refuses is malformed.
  using Row_check = std::function<bool(const Node* row, int entry_count)>;

  // Predicts with model (borrowed), refusing the rows check refuses.
  Line_batch(const Model& model, Row_check check);

  // Reads the next lines of input into the batch, replacing the previous
  // ones; returns how many, 0 at the end of the file.
  int read(std::FILE* input);

  // Parses, checks, predicts and formats every line of the batch.
  void predict();

  // Results for line k of the batch, after predict. A malformed line has
  // neither target nor prediction.
  bool well_formed(int k) const { return results[k].well_formed; }
  double target(int k) const { return results[k].target; }
  double prediction(int k) const { return results[k].prediction; }
  // The prediction as "%g\n" formats it.
  const char* text(int k) const { return results[k].text; }

 private:
  struct Result {
    bool well_formed;
    double target;
    double prediction;
    char text[32];  // "%g\n" of a double needs at most 14 characters
  };

  // Parses, checks, predicts and formats lines begin to end-1.
  void predict_lines(int begin, int end);

  const Model& model;
  Row_check check;
  std::vector<char> lines;            // the lines, each ended by a NUL
  std::vector<std::size_t> starts;    // where each line begins in lines
  std::vector<std::size_t> lengths;   // its length as read_line gave it
  std::vector<Result> results;        // one per line
};

}  // namespace tevra

#endif  // TEVRA_TOOLS_PREDICT_LINE_BATCH_H_
