// Prediction of one sample by a trained model.
//
// c_svc votes over every pair of classes, kbb and the Crammer and Singer
// formulations take the class of the largest decision value, epsilon_svr
// sums the weighted kernel values. c_svc, kbb and epsilon_svr add 1 to every
// kernel value, the bias their training folds into the kernel. Sums are taken
// in a fixed order so that a model read from a file predicts bit for bit what
// the same numbers in memory predict. Ties go to the class earliest in label
// order; a comparison with a value that is not a number is false.
//
// A classification model without any class (trained on an empty set) has
// no label to return; it predicts 0.
#include <vector>

#include "learn/kernel.h"
#include "learn/model_layout.h"
#include "learn/tevra.h"

namespace tevra {

namespace {

// Index of the largest value; the first of equal values wins.
int first_largest(const std::vector<double>& values) {
  int best = 0;
  for (int a = 1; a < static_cast<int>(values.size()); ++a)
    if (values[a] > values[best]) best = a;
  return best;
}

double predict_one_against_one(const Model& model, const Node* x) {
  const int nr_class = model.nr_class;
  std::vector<double> shifted(model.total_sv);
  for (int s = 0; s < model.total_sv; ++s) shifted[s] = kernel_value(x, model.SV[s], model.param) + 1;
  const std::vector<int> start = group_starts(model.nr_sv, nr_class);
  std::vector<int> votes(nr_class, 0);
  for (int i = 0; i < nr_class; ++i) {
    for (int j = i + 1; j < nr_class; ++j) {
      double sum = 0;
      const double* row_j = model.coefficients[other_class_row(i, j)];
      for (int s = start[i]; s < start[i] + model.nr_sv[i]; ++s) sum += row_j[s] * shifted[s];
      const double* row_i = model.coefficients[other_class_row(j, i)];
      for (int s = start[j]; s < start[j] + model.nr_sv[j]; ++s) sum += row_i[s] * shifted[s];
      if (sum > 0)
        ++votes[i];
      else
        ++votes[j];
    }
  }
  int winner = 0;
  for (int a = 1; a < nr_class; ++a)
    if (votes[a] > votes[winner]) winner = a;
  return model.label[winner];
}

double predict_single_problem(const Model& model, const Node* x) {
  const int nr_class = model.nr_class;
  const int rows = nr_class - 1;
  std::vector<double> coefficient_sum(model.total_sv);
  for (int s = 0; s < model.total_sv; ++s) {
    // A single class has no rows (a file may still list support vectors).
    double sum = rows > 0 ? model.coefficients[0][s] : 0;
    for (int r = 1; r < rows; ++r) sum += model.coefficients[r][s];
    coefficient_sum[s] = sum;
  }
  const std::vector<int> start = group_starts(model.nr_sv, nr_class);
  std::vector<double> dec(nr_class, 0.0);
  for (int a = 0; a < nr_class; ++a) {
    for (int s = start[a]; s < start[a] + model.nr_sv[a]; ++s) {
      const double k = kernel_value(x, model.SV[s], model.param) + 1;
      for (int b = 0; b < a; ++b)
        dec[b] = dec[b] - k * model.coefficients[other_class_row(a, b)][s];
      dec[a] = dec[a] + k * coefficient_sum[s];
      for (int b = a + 1; b < nr_class; ++b)
        dec[b] = dec[b] - k * model.coefficients[other_class_row(a, b)][s];
    }
  }
  return model.label[first_largest(dec)];
}

double predict_crammer_singer(const Model& model, const Node* x) {
  std::vector<double> dec(model.nr_class, 0.0);
  for (int s = 0; s < model.total_sv; ++s) {
    const double k = kernel_value(x, model.SV[s], model.param);
    for (int a = 0; a < model.nr_class; ++a) dec[a] = dec[a] + k * model.coefficients[a][s];
  }
  return model.label[first_largest(dec)];
}

double predict_regression(const Model& model, const Node* x) {
  if (model.total_sv <= 0) return 0;
  double sum = 0;
  const double* row = model.coefficients[0];
  for (int s = 0; s < model.total_sv; ++s)
    sum = sum + (kernel_value(x, model.SV[s], model.param) + 1) * row[s];
  return sum;
}

}  // namespace

double predict_value(const Model* model, const Node* x) {
  const int svm_type = model->param.svm_type;
  if (svm_type == epsilon_svr) return predict_regression(*model, x);
  if (model->nr_class < 1) return 0;
  switch (svm_type) {
    case c_svc:
      return predict_one_against_one(*model, x);
    case kbb:
      return predict_single_problem(*model, x);
    default:
      return predict_crammer_singer(*model, x);
  }
}

}  // namespace tevra
