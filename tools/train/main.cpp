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

// Training's working arrays grow with the data (the linear kernel's weight
// vector with the largest feature index): running out of memory ends the
// run with a message instead of an uncaught exception.
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

  if (options.cv_mode) {
    cross_validate(&problem, options.param, options.fold_count);
  } else {
    Model* model = train_model(&problem, &options.param);
    if (save_model_file(options.model_file, model) != 0) {
      std::fprintf(stderr, "can't save model to file %s\n", options.model_file);
      std::exit(1);
    }
    destroy_model(&model);
  }

  release_parameter(&options.param);
  std::free(problem.labels);
  std::free(problem.samples);
  std::free(node_store);
  return 0;
} catch (const std::bad_alloc&) {
  std::fputs("Error: not enough memory to train\n", stderr);
  return 1;
}
