// The coordinate-descent solvers of -a 1 against the decomposition solvers
// of the default path: both solve the same bounded duals, so at a tight
// tolerance their optima must agree. Each objective is computed here from
// the trained model itself, not taken from the solvers' reports.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "learn/coordinate_descent/sample_order.h"
#include "learn/kernel.h"
#include "learn/tevra.h"
#include "tests/learn/test_run.h"
#include "tests/tool_runner.h"
#include "tools/train/training_reader.h"

namespace tevra {
namespace {

using testing_support::Test_run;

// A data file of tests/data, owned.
struct Data_file {
  Data_file(const char* name, const Parameter& param_in) : param(param_in) {
    const std::string path = std::string(TEVRA_TEST_DATA_DIR) + "/" + name;
    read_training_set(path.c_str(), &param, &problem, &nodes);
  }
  ~Data_file() {
    std::free(problem.labels);
    std::free(problem.samples);
    std::free(nodes);
  }
  Data_file(const Data_file&) = delete;
  Data_file& operator=(const Data_file&) = delete;

  Parameter param;
  Problem problem{};
  Node* nodes = nullptr;
};

double extended_dot(const Node* x, const Node* y) { return dot(x, y) + 1; }

// Cost of the class with this label: C times each weight given for it.
double class_cost(const Parameter& param, int label) {
  double cost = param.C;
  for (int w = 0; w < param.weight_count; ++w)
    if (param.weight_labels[w] == label) cost *= param.weights[w];
  return cost;
}

// Class index of every support vector, from nr_sv.
std::vector<int> sv_classes(const Model& model) {
  std::vector<int> own;
  for (int a = 0; a < model.nr_class; ++a)
    for (int c = 0; c < model.nr_sv[a]; ++c) own.push_back(a);
  return own;
}

// The dual objective of a trained model, straight from the definitions, with
// the feasibility of its coefficients checked on the way (a solver that
// leaves its box could report any objective).
double model_objective(const Model& m, const Problem& problem, const Parameter& param) {
  const int n = m.total_sv;
  const double slack = 1e-9;
  if (param.svm_type == epsilon_svr) {
    std::map<const Node*, double> target;
    for (int i = 0; i < problem.sample_count; ++i) target[problem.samples[i]] = problem.labels[i];
    const double* c = m.coefficients[0];
    double value = 0;
    for (int s = 0; s < n; ++s) {
      EXPECT_LE(std::fabs(c[s]), param.C * (1 + slack));
      for (int t = 0; t < n; ++t) value += 0.5 * c[s] * c[t] * extended_dot(m.SV[s], m.SV[t]);
      value += -target[m.SV[s]] * c[s] + param.p * std::fabs(c[s]);
    }
    return value;
  }
  const std::vector<int> own = sv_classes(m);
  double value = 0;
  if (param.svm_type == c_svc) {
    // Pair (i, j): class i's support vectors keep their coefficient in row
    // j - 1, class j's in row i.
    for (int i = 0; i < m.nr_class; ++i)
      for (int j = i + 1; j < m.nr_class; ++j) {
        std::vector<int> members;
        std::vector<double> coefficient;
        for (int s = 0; s < n; ++s) {
          if (own[s] != i && own[s] != j) continue;
          members.push_back(s);
          coefficient.push_back(own[s] == i ? m.coefficients[j - 1][s] : m.coefficients[i][s]);
        }
        for (std::size_t u = 0; u < members.size(); ++u) {
          const double c = coefficient[u];
          EXPECT_LE(std::fabs(c), class_cost(param, m.label[own[members[u]]]) * (1 + slack));
          for (std::size_t v = 0; v < members.size(); ++v)
            value += 0.5 * c * coefficient[v] * extended_dot(m.SV[members[u]], m.SV[members[v]]);
          value -= std::fabs(c);
        }
      }
    return value;
  }
  // spoc, spoc_l2: row a holds every support vector's variable for class a.
  for (int a = 0; a < m.nr_class; ++a)
    for (int s = 0; s < n; ++s)
      for (int t = 0; t < n; ++t)
        value += 0.5 * m.coefficients[a][s] * m.coefficients[a][t] * dot(m.SV[s], m.SV[t]);
  for (int s = 0; s < n; ++s) {
    const double cost = class_cost(param, m.label[own[s]]);
    double sum = 0;
    for (int a = 0; a < m.nr_class; ++a) {
      const double alpha = m.coefficients[a][s];
      sum += alpha;
      if (a == own[s]) {
        if (param.svm_type == spoc) {
          EXPECT_LE(alpha, cost * (1 + slack));
        } else {
          value += 0.5 * (0.5 / cost) * alpha * alpha;
        }
      } else {
        EXPECT_LE(alpha, 0.0);
        value += alpha;
      }
    }
    EXPECT_NEAR(sum, 0.0, 1e-9 * (1 + cost));
  }
  return value;
}

// Sum of the objectives the run printed (one per pair of classes).
double printed_objective(const std::string& text) {
  static const std::regex obj("obj = (-?[0-9.]+)");
  double sum = 0;
  for (std::sregex_iterator it(text.begin(), text.end(), obj), end; it != end; ++it)
    sum += std::stod((*it)[1]);
  return sum;
}

struct Oracle_case {
  const char* name;
  const char* file;
  int svm_type;
  double C;
  std::vector<std::pair<int, double>> weights;  // label, factor
  double Cbegin = 1;
  double Cstep = 2;
  int shrinking = 1;
  double p = 0.1;
};

class SameOptimum : public ::testing::TestWithParam<Oracle_case> {};

TEST_P(SameOptimum, AsTheDecompositionSolvers) {
  const Oracle_case& c = GetParam();
  Parameter param = default_parameter();
  param.svm_type = c.svm_type;
  param.kernel_type = linear;
  param.C = c.C;
  param.eps = 1e-5;
  param.p = c.p;
  param.Cbegin = c.Cbegin;
  param.Cstep = c.Cstep;
  param.shrinking = c.shrinking;
  std::vector<int> labels;
  std::vector<double> factors;
  for (const auto& [label, factor] : c.weights) {
    labels.push_back(label);
    factors.push_back(factor);
  }
  param.weight_count = static_cast<int>(labels.size());
  param.weight_labels = labels.data();
  param.weights = factors.data();
  Data_file data(c.file, param);
  ASSERT_EQ(check_parameters(&data.problem, &param), nullptr);

  double objective[2];
  for (int algorithm : {0, 1}) {
    param.algorithm = algorithm;
    Test_run run;
    Model* model = train_model(&run.run(), &data.problem, &param);
    ASSERT_NE(model, nullptr);
    objective[algorithm] = model_objective(*model, data.problem, param);
    // What the run reports is the objective of what it returns.
    EXPECT_NEAR(printed_objective(run.text()), objective[algorithm],
                2e-6 * (1 + std::fabs(objective[algorithm])))
        << run.text();
    destroy_model(&model);
  }
  EXPECT_LE(std::fabs(objective[1] - objective[0]), 1e-6 * std::fabs(objective[0]))
      << "decomposition " << objective[0] << ", coordinate descent " << objective[1];
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormulation, SameOptimum,
    ::testing::Values(
        Oracle_case{"two_class", "breast_cancer.train", c_svc, 1, {}},
        Oracle_case{"two_class_weights_without_shrinking", "breast_cancer.train", c_svc, 0.5,
                    {{1, 3}, {-1, 0.25}}, 1, 2, 0},
        Oracle_case{"two_class_seeded", "breast_cancer.train", c_svc, 8, {{-1, 2}}, 0.5, 2},
        Oracle_case{"pairs_of_six_classes", "glass.train", c_svc, 2, {{7, 0.5}}},
        Oracle_case{"regression", "diabetes.train", epsilon_svr, 1, {}},
        Oracle_case{"regression_seeded_without_shrinking", "diabetes.train", epsilon_svr, 16, {},
                    1, 4, 0, 0.05},
        Oracle_case{"crammer_singer", "wine.all", spoc, 1, {{2, 1.5}}},
        Oracle_case{"crammer_singer_without_shrinking", "glass.train", spoc, 4, {}, 1, 2, 0},
        Oracle_case{"crammer_singer_l2", "iris.all", spoc_l2, 2, {{3, 0.5}}},
        Oracle_case{"crammer_singer_l2_six_classes", "glass.train", spoc_l2, 0.5, {}}),
    [](const ::testing::TestParamInfo<Oracle_case>& info) { return info.param.name; });

// Samples that keep the sub-problems away from the common case: one without
// any feature (a sample of no curvature for Crammer and Singer, of the bias
// alone for the others), one repeated with both labels, one far outside.
TEST(SameOptimum, AwkwardSamples) {
  for (int svm_type : {c_svc, epsilon_svr, spoc, spoc_l2}) {
    Parameter param = default_parameter();
    param.svm_type = svm_type;
    param.kernel_type = linear;
    param.eps = 1e-5;
    Data_file data("iris.all", param);
    const int l = data.problem.sample_count;
    if (svm_type == c_svc || svm_type == epsilon_svr)
      for (int i = 0; i < l; ++i) data.problem.labels[i] = data.problem.labels[i] == 1 ? 1 : -1;
    data.problem.samples[l - 1]->index = -1;              // no features
    data.problem.samples[l - 2] = data.problem.samples[0];  // sample 0 again,
    data.problem.labels[l - 2] = data.problem.labels[l - 1];  // with another label
    data.problem.samples[l - 3][0].value = 40;             // far outside
    double objective[2];
    for (int algorithm : {0, 1}) {
      param.algorithm = algorithm;
      Test_run run;
      Model* model = train_model(&run.run(), &data.problem, &param);
      ASSERT_NE(model, nullptr);
      objective[algorithm] = model_objective(*model, data.problem, param);
      destroy_model(&model);
    }
    EXPECT_LE(std::fabs(objective[1] - objective[0]), 1e-6 * std::fabs(objective[0]))
        << svm_type_names[svm_type] << ": " << objective[0] << " against " << objective[1];
  }
}

// The visiting order is part of the result: the same seed must give the
// same permutation on every platform, which std::shuffle and the standard
// distributions do not promise. Pinned from the first run of this code.
TEST(SampleOrder, PermutationsArePinned) {
  Sample_order order;
  std::vector<int> items = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  order.shuffle(items.data(), 10);
  EXPECT_EQ(items, (std::vector<int>{3, 9, 2, 1, 7, 0, 6, 5, 8, 4}));
  order.shuffle(items.data(), 10);
  EXPECT_EQ(items, (std::vector<int>{8, 5, 7, 0, 6, 4, 9, 1, 3, 2}));
  for (int n : {1, 2, 3, 1000000007}) {
    for (int draw = 0; draw < 1000; ++draw) {
      const int k = order.below(n);
      ASSERT_GE(k, 0);
      ASSERT_LT(k, n);
    }
  }
}

TEST(CoordinateDescentTool, RefusesOtherKernels) {
  const std::string data = std::string(TEVRA_TEST_DATA_DIR) + "/iris.all";
  const Run_result result = run_train("-a 1 -t 2 " + data + " " + work_path("m"));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Error: -a 1 needs the linear kernel\n");
}

}  // namespace
}  // namespace tevra
