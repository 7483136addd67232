// The training-set reader on arbitrary files. The first byte picks the
// formulation and kernel the reader is told about (they change its label
// and precomputed-row checks); the rest is the file.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "learn/tevra.h"
#include "tools/common/line_reader.h"
#include "tools/train/training_reader.h"

namespace {

struct Context {
  const char* path;
  tevra::Parameter param;
  tevra::Problem problem;
  tevra::Node* node_store;
};

void read(void* raw) {
  Context& c = *static_cast<Context*>(raw);
  tevra::read_training_set(c.path, &c.param, &c.problem, &c.node_store);
}

// What the reader hands back must be consistent: every sample ends within
// the store, with strictly increasing indices up to max_index.
void check(const tevra::Problem& problem) {
  for (int i = 0; i < problem.sample_count; ++i) {
    int last = -1;
    for (const tevra::Node* x = problem.samples[i]; x->index != -1; ++x) {
      if (x->index <= last || x->index > problem.max_index) std::abort();
      last = x->index;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const std::string path = tevra_fuzz::scratch_path("training-set");
  Context c{path.c_str(), tevra::default_parameter(), {}, nullptr};
  c.param.svm_type = data[0] % 5;
  c.param.kernel_type = (data[0] / 5) % 5;
  tevra_fuzz::write_file(path, data + 1, size - 1);
  // An exit means the file was refused; the arrays taken so far are freed
  // here, as the end of the process would.
  if (tevra_fuzz::run_catching_exit(read, &c) == -1) check(c.problem);
  tevra::release_parameter(&c.param);
  std::free(c.problem.labels);
  std::free(c.problem.samples);
  std::free(c.node_store);
  tevra::release_line_buffer();
  tevra_fuzz::release_exit_leftovers();
  return 0;
}
