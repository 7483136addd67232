// Training and cross-validation on a Dataset, without the GIL.
#ifndef TEVRA_PYTHON_SRC_TRAINING_H_
#define TEVRA_PYTHON_SRC_TRAINING_H_

#include <vector>

#include "learn/tevra.h"
#include "python/src/dataset.h"
#include "python/src/owned_model.h"

namespace tevra_python {

// A trained model and the position in the training set of each of its
// support vectors.
struct Trained_model {
  Model_ptr model;
  std::vector<int> support;
};

// Completes the parameters as tevra-train does after reading the training
// set (gamma 0 becomes 1 / the largest feature index) and validates them
// against the set. Throws std::invalid_argument with the reason.
void prepare_parameters(const Dataset& data, tevra::Parameter* param);

// Trains on the whole set, in a training run of its own. The caller holds
// the GIL; it is released while the library trains. verbose: the progress
// text goes to Python's sys.stdout, else nowhere.
Trained_model train(const Dataset& data, tevra::Parameter* param, bool verbose);

// Results of a cross-validation, computed as tevra-train -v computes them.
struct Cross_validation {
  std::vector<double> predictions;  // of each sample, in the set's order
  int correct = 0;                  // classification: predictions equal to the label
  double accuracy = 0;              // classification: 100 * correct / l
  double mean_squared_error = 0;    // regression
  double squared_correlation = 0;   // regression
};

// fold_count-fold cross-validation over the samples taken in the given order
// (a permutation of the set): fold k is positions k*l/n to (k+1)*l/n - 1 of
// it, and trains on the other positions in order. All folds share one
// training run.
Cross_validation cross_validate(const Dataset& data, tevra::Parameter* param,
                                const std::vector<int>& order, int fold_count, bool verbose);

}  // namespace tevra_python

#endif  // TEVRA_PYTHON_SRC_TRAINING_H_
