// Models that own everything they point to, so that they outlive the data
// they were trained on, and their contents as plain arrays.
#ifndef TEVRA_PYTHON_SRC_OWNED_MODEL_H_
#define TEVRA_PYTHON_SRC_OWNED_MODEL_H_

#include <memory>
#include <vector>

#include "learn/tevra.h"
#include "python/src/node_rows.h"

namespace tevra_python {

struct Model_deleter {
  void operator()(tevra::Model* model) const { tevra::destroy_model(&model); }
};
using Model_ptr = std::unique_ptr<tevra::Model, Model_deleter>;

// What a model holds, by value.
struct Model_contents {
  int svm_type = 0;
  int kernel_type = 0;
  int degree = 0;
  double gamma = 0;
  double coef0 = 0;
  int nr_class = 0;
  bool has_labels = false;           // every classification model; never epsilon_svr
  std::vector<int> label;            // class labels, model order
  std::vector<int> nr_sv;            // support vectors per class, model order
  std::vector<double> coefficients;  // row-major, coefficient_row_count rows of total_sv
  Node_rows support_vectors;         // in model order

  int total_sv() const { return static_cast<int>(support_vectors.row_count()); }
};

// The contents of a model. Support vectors of the precomputed kernel keep
// only their serial number, all that prediction and the model file use.
Model_contents contents_of(const tevra::Model& model);

// A model that owns one node block, as a model read from a file does.
// Throws std::invalid_argument for contents that do not fit together.
Model_ptr make_model(const Model_contents& contents);

// Throws std::invalid_argument unless the model is one that prediction can
// walk safely: known formulation and kernel, class arrays and support-vector
// counts that agree, finite coefficients.
void check_model(const tevra::Model& model);

}  // namespace tevra_python

#endif  // TEVRA_PYTHON_SRC_OWNED_MODEL_H_
