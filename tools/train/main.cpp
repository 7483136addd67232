// tevra-train: reads a training set, validates the parameters, and either
// trains and saves one model or cross-validates.
#include <cstdio>
#include <cstdlib>
#include <new>

#include "learn/tevra.h"
#include "tools/common/same_file.h"
#include "tools/train/cross_validation.h"
#include "tools/train/options.h"
#include "tools/train/training_reader.h"

namespace {

// Every training failure ends the run the same way, and no model is written.
[[noreturn]] void fail_training(const tevra::Training_run* run) {
  std::fprintf(stderr, "Error: %s\n", tevra::training_run_error(run));
  std::exit(1);
}

}  // namespace

// Running out of memory outside train_model (the run itself, the folds of
// a cross-validation) ends the run with the same message as inside it,
// instead of an uncaught exception.
int main(int argc, char** argv) try {
  using namespace tevra;

  Train_options options;
  parse_options(argc, argv, &options);
  // Refused before the training set is read: the model would replace it.
  if (!options.cv_mode && is_same_file(options.model_file, options.training_set_file)) {
    std::fprintf(stderr, "Error: model file %s is the same file as training set file %s\n",
                 options.model_file, options.training_set_file);
    std::exit(1);
  }

  Problem problem{};
  Node* node_store = nullptr;
  read_training_set(options.training_set_file, &options.param, &problem, &node_store);

  if (const char* error = check_parameters(&problem, &options.param)) {
    std::fprintf(stderr, "Error: %s\n", error);
    std::exit(1);
  }
  if (options.cv_mode && !every_fold_trains(problem.sample_count, options.fold_count)) {
    std::fprintf(stderr,
                 "Error: too few samples for %d-fold cross validation: a fold would train on none\n",
                 options.fold_count);
    std::exit(1);
  }

  // One run for the whole invocation: every fold of a cross-validation
  // trains in it.
  Training_run* run = create_training_run(nullptr, nullptr);
  if (run == nullptr) throw std::bad_alloc();
  if (options.cv_mode) {
    if (!cross_validate(run, &problem, options.param, options.fold_count)) fail_training(run);
  } else {
    Model* model = train_model(run, &problem, &options.param);
    if (model == nullptr) fail_training(run);
    if (save_model_file(options.model_file, model) != 0) {
      std::fprintf(stderr, "can't save model to file %s\n", options.model_file);
      std::exit(1);
    }
    destroy_model(&model);
  }
  destroy_training_run(&run);

  release_parameter(&options.param);
  std::free(problem.labels);
  std::free(problem.samples);
  std::free(node_store);
  return 0;
} catch (const std::bad_alloc&) {
  std::fputs("Error: not enough memory to train\n", stderr);
  return 1;
}
