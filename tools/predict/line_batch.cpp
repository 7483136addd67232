// Batched prediction of test lines.
#include "tools/predict/line_batch.h"

#include <cstring>
#include <utility>

#include "learn/parallel.h"
#include "tools/common/line_reader.h"
#include "tools/common/sample_line.h"

namespace tevra {

namespace {

// The sample buffer of one stretch of lines, released on every path.
class Scoped_sample_buffer {
 public:
  Scoped_sample_buffer() : buffer(make_sample_buffer()) {}
  ~Scoped_sample_buffer() { release_sample_buffer(&buffer); }
  Scoped_sample_buffer(const Scoped_sample_buffer&) = delete;
  Scoped_sample_buffer& operator=(const Scoped_sample_buffer&) = delete;
  Sample_buffer* get() { return &buffer; }

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
  Scoped_sample_buffer sample;
  for (int k = begin; k < end; ++k) {
    Result& result = results[k];
    int entry_count;
    result.well_formed = parse_sample_line(lines.data() + starts[k], lengths[k], sample.get(),
                                           &result.target, &entry_count) &&
                         check(sample.get()->nodes, entry_count);
    if (!result.well_formed) continue;
    result.prediction = predict_value(&model, sample.get()->nodes);
    std::snprintf(result.text, sizeof result.text, "%g\n", result.prediction);
  }
}

}  // namespace tevra
