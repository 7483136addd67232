// tevra-bounded-probe: trains one two-class (-s 0, labels > 0 against the
// rest) or regression (-s 3) problem straight through train_bounded_problem
// and writes every coefficient with 17 significant digits to the output
// file.  It takes the options of tevra-train and exists to profile the
// bounded solvers and to check bit for bit that a speed change leaves their
// results alone.
#include <cstdio>
#include <cstdlib>

#include "learn/tevra.h"
#include "learn/training_routines.h"
#include "learn/training_run.h"
#include "tools/train/options.h"
#include "tools/train/training_reader.h"

int main(int argc, char** argv) {
  using namespace tevra;
  Train_options options;
  parse_options(argc, argv, &options);
  Problem problem{};
  Node* node_store = nullptr;
  read_training_set(options.training_set_file, &options.param, &problem, &node_store);
  if (const char* error = check_parameters(&problem, &options.param)) {
    std::fprintf(stderr, "Error: %s\n", error);
    return 1;
  }
  if (options.param.svm_type != c_svc && options.param.svm_type != epsilon_svr) {
    std::fprintf(stderr, "only -s 0 and -s 3\n");
    return 1;
  }
  const double C = options.param.C;
  Training_run run(nullptr, nullptr);
  double* coefficients = train_bounded_problem(run, problem, options.param, C, C);
  FILE* out = std::fopen(options.model_file, "w");
  if (out == nullptr) return 1;
  for (int i = 0; i < problem.sample_count; ++i) std::fprintf(out, "%.17g\n", coefficients[i]);
  std::fclose(out);
  std::free(coefficients);
  release_parameter(&options.param);
  std::free(problem.labels);
  std::free(problem.samples);
  std::free(node_store);
  return 0;
}
