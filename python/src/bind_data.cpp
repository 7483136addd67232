// Samples (rows to predict) and Dataset (rows with labels, to train on).
#include <pybind11/stl.h>

#include <climits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "python/src/bindings.h"
#include "python/src/dataset.h"

namespace py = pybind11;

namespace tevra_python {

namespace {

void require_matrix(const Double_array& matrix) {
  if (matrix.ndim() != 2) throw std::invalid_argument("expected a 2-d array");
}

std::vector<double> label_vector(const Double_array& labels) {
  if (labels.ndim() != 1) throw std::invalid_argument("expected a 1-d array of labels");
  return std::vector<double>(labels.data(), labels.data() + labels.size());
}

}  // namespace

Node_rows dense_rows(const Double_array& matrix) {
  require_matrix(matrix);
  return rows_from_dense(matrix.data(), matrix.shape(0), matrix.shape(1));
}

Node_rows csr_rows(const Index_array& indptr, const Index_array& indices, const Double_array& data,
                   std::int64_t cols) {
  if (indptr.ndim() != 1 || indptr.size() < 1 || indices.ndim() != 1 || data.ndim() != 1 ||
      indices.size() != data.size())
    throw std::invalid_argument("malformed CSR matrix");
  const std::int64_t rows = indptr.size() - 1;
  if (indptr.data()[rows] != indices.size()) throw std::invalid_argument("malformed CSR matrix: indptr");
  return rows_from_csr(indptr.data(), indices.data(), data.data(), rows, cols);
}

py::tuple node_csr(const Node* const* rows, std::size_t count) {
  std::vector<std::int64_t> indptr{0};
  std::vector<int> indices;
  std::vector<double> values;
  for (std::size_t i = 0; i < count; ++i) {
    for (const Node* x = rows[i]; x->index != -1; ++x) {
      indices.push_back(x->index);
      values.push_back(x->value);
    }
    indptr.push_back(static_cast<std::int64_t>(indices.size()));
  }
  return py::make_tuple(to_numpy(indptr.data(), indptr.size()), to_numpy(indices.data(), indices.size()),
                        to_numpy(values.data(), values.size()));
}

Node_rows rows_from_node_csr(const py::tuple& arrays) {
  if (arrays.size() != 3) throw std::invalid_argument("malformed node arrays");
  const auto indptr = arrays[0].cast<Index_array>();
  const auto indices = arrays[1].cast<Index_array>();
  const auto values = arrays[2].cast<Double_array>();
  if (indptr.ndim() != 1 || indptr.size() < 1 || indptr.data()[0] != 0 ||
      indices.size() != values.size() || indptr.data()[indptr.size() - 1] != indices.size())
    throw std::invalid_argument("malformed node arrays");
  Node_rows rows;
  for (py::ssize_t i = 0; i + 1 < indptr.size(); ++i) {
    if (indptr.data()[i + 1] < indptr.data()[i]) throw std::invalid_argument("malformed node arrays");
    rows.begin_row();
    for (std::int64_t k = indptr.data()[i]; k < indptr.data()[i + 1]; ++k) {
      const std::int64_t index = indices.data()[k];
      if (index < 0 || index > INT_MAX ||
          (k > indptr.data()[i] && index <= indices.data()[k - 1]))
        throw std::invalid_argument("malformed node arrays");
      rows.add(static_cast<int>(index), values.data()[k]);
    }
    rows.end_row();
  }
  return rows;
}

Node_rows kernel_rows(const Double_array& matrix) {
  require_matrix(matrix);
  return rows_from_kernel(matrix.data(), matrix.shape(0), matrix.shape(1));
}

void bind_data(py::module_& module) {
  py::class_<Node_rows>(module, "Samples", "Samples to predict, in tevra's sparse form.")
      .def_static("dense", &dense_rows, py::arg("X"),
                  "Rows of a dense matrix; column j is feature index j + 1, zeros are absent.")
      .def_static("csr", &csr_rows, py::arg("indptr"), py::arg("indices"), py::arg("data"),
                  py::arg("n_cols"), "Rows of a CSR matrix with sorted, distinct column indices.")
      .def_static("kernel", &kernel_rows, py::arg("K"),
                  "Rows of a precomputed kernel matrix, every entry kept.")
      .def_property_readonly("count", &Node_rows::row_count)
      .def_readonly("max_index", &Node_rows::max_index);

  py::class_<Dataset>(module, "Dataset", "A training set: samples and their labels.")
      .def_static(
          "dense",
          [](const Double_array& X, const Double_array& y) {
            return std::make_unique<Dataset>(dense_rows(X), label_vector(y));
          },
          py::arg("X"), py::arg("y"))
      .def_static(
          "csr",
          [](const Index_array& indptr, const Index_array& indices, const Double_array& data,
             std::int64_t cols, const Double_array& y) {
            return std::make_unique<Dataset>(csr_rows(indptr, indices, data, cols), label_vector(y));
          },
          py::arg("indptr"), py::arg("indices"), py::arg("data"), py::arg("n_cols"), py::arg("y"))
      .def_static(
          "kernel",
          [](const Double_array& K, const Double_array& y) {
            return std::make_unique<Dataset>(kernel_rows(K), label_vector(y));
          },
          py::arg("K"), py::arg("y"))
      .def_static(
          "read",
          [](const std::string& path, int svm_type, int kernel_type) {
            Node_rows rows;
            std::vector<double> labels = read_data_file(path, svm_type, kernel_type, &rows);
            return std::make_unique<Dataset>(std::move(rows), std::move(labels));
          },
          py::arg("path"), py::arg("svm_type") = 0, py::arg("kernel_type") = 2,
          "Reads a file in the sparse text format by tevra-train's rules.")
      .def_property_readonly("sample_count", &Dataset::sample_count)
      .def_property_readonly("max_index", &Dataset::max_index)
      .def_property_readonly("labels",
                             [](const Dataset& data) {
                               return to_numpy(data.labels().data(), data.labels().size());
                             })
      .def(py::pickle(
          [](const Dataset& data) {
            const tevra::Problem problem = data.problem();
            return py::make_tuple(node_csr(problem.samples, problem.sample_count),
                                  to_numpy(data.labels().data(), data.labels().size()));
          },
          [](const py::tuple& state) {
            if (state.size() != 2) throw std::invalid_argument("malformed state");
            return std::make_unique<Dataset>(rows_from_node_csr(state[0].cast<py::tuple>()),
                                             label_vector(state[1].cast<Double_array>()));
          }));
}

}  // namespace tevra_python
