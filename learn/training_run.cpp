#include "learn/training_run.h"

#include <new>

namespace tevra {

namespace {

// The sub-problem solver's messages join the run's progress output.
void print_box_message_as_progress(const char* text, void* progress) {
  static_cast<const Progress*>(progress)->write(text);
}

Box_solver_options box_options(const Progress* progress) {
  Box_solver_options options;
  options.message = print_box_message_as_progress;
  options.message_context = const_cast<Progress*>(progress);
  return options;
}

}  // namespace

Training_run::Training_run(Print_function print, void* context)
    : progress{print, context}, box_solver(box_options(&progress)) {}

Training_run* create_training_run(Print_function print, void* context) {
  return new (std::nothrow) Training_run(print, context);
}

void destroy_training_run(Training_run** run) {
  if (run == nullptr) return;
  delete *run;
  *run = nullptr;
}

const char* training_run_error(const Training_run* run) {
  return run->error;
}

}  // namespace tevra
