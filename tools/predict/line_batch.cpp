// Batched prediction of test lines.
#include "tools/predict/line_batch.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <new>
#include <utility>

#include "learn/parallel.h"
#include "tools/common/line_reader.h"
#include "tools/common/sample_line.h"

namespace tevra {

namespace {

// The sample buffer of one stretch of lines, released on every path. It is
// sized ahead for each line (a line holds no more entries than colons), so
// parsing never has to grow it: a failed allocation throws here, on the
// worker, and reaches the tool's handler on the main thread, instead of
// ending the process from a worker while the others run.
class Line_sample_buffer {
 public:
  Line_sample_buffer() : buffer{nullptr, 0} {}
  ~Line_sample_buffer() { release_sample_buffer(&buffer); }
  Line_sample_buffer(const Line_sample_buffer&) = delete;
  Line_sample_buffer& operator=(const Line_sample_buffer&) = delete;

  // Room for every entry of line and the terminator.
  Sample_buffer* for_line(const char* line, std::size_t length) {
    const std::size_t needed = static_cast<std::size_t>(std::count(line, line + length, ':')) + 2;
    if (needed > static_cast<std::size_t>(buffer.capacity)) {
      if (needed > static_cast<std::size_t>(INT_MAX)) throw std::bad_alloc();
      void* grown = std::realloc(buffer.nodes, sizeof(Node) * needed);
      if (grown == nullptr) throw std::bad_alloc();
      buffer.nodes = static_cast<Node*>(grown);
      buffer.capacity = static_cast<int>(needed);
    }
    return &buffer;
  }

 private:
  Sample_buffer buffer;
};

}  // namespace

Line_batch::Line_batch(const Model& model, Row_check check)
    : model(model), check(std::move(check)) {}

int Line_batch::read(std::FILE* input) {
  lines.clear();
  starts.clear();
  lengths.clear();
  const char* line;
  while (static_cast<int>(starts.size()) < kBatchLines && lines.size() < kBatchBytes &&
         (line = read_line(input)) != nullptr) {
    starts.push_back(lines.size());
    lengths.push_back(line_length);
    lines.insert(lines.end(), line, line + line_length);
    lines.push_back('\0');
  }
  results.resize(starts.size());
  return static_cast<int>(starts.size());
}

void Line_batch::predict() {
  const int count = static_cast<int>(starts.size());
  // Parsing costs about a step per character, each kernel value a few.
  const long long work = static_cast<long long>(lines.size()) +
                         4LL * count * static_cast<long long>(model.total_sv);
  parallel_for(count, work, [this](int begin, int end) { predict_lines(begin, end); });
}

void Line_batch::predict_lines(int begin, int end) {
  // Lines go to predict_values a group at a time, so that the model's
  // support vectors are walked once for a whole group.
  Line_sample_buffer buffers[kGroupLines];
  const Node* rows[kGroupLines];
  int members[kGroupLines];
  double values[kGroupLines];
  for (int first = begin; first < end; first += kGroupLines) {
    const int last = std::min(end, first + kGroupLines);
    int count = 0;
    for (int k = first; k < last; ++k) {
      Result& result = results[k];
      const char* const line = lines.data() + starts[k];
      Sample_buffer* const sample = buffers[k - first].for_line(line, lengths[k]);
      int entry_count;
      result.well_formed =
          parse_sample_line(line, lengths[k], sample, &result.target, &entry_count) &&
          check(sample->nodes, entry_count);
      if (!result.well_formed) continue;
      rows[count] = sample->nodes;
      members[count] = k;
      ++count;
    }
    predict_values(&model, rows, count, values);
    for (int m = 0; m < count; ++m) {
      Result& result = results[members[m]];
      result.prediction = values[m];
      std::snprintf(result.text, sizeof result.text, "%g\n", result.prediction);
    }
  }
}

}  // namespace tevra
