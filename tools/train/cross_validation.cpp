// n-fold cross-validation: shuffle once with the unseeded rand, so that one
// library gives the same folds on every run, cut the shuffled order into
// contiguous folds, train on everything outside each fold and predict it.
// Results go straight to standard output; training progress goes wherever
// the run sends it. All folds train in one run, so the sub-problem solver's
// shift carries from fold to fold.
#include "tools/train/cross_validation.h"

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace tevra {

namespace {

// Sums over every held-out prediction v of a target y.
struct Regression_sums {
  double error = 0;   // squared differences
  double sum_v = 0;   // predictions
  double sum_y = 0;   // targets
  double sum_vv = 0;  // squared predictions
  double sum_yy = 0;  // squared targets
  double sum_vy = 0;  // products
};

void shuffle(Problem* problem) {
  const int l = problem->sample_count;
  for (int i = 0; i < l; ++i) {
    const int j = i + std::rand() % (l - i);
    std::swap(problem->samples[i], problem->samples[j]);
    std::swap(problem->labels[i], problem->labels[j]);
  }
}

}  // namespace

bool cross_validate(Training_run* run, Problem* problem, const Parameter& param, int fold_count) {
  const int l = problem->sample_count;
  const bool regression = param.svm_type == epsilon_svr;
  shuffle(problem);

  int total_correct = 0;
  Regression_sums totals;
  std::vector<Node*> samples(l);
  std::vector<double> labels(l);
  std::vector<double> values(l);  // predictions of the held-out fold
  for (int k = 0; k < fold_count; ++k) {
    // In 64 bits: k * l overflows an int for large sets and many folds.
    const int begin = static_cast<int>(static_cast<long long>(k) * l / fold_count);
    const int end = static_cast<int>(static_cast<long long>(k + 1) * l / fold_count);

    Problem training;
    training.sample_count = l - (end - begin);
    training.max_index = problem->max_index;
    int n = 0;
    for (int i = 0; i < l; ++i) {
      if (i >= begin && i < end) continue;
      samples[n] = problem->samples[i];
      labels[n] = problem->labels[i];
      ++n;
    }
    training.samples = samples.data();
    training.labels = labels.data();

    Model* model = train_model(run, &training, &param);
    if (model == nullptr) return false;
    index_support_vectors(model);
    predict_values(model, problem->samples + begin, end - begin, values.data());
    int correct = 0;
    double fold_error = 0;
    for (int j = begin; j < end; ++j) {
      const double v = values[j - begin];
      const double y = problem->labels[j];
      if (regression) {
        fold_error += (v - y) * (v - y);
        totals.sum_v += v;
        totals.sum_y += y;
        totals.sum_vv += v * v;
        totals.sum_yy += y * y;
        totals.sum_vy += v * y;
      } else if (v == y) {
        ++correct;
      }
    }
    destroy_model(&model);

    const int size = end - begin;
    if (regression) {
      std::printf("Mean squared error = %g\n", fold_error / size);
      totals.error += fold_error;
    } else {
      std::printf("Accuracy = %g%% (%d/%d)\n", 100.0 * correct / size, correct, size);
      total_correct += correct;
    }
  }

  if (regression) {
    const double n = l;
    std::printf("Cross Validation Mean squared error = %g\n", totals.error / l);
    const double covariance = n * totals.sum_vy - totals.sum_v * totals.sum_y;
    std::printf("Cross Validation Squared correlation coefficient = %g\n",
                (covariance * covariance) / ((n * totals.sum_vv - totals.sum_v * totals.sum_v) *
                                             (n * totals.sum_yy - totals.sum_y * totals.sum_y)));
  } else {
    std::printf("Cross Validation Accuracy = %g%%\n", 100.0 * total_correct / l);
  }
  return true;
}

}  // namespace tevra
