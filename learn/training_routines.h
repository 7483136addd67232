// Training routines of the formulations, called by train_model. Each
// returns a malloc'ed coefficient array that the caller frees, and prints
// its progress and solves its sub-problems through run.
#ifndef TEVRA_LEARN_TRAINING_ROUTINES_H_
#define TEVRA_LEARN_TRAINING_ROUTINES_H_

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <memory>

#include "learn/tevra.h"
#include "learn/training_run.h"

namespace tevra {

// Owns a malloc'ed result array until the routine hands it over, so that a
// failure on the way (std::bad_alloc) leaks nothing.
struct Free_array {
  void operator()(void* array) const { std::free(array); }
};
template <typename T>
using Malloced_array = std::unique_ptr<T[], Free_array>;

// Thrown by a routine that cannot complete its training; train_model
// reports message (a static text) as the failure of the run.
struct Training_failure {
  const char* message;
};

// Throws a Training_failure unless the objective and the count values are
// all finite: an indefinite kernel matrix can drive a dual to infinity, and
// a model of infinities would be written and then refused by the predictor.
inline void require_finite_solution(double objective, const double* values, std::size_t count) {
  bool finite = std::isfinite(objective);
  for (std::size_t i = 0; i < count && finite; ++i) finite = std::isfinite(values[i]);
  if (!finite)
    throw Training_failure{"training diverged (the kernel matrix is not positive semi-definite?)"};
}

// c_svc (one pair of classes; labels +1/-1) and epsilon_svr: sample_count
// coefficients (signed alpha, or alpha - alpha* for regression).
double* train_bounded_problem(Training_run& run, const Problem& problem, const Parameter& param,
                              double C_pos, double C_neg);

// kbb: (nr_class - 1) * sample_count variables in blocks, one per class.
// labels hold each grouped sample's class index as a double.
double* train_single_multiclass(Training_run& run, const Problem& problem, const Parameter& param,
                                int nr_class, const double* class_C, const int* class_sizes);

// spoc, spoc_l2: sample_count * nr_class values, sample-major.
double* train_crammer_singer(Training_run& run, const Problem& problem, const Parameter& param,
                             int nr_class, const double* class_C, int svm_type);

}  // namespace tevra

#endif  // TEVRA_LEARN_TRAINING_ROUTINES_H_
