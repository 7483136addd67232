// Training_run: what one training run carries through the library.
#ifndef TEVRA_LEARN_TRAINING_RUN_H_
#define TEVRA_LEARN_TRAINING_RUN_H_

#include "learn/box/box_solver.h"
#include "learn/progress.h"
#include "learn/tevra.h"

namespace tevra {

struct Training_run {
  // Progress and the sub-problem solver's messages go to print(text,
  // context), or to print_hook when print is null.
  Training_run(Print_function print, void* context);
  Training_run(const Training_run&) = delete;
  Training_run& operator=(const Training_run&) = delete;

  Progress progress;
  // Serves every sub-problem of the run: its Cholesky shift carries from
  // pair to pair and fold to fold.
  Box_solver box_solver;
  // Why the last train_model failed (a static text); null when it did not.
  const char* error = nullptr;
};

}  // namespace tevra

#endif  // TEVRA_LEARN_TRAINING_RUN_H_
