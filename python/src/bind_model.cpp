// Model: what a trained or loaded model holds, its predictions, model files
// and pickling.
#include <pybind11/stl.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "python/src/bindings.h"
#include "python/src/errors.h"
#include "python/src/prediction.h"
#include "python/src/training.h"

namespace py = pybind11;

namespace tevra_python {

namespace {

using tevra::Model;

const Model& model_of(const Trained_model& trained) { return *trained.model; }

py::object class_array(const int* values, int count) {
  if (values == nullptr) return py::none();
  return to_numpy(values, static_cast<std::size_t>(count));
}

py::array_t<double> coefficient_matrix(const Model& model) {
  const int rows = tevra::coefficient_row_count(model.param.svm_type, model.nr_class);
  const py::ssize_t total_sv = model.total_sv;
  py::array_t<double> matrix({static_cast<py::ssize_t>(rows > 0 ? rows : 0), total_sv});
  double* out = matrix.mutable_data();
  for (int r = 0; r < rows; ++r)
    std::copy(model.coefficients[r], model.coefficients[r] + total_sv, out + r * total_sv);
  return matrix;
}

py::tuple support_vectors(const Model& model) {
  return node_csr(model.SV, static_cast<std::size_t>(model.total_sv));
}

py::array_t<double> predict(const Trained_model& trained, const Node_rows& samples) {
  check_samples_fit(model_of(trained), samples);
  std::vector<double> values;
  {
    py::gil_scoped_release released;
    values = predict_rows(model_of(trained), samples);
  }
  return to_numpy(values.data(), values.size());
}

py::array_t<double> decision_values(const Trained_model& trained, const Node_rows& samples) {
  check_samples_fit(model_of(trained), samples);
  std::vector<double> values;
  int width = 0;
  {
    py::gil_scoped_release released;
    values = decision_rows(model_of(trained), samples, &width);
  }
  py::array_t<double> matrix({static_cast<py::ssize_t>(samples.row_count()), static_cast<py::ssize_t>(width)});
  std::copy(values.begin(), values.end(), matrix.mutable_data());
  return matrix;
}

void save(const Trained_model& trained, const std::string& path) {
  errno = 0;
  if (tevra::save_model_file(path.c_str(), trained.model.get()) != 0) throw File_error(errno, path);
}

std::unique_ptr<Trained_model> load(const std::string& path) {
  // The library says nothing when it cannot open the file; the errno says why.
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw File_error(errno, path);
  std::fclose(file);
  auto loaded = std::make_unique<Trained_model>();
  loaded->model.reset(tevra::load_model_file(path.c_str()));
  if (!loaded->model)
    throw std::invalid_argument(path + ": not a readable tevra model file");
  try {
    check_model(*loaded->model);
  } catch (const std::invalid_argument& error) {
    throw std::invalid_argument(path + ": " + error.what());
  }
  return loaded;
}

py::tuple state_of(const Trained_model& trained) {
  const Model& m = model_of(trained);
  const tevra::Parameter& p = m.param;
  py::tuple vectors = support_vectors(m);
  return py::make_tuple(p.svm_type, p.kernel_type, p.degree, p.gamma, p.coef0, m.nr_class,
                        class_array(m.label, m.nr_class), class_array(m.nr_sv, m.nr_class),
                        coefficient_matrix(m), vectors, to_numpy(trained.support.data(), trained.support.size()));
}

std::unique_ptr<Trained_model> from_state(const py::tuple& state) {
  if (state.size() != 11) throw std::invalid_argument("malformed model state");
  Model_contents contents;
  contents.svm_type = state[0].cast<int>();
  contents.kernel_type = state[1].cast<int>();
  contents.degree = state[2].cast<int>();
  contents.gamma = state[3].cast<double>();
  contents.coef0 = state[4].cast<double>();
  contents.nr_class = state[5].cast<int>();
  contents.has_labels = !state[6].is_none();
  if (contents.has_labels) {
    contents.label = state[6].cast<std::vector<int>>();
    contents.nr_sv = state[7].cast<std::vector<int>>();
  }
  const auto coefficients = state[8].cast<Double_array>();
  contents.coefficients.assign(coefficients.data(), coefficients.data() + coefficients.size());
  contents.support_vectors = rows_from_node_csr(state[9].cast<py::tuple>());
  auto trained = std::make_unique<Trained_model>();
  trained->model = make_model(contents);
  trained->support = state[10].cast<std::vector<int>>();
  if (!trained->support.empty() && trained->support.size() != static_cast<std::size_t>(contents.total_sv()))
    throw std::invalid_argument("malformed model state");
  return trained;
}

}  // namespace

void bind_model(py::module_& module) {
  py::class_<Trained_model>(module, "Model", "A trained or loaded tevra model.")
      .def_property_readonly("svm_type", [](const Trained_model& t) { return model_of(t).param.svm_type; })
      .def_property_readonly("kernel_type", [](const Trained_model& t) { return model_of(t).param.kernel_type; })
      .def_property_readonly("degree", [](const Trained_model& t) { return model_of(t).param.degree; })
      .def_property_readonly("gamma", [](const Trained_model& t) { return model_of(t).param.gamma; })
      .def_property_readonly("coef0", [](const Trained_model& t) { return model_of(t).param.coef0; })
      .def_property_readonly("nr_class", [](const Trained_model& t) { return model_of(t).nr_class; })
      .def_property_readonly("total_sv", [](const Trained_model& t) { return model_of(t).total_sv; })
      .def_property_readonly("labels",
                             [](const Trained_model& t) { return class_array(model_of(t).label, model_of(t).nr_class); },
                             "Class labels in model order (first appearance), or None for regression.")
      .def_property_readonly("nr_sv",
                             [](const Trained_model& t) { return class_array(model_of(t).nr_sv, model_of(t).nr_class); })
      .def_property_readonly("coefficients", [](const Trained_model& t) { return coefficient_matrix(model_of(t)); })
      .def_property_readonly("support_vectors", [](const Trained_model& t) { return support_vectors(model_of(t)); },
                             "(indptr, indices, values): the support vectors' nodes, feature indices as stored.")
      .def_property_readonly(
          "support",
          [](const Trained_model& t) -> py::object {
            if (t.support.empty() && model_of(t).total_sv > 0) return py::none();
            return to_numpy(t.support.data(), t.support.size());
          },
          "Training-set position of each support vector, or None for a loaded model.")
      .def("predict", &predict, py::arg("samples"))
      .def("decision_values", &decision_values, py::arg("samples"))
      .def("save", &save, py::arg("path"))
      .def_static("load", &load, py::arg("path"))
      .def(py::pickle(&state_of, &from_state));
}

}  // namespace tevra_python
