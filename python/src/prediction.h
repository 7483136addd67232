// Predictions and decision values of a model for many samples.
#ifndef TEVRA_PYTHON_SRC_PREDICTION_H_
#define TEVRA_PYTHON_SRC_PREDICTION_H_

#include <vector>

#include "learn/tevra.h"
#include "python/src/node_rows.h"

namespace tevra_python {

// Throws std::invalid_argument when a sample cannot be handed to the model:
// under the precomputed kernel every row must hold the kernel value against
// every support vector, at the position of its serial number.
void check_samples_fit(const tevra::Model& model, const Node_rows& samples);

// predict_value of every sample.
std::vector<double> predict_rows(const tevra::Model& model, const Node_rows& samples);

// Values per sample and their count per sample (width):
// c_svc: the sum of every pair of classes i < j in the order (0,1), (0,2),
//   ..., (1,2), ...; positive votes for class i. Width nr_class (nr_class - 1) / 2.
// kbb, spoc, spoc_l2: the decision value of every class. Width nr_class.
// epsilon_svr: the regression value. Width 1.
// Classes are in model order; the sums are taken as prediction takes them.
std::vector<double> decision_rows(const tevra::Model& model, const Node_rows& samples, int* width);

}  // namespace tevra_python

#endif  // TEVRA_PYTHON_SRC_PREDICTION_H_
