// Trains and predicts through nothing but the installed public header: in a
// run that prints into a string, and in a run of its own that prints
// through print_hook. Exits 0 when both models classify their training set.
#include <cstdio>
#include <string>
#include <vector>

#include "tevra/tevra.h"

namespace {

void collect(const char* text, void* into) { static_cast<std::string*>(into)->append(text); }
void discard(const char*, void*) {}

int failures = 0;

void expect(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "consumer: %s\n", what);
  ++failures;
}

// Every training sample predicted as its label.
bool classifies(const tevra::Model* model, const tevra::Problem& problem) {
  for (int i = 0; i < problem.sample_count; ++i)
    if (tevra::predict_value(model, problem.samples[i]) != problem.labels[i]) return false;
  return true;
}

}  // namespace

int main() {
  // Two well separated classes on one feature.
  std::vector<std::vector<tevra::Node>> nodes;
  std::vector<double> labels;
  for (int i = 0; i < 8; ++i) {
    const bool high = i % 2 == 0;
    nodes.push_back({{1, high ? 2.0 + 0.1 * i : -2.0 - 0.1 * i}, {-1, 0}});
    labels.push_back(high ? 1 : -1);
  }
  std::vector<tevra::Node*> samples;
  for (auto& sample : nodes) samples.push_back(sample.data());
  const tevra::Problem problem{static_cast<int>(samples.size()), 1, labels.data(), samples.data()};

  tevra::Parameter param = tevra::default_parameter();
  param.gamma = 1;
  expect(tevra::check_parameters(&problem, &param) == nullptr, "the parameters are refused");

  std::string progress;
  tevra::Training_run* run = tevra::create_training_run(collect, &progress);
  expect(run != nullptr, "no run");
  tevra::Model* model = tevra::train_model(run, &problem, &param);
  expect(model != nullptr, "training in a run failed");
  expect(tevra::training_run_error(run) == nullptr, "a successful training reports an error");
  expect(progress.find("Total nSV = ") != std::string::npos, "no progress reached the run");
  if (model != nullptr) expect(classifies(model, problem), "the run's model misclassifies");
  tevra::destroy_model(&model);
  tevra::destroy_training_run(&run);
  expect(run == nullptr, "destroy_training_run leaves the pointer");

  // A run of its own prints through print_hook.
  tevra::print_hook = discard;
  tevra::Model* own = tevra::train_model(&problem, &param);
  tevra::print_hook = tevra::print_to_stdout;
  expect(own != nullptr, "training in a run of its own failed");
  if (own != nullptr) expect(classifies(own, problem), "the one-shot model misclassifies");
  tevra::destroy_model(&own);
  return failures == 0 ? 0 : 1;
}
