
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/tool_runner.h"
#include "learn/tevra.h"
#include "learn/training_routines.h"
#include "tests/learn/test_run.h"
#include "tools/train/training_reader.h"

namespace tevra {
namespace {

using testing_support::Test_run;

// A data file of tests/data as the multi-class working problem the driver
// hands over: labels replaced by class indices in order of first appearance.
struct Data_set {
  explicit Data_set(const char* name) {
    param = default_parameter();
    const std::string path = std::string(TEVRA_TEST_DATA_DIR) + "/" + name;
    read_training_set(path.c_str(), &param, &problem, &nodes);
    std::vector<int> seen;
    for (int i = 0; i < problem.sample_count; ++i) {
      const int label = static_cast<int>(problem.labels[i]);
      int c = 0;
      while (c < static_cast<int>(seen.size()) && seen[c] != label) ++c;
      if (c == static_cast<int>(seen.size())) seen.push_back(label);
      problem.labels[i] = c;
    }
    nr_class = static_cast<int>(seen.size());
  }
  ~Data_set() {
    std::free(problem.labels);
    std::free(problem.samples);
    std::free(nodes);
  }
  Data_set(const Data_set&) = delete;
  Data_set& operator=(const Data_set&) = delete;

  // Keeps only the first count samples.
  void truncate(int count) { problem.sample_count = count; }

