// load_model_file on arbitrary files. A model it accepts must be usable:
// it predicts a sample, is written back, and the file written reads back
// into a model that writes the very same file again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "learn/tevra.h"

namespace {

std::string read_whole(const std::string& path) {
  std::string text;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) std::abort();
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  std::fclose(file);
  return text;
}

// A sample for the model: entries 0..n-1, so that a precomputed model finds
// a value at every serial number it names (when that is small enough).
bool predict_sample(const tevra::Model& model) {
  int needed = 4;
  if (model.param.kernel_type == tevra::precomputed) {
    for (int s = 0; s < model.total_sv; ++s) {
      const double serial = model.SV[s][0].value;
      if (serial > 4096) return false;
      if (static_cast<int>(serial) + 1 > needed) needed = static_cast<int>(serial) + 1;
    }
  }
  std::vector<tevra::Node> x(needed + 1);
  for (int k = 0; k < needed; ++k) x[k] = {k, 0.25 * (k % 7) - 0.5};
  x[needed] = {-1, 0};
  volatile double v = tevra::predict_value(&model, x.data());
  (void)v;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = tevra_fuzz::scratch_path("model");
  static const std::string written = tevra_fuzz::scratch_path("model-written");
  static const std::string rewritten = tevra_fuzz::scratch_path("model-rewritten");
  tevra_fuzz::write_file(path, data, size);
  tevra::Model* model = tevra::load_model_file(path.c_str());
  if (model == nullptr) return 0;
  predict_sample(*model);
  if (tevra::save_model_file(written.c_str(), model) != 0) std::abort();
  tevra::destroy_model(&model);

  tevra::Model* again = tevra::load_model_file(written.c_str());
  if (again == nullptr) {
    std::fputs("a model file written by save_model_file does not load\n", stderr);
    std::abort();
  }
  if (tevra::save_model_file(rewritten.c_str(), again) != 0) std::abort();
  tevra::destroy_model(&again);
  if (read_whole(written) != read_whole(rewritten)) {
    std::fputs("writing a model read back from its own file changes the file\n", stderr);
    std::abort();
  }
  return 0;
}
