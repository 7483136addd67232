// n-fold cross-validation of the training tool.
#ifndef TEVRA_TOOLS_TRAIN_CROSS_VALIDATION_H_
#define TEVRA_TOOLS_TRAIN_CROSS_VALIDATION_H_

#include "learn/tevra.h"

namespace tevra {

// Shuffles problem in place (unseeded rand), trains one model per fold and
// prints the per-fold and total results to standard output. A split in which
// some fold would train on no samples (a set of one sample) is refused with
// a message on standard error and exit status 1, before anything is trained.
void cross_validate(Problem* problem, const Parameter& param, int fold_count);

}  // namespace tevra

#endif  // TEVRA_TOOLS_TRAIN_CROSS_VALIDATION_H_
