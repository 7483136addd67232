// n-fold cross-validation of the training tool.
#ifndef TEVRA_TOOLS_TRAIN_CROSS_VALIDATION_H_
#define TEVRA_TOOLS_TRAIN_CROSS_VALIDATION_H_

#include "learn/tevra.h"

namespace tevra {

// Shuffles problem in place (unseeded rand), trains one model per fold in
// run and prints the per-fold and total results to standard output. Stops
// at the first fold whose training fails and returns false;
// training_run_error(run) then says why.
bool cross_validate(Training_run* run, Problem* problem, const Parameter& param, int fold_count);

}  // namespace tevra

#endif  // TEVRA_TOOLS_TRAIN_CROSS_VALIDATION_H_
