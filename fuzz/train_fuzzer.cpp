// Training on a fuzzed tiny training file with fuzzed options, through the
// library as tevra-train drives it: the reader, check_parameters, and, when
// the parameters pass, train_model (or cross-validation), prediction of
// every training sample, and the model written, read back and predicted
// again. The leading bytes choose the options, the rest is the file.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "learn/tevra.h"
#include "tools/common/line_reader.h"
#include "tools/train/training_reader.h"
#if TEVRA_FUZZ_CROSS_VALIDATION
#include "tools/train/cross_validation.h"
#endif

namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();
constexpr double inf_value = std::numeric_limits<double>::infinity();

template <std::size_t n>
double pick(FuzzedDataProvider& in, const double (&choices)[n]) {
  return choices[in.ConsumeIntegralInRange<std::size_t>(0, n - 1)];
}

struct Context {
  std::string path;
  std::string model_path;
  tevra::Parameter param;
  int fold_count;  // 0: train and save; else cross-validate
  tevra::Problem problem;
  tevra::Node* node_store;
};

void read(void* raw) {
  Context& c = *static_cast<Context*>(raw);
  tevra::read_training_set(c.path.c_str(), &c.param, &c.problem, &c.node_store);
}

void train_and_predict(Context& context) {
  tevra::Parameter& param = context.param;
  const tevra::Problem& problem = context.problem;
  if (tevra::check_parameters(&problem, &param) == nullptr) {
#if TEVRA_FUZZ_CROSS_VALIDATION
    if (context.fold_count > 0) {
      // The tool refuses splits that leave a fold nothing to train on.
      if (!tevra::every_fold_trains(problem.sample_count, context.fold_count)) return;
      tevra::Training_run* run = tevra::create_training_run(nullptr, nullptr);
      tevra::cross_validate(run, &context.problem, param, context.fold_count);
      tevra::destroy_training_run(&run);
    } else
#endif
    {
      tevra::Model* model = tevra::train_model(&problem, &param);
      if (model == nullptr) return;  // a training failure, reported by the tool
      for (int i = 0; i < problem.sample_count; ++i) tevra::predict_value(model, problem.samples[i]);
      if (tevra::save_model_file(context.model_path.c_str(), model) != 0) std::abort();
      tevra::destroy_model(&model);
      tevra::Model* loaded = tevra::load_model_file(context.model_path.c_str());
      if (loaded == nullptr) {
        std::fputs("a trained model does not read back from its file\n", stderr);
        std::abort();
      }
      for (int i = 0; i < problem.sample_count; ++i) tevra::predict_value(loaded, problem.samples[i]);
      tevra::destroy_model(&loaded);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = tevra_fuzz::scratch_path("train-set");
  static const std::string model_path = tevra_fuzz::scratch_path("train-model");
  if (size > 2048) return 0;  // tiny sets only: this is about behaviour, not speed
  FuzzedDataProvider in(data, size);

  Context context{path, model_path, tevra::default_parameter(), 0, {}, nullptr};
  tevra::Parameter& param = context.param;
  param.svm_type = in.ConsumeIntegralInRange(0, 4);
  param.kernel_type = in.ConsumeIntegralInRange(0, 4);
  param.degree = in.ConsumeIntegralInRange(0, 5);
  param.gamma = pick(in, {0.0, 0.01, 0.5, 1.0, 4.0, 1e-300, 1e300, nan_value, inf_value});
  param.coef0 = pick(in, {0.0, 1.0, -1.0, 0.5, 1e300, nan_value});
  param.C = pick(in, {1.0, 0.01, 0.5, 2.0, 10.0, 100.0, 1e6, 1e300, inf_value, nan_value});
  param.eps = pick(in, {0.001, 0.01, 0.1, 1.0, 1e-6, nan_value, inf_value});
  param.p = pick(in, {0.1, 0.0, 0.5, 10.0, nan_value});
  param.cache_size = pick(in, {100.0, 0.001, 1.0, 40.0});
  param.shrinking = in.ConsumeIntegralInRange(0, 1);
  param.qpsize = in.ConsumeIntegralInRange(1, 12);
  param.Cbegin = pick(in, {1.0, 0.1, 0.5, 10.0, 1e-3});
  param.Cstep = pick(in, {2.0, 1.5, 10.0, 4.0});
  const int weight_count = in.ConsumeIntegralInRange(0, 2);
  for (int k = 0; k < weight_count; ++k) {
    const int label = in.ConsumeIntegralInRange(-1, 3);
    const double factor = pick(in, {0.5, 2.0, 0.0, -1.0, 1e300});
    ++param.weight_count;
    param.weight_labels = static_cast<int*>(std::realloc(param.weight_labels, sizeof(int) * param.weight_count));
    param.weights = static_cast<double*>(std::realloc(param.weights, sizeof(double) * param.weight_count));
    param.weight_labels[k] = label;
    param.weights[k] = factor;
  }
  context.fold_count = in.ConsumeBool() ? in.ConsumeIntegralInRange(2, 6) : 0;
  if (std::getenv("TEVRA_FUZZ_SHOW_OPTIONS") != nullptr) {
    // For turning a finding into a tevra-train command line.
    std::fprintf(stderr,
                 "-s %d -t %d -d %d -g %.17g -r %.17g -c %.17g -e %.17g -p %.17g -m %.17g -h %d "
                 "-q %d -b %.17g -i %.17g folds %d",
                 param.svm_type, param.kernel_type, param.degree, param.gamma, param.coef0, param.C,
                 param.eps, param.p, param.cache_size, param.shrinking, param.qpsize, param.Cbegin,
                 param.Cstep, context.fold_count);
    for (int k = 0; k < param.weight_count; ++k)
      std::fprintf(stderr, " -w%d %.17g", param.weight_labels[k], param.weights[k]);
    std::fputc('\n', stderr);
  }
  const std::vector<std::uint8_t> file = in.ConsumeRemainingBytes<std::uint8_t>();
  tevra_fuzz::write_file(path, file.data(), file.size());
  // Training starts only from a set the reader accepted; an exit() of the
  // reader ends this input like the tool's run.
  if (tevra_fuzz::run_catching_exit(read, &context) == -1) train_and_predict(context);
  tevra::release_parameter(&param);
  std::free(context.problem.labels);
  std::free(context.problem.samples);
  std::free(context.node_store);
  tevra::release_line_buffer();
  tevra_fuzz::release_exit_leftovers();
  return 0;
}
