// n-fold cross-validation of the training tool.
#ifndef TEVRA_TOOLS_TRAIN_CROSS_VALIDATION_H_
#define TEVRA_TOOLS_TRAIN_CROSS_VALIDATION_H_

#include "learn/tevra.h"

namespace tevra {

// Whether each fold of a split of sample_count samples into fold_count
// folds leaves samples outside it to train on: false for a set of fewer than
// two samples, which the tool refuses to cross-validate.
bool every_fold_trains(int sample_count, int fold_count);

// Shuffles problem in place (unseeded rand), trains one model per fold in
// run and prints the per-fold and total results to standard output. Stops
// at the first fold whose training fails and returns false;
// training_run_error(run) then says why. Expects every_fold_trains.
bool cross_validate(Training_run* run, Problem* problem, const Parameter& param, int fold_count);

}  // namespace tevra

#endif  // TEVRA_TOOLS_TRAIN_CROSS_VALIDATION_H_
