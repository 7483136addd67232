// train and cross_validate.
#include <pybind11/stl.h>

#include <memory>
#include <vector>

#include "python/src/bindings.h"
#include "python/src/parameters.h"
#include "python/src/training.h"

namespace py = pybind11;

namespace tevra_python {

void bind_training(py::module_& module) {
  module.def(
      "train",
      [](const Dataset& data, const py::dict& parameters, bool verbose) {
        Owned_parameter param(parameters);
        return std::make_unique<Trained_model>(train(data, &param.get(), verbose));
      },
      py::arg("dataset"), py::arg("parameters"), py::arg("verbose") = false,
      "Trains a model on the whole set. parameters: a dict of Parameter fields and 'weights', "
      "a list of (label, factor) pairs; tevra-train's defaults for the others.");

  module.def(
      "check_parameters",
      [](const Dataset& data, const py::dict& parameters) {
        Owned_parameter param(parameters);
        prepare_parameters(data, &param.get());
      },
      py::arg("dataset"), py::arg("parameters"),
      "Raises ValueError when the parameters cannot train on the set, as train would.");

  module.def(
      "cross_validate",
      [](const Dataset& data, const py::dict& parameters, const std::vector<int>& order,
         int fold_count, bool verbose) {
        Owned_parameter param(parameters);
        const Cross_validation result = cross_validate(data, &param.get(), order, fold_count, verbose);
        py::dict summary;
        summary["predictions"] = to_numpy(result.predictions.data(), result.predictions.size());
        if (param.get().svm_type == tevra::epsilon_svr) {
          summary["mean_squared_error"] = result.mean_squared_error;
          summary["squared_correlation"] = result.squared_correlation;
        } else {
          summary["correct"] = result.correct;
          summary["accuracy"] = result.accuracy;
        }
        return summary;
      },
      py::arg("dataset"), py::arg("parameters"), py::arg("order"), py::arg("fold_count"),
      py::arg("verbose") = false,
      "Cross-validation over the samples in the given order, cut into contiguous folds, "
      "as tevra-train -v does after its shuffle.");
}

}  // namespace tevra_python
