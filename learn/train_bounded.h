// The two solve steps of train_bounded_problem, one per formulation.
#ifndef TEVRA_LEARN_TRAIN_BOUNDED_H_
#define TEVRA_LEARN_TRAIN_BOUNDED_H_

#include "learn/solver_b.h"
#include "learn/tevra.h"
#include "learn/training_run.h"

namespace tevra {

// c_svc, one pair of classes: labels > 0 are the positive side. Writes
// sample_count signed coefficients into out and fills result.
void solve_bounded_classification(Training_run& run, const Problem& problem,
                                  const Parameter& param, double* out, Solve_result* result,
                                  double C_pos, double C_neg);

// epsilon_svr over 2 * sample_count variables at cost param.C. Writes
// alpha - alpha* of each sample into out and fills result.
void solve_bounded_regression(Training_run& run, const Problem& problem, const Parameter& param,
                              double* out, Solve_result* result);

}  // namespace tevra

#endif  // TEVRA_LEARN_TRAIN_BOUNDED_H_
