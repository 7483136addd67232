#include "python/src/training.h"

#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>

#include "python/src/errors.h"

namespace py = pybind11;

namespace tevra_python {

namespace {

void print_nothing(const char*, void*) {}

// The library must not see an exception, so a failing write is reported as
// unraisable and the run goes on.
void print_to_python(const char* text, void*) {
  py::gil_scoped_acquire gil;
  try {
    py::module_::import("sys").attr("stdout").attr("write")(text);
  } catch (py::error_already_set& error) {
    error.discard_as_unraisable("tevra progress output");
  }
}

// One training run of the library, with its progress output.
class Training_session {
 public:
  explicit Training_session(bool verbose)
      : run_(tevra::create_training_run(verbose ? print_to_python : print_nothing, nullptr)) {
    if (run_ == nullptr) throw Out_of_memory("not enough memory to train");
  }
  ~Training_session() { tevra::destroy_training_run(&run_); }
  Training_session(const Training_session&) = delete;
  Training_session& operator=(const Training_session&) = delete;

  Model_ptr train(const tevra::Problem& problem, const tevra::Parameter& param) {
    Model_ptr model(tevra::train_model(run_, &problem, &param));
    if (!model) {
      const char* error = tevra::training_run_error(run_);
      const std::string message = error != nullptr ? error : "training failed";
      if (message == "not enough memory to train") throw Out_of_memory(message);
      throw std::runtime_error(message);
    }
    return model;
  }

 private:
  tevra::Training_run* run_;
};

bool fits_int_after_truncation(double label) {
  return label > -2147483649.0 && label < 2147483648.0;
}

}  // namespace

void prepare_parameters(const Dataset& data, tevra::Parameter* param) {
  const tevra::Problem problem = data.problem();
  if (param->gamma == 0 && problem.max_index > 0) param->gamma = 1.0 / problem.max_index;
  if (const char* message = tevra::check_parameters(&problem, param))
    throw std::invalid_argument(message);
  if (param->svm_type != tevra::epsilon_svr)
    for (double label : data.labels())
      if (!fits_int_after_truncation(label))
        throw std::invalid_argument("class labels must fit a 32-bit int after truncation");
  if (param->kernel_type == tevra::precomputed) check_kernel_rows(data.rows());
}

Trained_model train(const Dataset& data, tevra::Parameter* param, bool verbose) {
  prepare_parameters(data, param);
  const tevra::Problem problem = data.problem();
  Trained_model result;
  py::gil_scoped_release released;
  Training_session run(verbose);
  const Model_ptr trained = run.train(problem, *param);
  result.support.resize(trained->total_sv);
  for (int s = 0; s < trained->total_sv; ++s) result.support[s] = data.position_of(trained->SV[s]);
  result.model = make_model(contents_of(*trained));
  return result;
}

Cross_validation cross_validate(const Dataset& data, tevra::Parameter* param,
                                const std::vector<int>& order, int fold_count, bool verbose) {
  const int l = data.sample_count();
  if (fold_count < 2) throw std::invalid_argument("n-fold cross validation: n must >= 2");
  if (order.size() != static_cast<std::size_t>(l))
    throw std::invalid_argument("the order must list every sample once");
  std::vector<char> seen(l, 0);
  for (int i : order) {
    if (i < 0 || i >= l || seen[i]) throw std::invalid_argument("the order must list every sample once");
    seen[i] = 1;
  }
  prepare_parameters(data, param);
  const tevra::Problem whole = data.problem();
  const bool regression = param->svm_type == tevra::epsilon_svr;

  Cross_validation result;
  result.predictions.assign(l, 0);
  py::gil_scoped_release released;
  Training_session run(verbose);
  std::vector<Node*> samples(l);
  std::vector<double> labels(l);
  double total_error = 0, sum_v = 0, sum_y = 0, sum_vv = 0, sum_yy = 0, sum_vy = 0;
  for (int k = 0; k < fold_count; ++k) {
    const int begin = static_cast<int>(static_cast<long long>(k) * l / fold_count);
    const int end = static_cast<int>(static_cast<long long>(k + 1) * l / fold_count);
    int n = 0;
    for (int p = 0; p < l; ++p) {
      if (p >= begin && p < end) continue;
      samples[n] = whole.samples[order[p]];
      labels[n] = whole.labels[order[p]];
      ++n;
    }
    tevra::Problem training{n, whole.max_index, labels.data(), samples.data()};
    const Model_ptr model = run.train(training, *param);
    double fold_error = 0;
    for (int p = begin; p < end; ++p) {
      const int i = order[p];
      const double v = tevra::predict_value(model.get(), whole.samples[i]);
      const double y = whole.labels[i];
      result.predictions[i] = v;
      if (regression) {
        fold_error += (v - y) * (v - y);
        sum_v += v;
        sum_y += y;
        sum_vv += v * v;
        sum_yy += y * y;
        sum_vy += v * y;
      } else if (v == y) {
        ++result.correct;
      }
    }
    total_error += fold_error;
  }
  result.accuracy = 100.0 * result.correct / l;
  result.mean_squared_error = total_error / l;
  const double count = l;
  const double covariance = count * sum_vy - sum_v * sum_y;
  result.squared_correlation = (covariance * covariance) /
                               ((count * sum_vv - sum_v * sum_v) * (count * sum_yy - sum_y * sum_y));
  return result;
}

}  // namespace tevra_python
