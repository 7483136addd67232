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

#include "learn/parallel.h"
#include "tools/common/regression_summary.h"

namespace tevra {

namespace {

void shuffle(Problem* problem) {
  const int l = problem->sample_count;
  for (int i = 0; i < l; ++i) {
    const int j = i + std::rand() % (l - i);
    std::swap(problem->samples[i], problem->samples[j]);
    std::swap(problem->labels[i], problem->labels[j]);
  }
}

// Work of predicting `count` samples, in the units of parallel_for: a few
// steps per support vector and sample.
long long prediction_work(const Model& model, int count) {
  return 4LL * count * (static_cast<long long>(model.total_sv) + 1);
}

// Position of the first sample of fold k, in 64 bits: k * l overflows an
// int for large sets and many folds.
int fold_start(int k, int l, int fold_count) {
  return static_cast<int>(static_cast<long long>(k) * l / fold_count);
}

}  // namespace

bool every_fold_trains(int sample_count, int fold_count) {
  // A fold that holds every sample leaves nothing to train its model on.
  for (int k = 0; k < fold_count; ++k) {
    if (fold_start(k + 1, sample_count, fold_count) - fold_start(k, sample_count, fold_count) ==
        sample_count)
      return false;
  }
  return true;
}

bool cross_validate(Training_run* run, Problem* problem, const Parameter& param, int fold_count) {
  const int l = problem->sample_count;
  const bool regression = param.svm_type == epsilon_svr;
  shuffle(problem);

  int total_correct = 0;
  double total_error = 0;  // the folds' sums of squared errors, added fold by fold
  Regression_sums totals;  // over every held-out prediction
  std::vector<Node*> samples(l);
  std::vector<double> labels(l);
  std::vector<double> predictions(l);
  for (int k = 0; k < fold_count; ++k) {
    const int begin = fold_start(k, l, fold_count);
    const int end = fold_start(k + 1, l, fold_count);

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
    // The held-out samples are predicted on every thread, a stretch at a
    // time, then counted and summed in fold order.
    Node* const* const held_out = problem->samples + begin;
    try {
      index_support_vectors(model);
      parallel_for(end - begin, prediction_work(*model, end - begin), [&](int from, int to) {
        predict_values(model, held_out + from, to - from, predictions.data() + from);
      });
    } catch (...) {
      destroy_model(&model);
      throw;
    }
    int correct = 0;
    double fold_error = 0;
    for (int j = begin; j < end; ++j) {
      const double v = predictions[j - begin];
      const double y = problem->labels[j];
      if (regression) {
        fold_error += (v - y) * (v - y);
        totals.add(v, y);
      } else if (v == y) {
        ++correct;
      }
    }
    destroy_model(&model);

    const int size = end - begin;
    if (regression) {
      std::printf("Mean squared error = %g\n", fold_error / size);
      total_error += fold_error;
    } else {
      std::printf("Accuracy = %g%% (%d/%d)\n", 100.0 * correct / size, correct, size);
      total_correct += correct;
    }
  }

  if (regression) {
    std::printf("Cross Validation Mean squared error = %g\n", total_error / l);
    std::printf("Cross Validation Squared correlation coefficient = %g\n",
                squared_correlation(totals, l));
  } else {
    std::printf("Cross Validation Accuracy = %g%%\n", 100.0 * total_correct / l);
  }
  return true;
}

}  // namespace tevra