  Parameter param{};
  Problem problem{};
  Node* nodes = nullptr;
  int nr_class = 0;
};

struct Coefficients {
  explicit Coefficients(double* values) : values(values) {}
  ~Coefficients() { std::free(values); }
  Coefficients(const Coefficients&) = delete;
  Coefficients& operator=(const Coefficients&) = delete;
  double* values;
};

class TrainCrammerSinger : public ::testing::TestWithParam<int> {};

// Two classes still give two coefficients per sample, each row a feasible
// point: sums to zero, the label's entry in [0, C], the others at most 0.
TEST_P(TrainCrammerSinger, TwoClassesGiveFeasibleRows) {
  const int svm_type = GetParam();
  Data_set data("iris.all");
  data.truncate(100);  // the first two classes
  data.param.kernel_type = rbf;
  const std::vector<double> class_C = {1.0, 1.0};
  Test_run run;
  Coefficients result(
      train_crammer_singer(run.run(), data.problem, data.param, 2, class_C.data(), svm_type));
  ASSERT_NE(result.values, nullptr);
  int support_rows = 0;
  for (int i = 0; i < 100; ++i) {
    const int y = static_cast<int>(data.problem.labels[i]);
    const double own = result.values[2 * i + y];
    const double other = result.values[2 * i + 1 - y];
    EXPECT_NEAR(own + other, 0.0, 1e-12 * (1 + own)) << "sample " << i;
    EXPECT_LE(other, 0.0) << "sample " << i;
    if (svm_type == spoc) {
      EXPECT_LE(own, 1.0) << "sample " << i;
    }
    if (own != 0 || other != 0) ++support_rows;
  }
  EXPECT_GT(support_rows, 0);
  EXPECT_LT(support_rows, 100);  // separable classes: most samples stay at zero
  EXPECT_NE(run.text().find("optimization finished"), std::string::npos);
}

// The cache only stores kernel values: the smallest cache (room for qpsize
// columns) must give the same coefficients, to the last bit, and the same
// progress output as a cache that holds the whole matrix.
TEST_P(TrainCrammerSinger, SmallCacheChangesNothing) {
  const int svm_type = GetParam();
  Data_set data("wine.all");
  data.param.kernel_type = rbf;
  const std::vector<double> class_C(data.nr_class, 2.0);

  Test_run run;
  Coefficients large(train_crammer_singer(run.run(), data.problem, data.param, data.nr_class,
                                          class_C.data(), svm_type));
  const std::string large_text = run.text();
  run.clear();
  data.param.cache_size = 0.0001;
  Coefficients small(train_crammer_singer(run.run(), data.problem, data.param, data.nr_class,
                                          class_C.data(), svm_type));
  const std::size_t count = static_cast<std::size_t>(data.problem.sample_count) * data.nr_class;
  EXPECT_EQ(std::memcmp(large.values, small.values, count * sizeof(double)), 0);
  EXPECT_EQ(run.text(), large_text);
}

// An all-zero sample under the linear kernel has no curvature. Its gradient
// never moves, so its coefficients are known: the cost C (2 C for spoc_l2)
// moved from its label to the first other class.
TEST_P(TrainCrammerSinger, ZeroSampleTakesTheLinearBranch) {
  const int svm_type = GetParam();
  Data_set data("iris.all");
  data.param.kernel_type = linear;
  // Give the last sample (class 2) no features.
  const int last = data.problem.sample_count - 1;
  data.problem.samples[last]->index = -1;
  const std::vector<double> class_C = {1.5, 1.5, 1.5};
  Test_run run;
  Coefficients result(
      train_crammer_singer(run.run(), data.problem, data.param, 3, class_C.data(), svm_type));
  const double moved = svm_type == spoc_l2 ? 3.0 : 1.5;
  EXPECT_EQ(result.values[3 * last + 0], -moved);
  EXPECT_EQ(result.values[3 * last + 1], 0.0);
  EXPECT_EQ(result.values[3 * last + 2], moved);
}

// One class: train_model still runs the routine, which reports a run that
// cannot move (each sample's one variable must sum to 0), as any run.
TEST_P(TrainCrammerSinger, SingleClassRunsTheRoutine) {
  Data_set data("iris.all");
  data.truncate(3);  // the first three samples, all of class 1
  data.param.svm_type = GetParam();
  for (int i = 0; i < 3; ++i) data.problem.labels[i] = 1;
  Test_run run;
  Model* model = train_model(&run.run(), &data.problem, &data.param);
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(run.text(), "*\noptimization finished, #iter = 0, obj = 0.000000\nnSV = 0, nFREE = 3\n"
                        "Total nSV = 0\n");
  EXPECT_EQ(model->nr_class, 1);
  EXPECT_EQ(model->total_sv, 0);
  destroy_model(&model);
}

// Per-class costs bound each class's own entries (spoc), and spoc_l2 lets
// them go beyond the cost.
TEST_P(TrainCrammerSinger, ClassCostsBoundTheLabelEntries) {
  const int svm_type = GetParam();
  Data_set data("glass.train");
  data.param.kernel_type = rbf;
  std::vector<double> class_C(data.nr_class);
  for (int c = 0; c < data.nr_class; ++c) class_C[c] = 0.25 * (c + 1);
  Test_run run;
  Coefficients result(train_crammer_singer(run.run(), data.problem, data.param, data.nr_class,
                                           class_C.data(), svm_type));
  int at_cost = 0;
  int beyond_cost = 0;
  for (int i = 0; i < data.problem.sample_count; ++i) {
    const int y = static_cast<int>(data.problem.labels[i]);
    const double own = result.values[static_cast<std::size_t>(i) * data.nr_class + y];
    if (svm_type == spoc) {
      EXPECT_LE(own, class_C[y]) << "sample " << i;
    }
    if (own == class_C[y]) ++at_cost;
    if (own > class_C[y]) ++beyond_cost;
  }
  if (svm_type == spoc) {
    EXPECT_GT(at_cost, 0);
  } else {
    EXPECT_GT(beyond_cost, 0);
  }
}

// Class indices beyond 16 bits stay exact: with 40001 classes, the samples
// of the last class keep their label entry in the last column.
TEST_P(TrainCrammerSinger, ManyClassesKeepTheirIndex) {
  const int svm_type = GetParam();
  const int nr_class = 40001;
  Data_set data("iris.all");
  data.truncate(4);
  data.param.kernel_type = rbf;
  const double class_index[4] = {0, nr_class - 1, 32768, nr_class - 1};
  for (int i = 0; i < 4; ++i) data.problem.labels[i] = class_index[i];
  const std::vector<double> class_C(nr_class, 1.0);
  Test_run run;
  Coefficients result(
      train_crammer_singer(run.run(), data.problem, data.param, nr_class, class_C.data(), svm_type));
  for (int i = 0; i < 4; ++i) {
    const int y = static_cast<int>(class_index[i]);
    const double* row = result.values + static_cast<std::size_t>(i) * nr_class;
    double sum = 0;
    for (int m = 0; m < nr_class; ++m) {
      if (m != y) {
        EXPECT_LE(row[m], 0.0) << "sample " << i << " class " << m;
      }
      sum += row[m];
    }
    EXPECT_GT(row[y], 0.0) << "sample " << i;
    // 40001 terms: rounding grows with the row's length.
    EXPECT_NEAR(sum, 0.0, 1e-6 * row[y]) << "sample " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(BothFormulations, TrainCrammerSinger, ::testing::Values(spoc, spoc_l2),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(svm_type_names[info.param]);
                         });

// ---------------------------------------------------------------------------
// Both tools end to end.

// The number after the last occurrence of key in text, or -1.
double number_after(const std::string& text, const std::string& key) {
  const std::size_t at = text.rfind(key);
  return at == std::string::npos ? -1 : std::atof(text.c_str() + at + key.size());
}

struct Tool_case {
  const char* name;
  const char* options;
  const char* train_file;
  const char* test_file;
  double min_accuracy;    // percent
};

void PrintTo(const Tool_case& c, std::ostream* os) { *os << c.name; }

class Tools : public ::testing::TestWithParam<Tool_case> {};

TEST_P(Tools, TrainAndPredict) {
  const Tool_case& c = GetParam();
  const std::string data = std::string(TEVRA_TEST_DATA_DIR) + "/";
  const std::string model = std::string(c.name) + ".model";
  Run_result r = run_train(std::string(c.options) + " '" + data + c.train_file + "' " + model);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("optimization finished"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Total nSV = "), std::string::npos) << r.out;
  const std::string model_text = read_file(work_path(model));
  const bool l2 = std::string(c.options).find("-s 4") != std::string::npos;
  EXPECT_EQ(model_text.rfind(l2 ? "svm_type spoc_l2\n" : "svm_type spoc\n", 0), 0u)
      << model_text.substr(0, 80);

  r = run_predict("'" + data + c.test_file + "' " + model + " out");
  ASSERT_EQ(r.status, 0) << r.err;
  const double accuracy = number_after(r.out, "Accuracy = ");
  EXPECT_GE(accuracy, c.min_accuracy) << r.out;
  int test_lines = 0;
  for (char ch : read_file(data + c.test_file)) test_lines += ch == '\n';
  int predictions = 0;
  for (char ch : read_file(work_path("out"))) predictions += ch == '\n';
  EXPECT_EQ(predictions, test_lines);
}

INSTANTIATE_TEST_SUITE_P(
    BothFormulations, Tools,
    ::testing::Values(Tool_case{"GlassSpoc", "-s 2", "glass.train", "glass.test", 60},
                      Tool_case{"GlassSpocL2", "-s 4", "glass.train", "glass.test", 60},
                      Tool_case{"GlassSpocLinear", "-s 2 -t 0 -c 10", "glass.train",
                                "glass.test", 50},
                      Tool_case{"GlassSpocL2Linear", "-s 4 -t 0 -c 10", "glass.train",
                                "glass.test", 50}),
    [](const ::testing::TestParamInfo<Tool_case>& info) { return std::string(info.param.name); });

// Cross-validation trains one model per fold through the same routine.
struct Cross_validation_case {
  const char* name;
  const char* options;
  const char* data_file;
  double min_accuracy;  // percent
};

void PrintTo(const Cross_validation_case& c, std::ostream* os) { *os << c.name; }

class CrossValidation : public ::testing::TestWithParam<Cross_validation_case> {};

TEST_P(CrossValidation, AccuracyOverFiveFolds) {
  const Cross_validation_case& c = GetParam();
  const Run_result r =
      run_train(std::string(c.options) + " -v 5 '" + TEVRA_TEST_DATA_DIR + "/" + c.data_file + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string& out = r.out;
  int folds = 0;
  for (std::size_t at = out.find("optimization finished"); at != std::string::npos;
       at = out.find("optimization finished", at + 1))
    ++folds;
  EXPECT_EQ(folds, 5) << out;
  EXPECT_GE(number_after(out, "Cross Validation Accuracy = "), c.min_accuracy) << out;
}

INSTANTIATE_TEST_SUITE_P(
    BothFormulations, CrossValidation,
    ::testing::Values(Cross_validation_case{"IrisSpoc", "-s 2", "iris.all", 90},
                      Cross_validation_case{"IrisSpocL2", "-s 4", "iris.all", 90},
                      Cross_validation_case{"WineSpoc", "-s 2", "wine.all", 90},
                      Cross_validation_case{"WineSpocL2", "-s 4", "wine.all", 90}),
    [](const ::testing::TestParamInfo<Cross_validation_case>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace tevra
