// The test-file loop of tevra-predict: lines read with read_line, parsed
// into the one growing sample buffer, checked against what a precomputed
// model needs, and predicted, for one of a few fixed models (first byte).
// A refused line ends the file, as it ends the tool's run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "learn/tevra.h"
#include "tools/common/line_reader.h"
#include "tools/predict/required_entries.h"
#include "tools/common/sample_line.h"

namespace {

const char* const model_texts[] = {
    "svm_type c_svc\nkernel_type rbf\ngamma 0.5\nnr_class 3\ntotal_sv 4\nlabel 1 2 3\n"
    "nr_sv 2 1 1\nSV\n0.75 0.5 1:0.25 3:1 \n1 0 2:-0.5 \n-0.75 1 1:1 2:1 3:1 \n-1 -1 3:0.125 \n",
    "svm_type epsilon_svr\nkernel_type linear\nnr_class 2\ntotal_sv 2\nSV\n0.5 1:1 2:-1 \n"
    "-0.25 0:2 3:0.5 \n",
    "svm_type kbb\nkernel_type polynomial\ndegree 3\ngamma 0.25\ncoef0 1\nnr_class 3\n"
    "total_sv 3\nlabel -1 0 7\nnr_sv 1 1 1\nSV\n0.5 0.25 1:1 \n0 1 2:1 5:-2 \n1 1 \n",
    "svm_type spoc\nkernel_type sigmoid\ngamma 0.5\ncoef0 -1\nnr_class 2\ntotal_sv 2\n"
    "label 4 2\nnr_sv 1 1\nSV\n0.5 -0.5 1:1 2:0.5 \n-1 1 3:2 \n",
    "svm_type spoc_l2\nkernel_type precomputed\nnr_class 2\ntotal_sv 2\nlabel 1 2\n"
    "nr_sv 1 1\nSV\n1 -1 0:1 \n-0.5 0.5 0:3 \n",
    "svm_type c_svc\nkernel_type precomputed\nnr_class 2\ntotal_sv 1\nlabel 1 -1\n"
    "nr_sv 1 0\nSV\n0.5 0:2 \n",
};
constexpr int model_count = sizeof model_texts / sizeof model_texts[0];

tevra::Model* load_fixed_model(int k) {
  const std::string path = tevra_fuzz::scratch_path("fixed-model");
  const std::string text = model_texts[k];
  tevra_fuzz::write_file(path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  tevra::Model* model = tevra::load_model_file(path.c_str());
  std::remove(path.c_str());
  if (model == nullptr) std::abort();
  return model;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tevra::Model* models[model_count];
  if (size < 1) return 0;
  const int k = data[0] % model_count;
  if (models[k] == nullptr) models[k] = load_fixed_model(k);
  const tevra::Model& model = *models[k];

  std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data + 1), size - 1, "r");
  if (size == 1) file = std::fopen("/dev/null", "r");
  if (file == nullptr) std::abort();
  const int required = tevra::required_entry_count(model);
  tevra::Sample_buffer sample = tevra::make_sample_buffer();
  char out[64];
  const char* line;
  while ((line = tevra::read_line(file)) != nullptr) {
    double y;
    int entries;
    if (!tevra::parse_sample_line(line, tevra::line_length, &sample, &y, &entries) ||
        !tevra::row_fits_model(model, required, sample.nodes, entries))
      break;
    const double v = tevra::predict_value(&model, sample.nodes);
    std::snprintf(out, sizeof out, "%g\n", v);
  }
  tevra::release_sample_buffer(&sample);
  std::fclose(file);
  return 0;
}
