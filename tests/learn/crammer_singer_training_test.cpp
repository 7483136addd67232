#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "learn/tevra.h"
#include "learn/training_routines.h"
#include "tools/common/progress.h"
#include "tools/train/training_reader.h"

namespace tevra {
namespace {

// Collects what the solver prints.
struct Output_capture {
  Output_capture() {
    text().clear();
    print_hook = [](const char* s) { text() += s; };
  }
  ~Output_capture() { print_hook = print_to_stdout; }
  static std::string& text() {
    static std::string collected;
    return collected;
  }
};

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
  Output_capture capture;
  Coefficients result(
      train_crammer_singer(data.problem, data.param, 2, class_C.data(), svm_type));
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
  EXPECT_NE(Output_capture::text().find("optimization finished"), std::string::npos);
}

// The cache only stores kernel values: the smallest cache (room for qpsize
// columns) must give the same coefficients, to the last bit, and the same
// progress output as a cache that holds the whole matrix.
TEST_P(TrainCrammerSinger, SmallCacheChangesNothing) {
  const int svm_type = GetParam();
  Data_set data("wine.all");
  data.param.kernel_type = rbf;
  const std::vector<double> class_C(data.nr_class, 2.0);

  Output_capture capture;
  Coefficients large(train_crammer_singer(data.problem, data.param, data.nr_class,
                                          class_C.data(), svm_type));
  const std::string large_text = Output_capture::text();
  Output_capture::text().clear();
  data.param.cache_size = 0.0001;
  Coefficients small(train_crammer_singer(data.problem, data.param, data.nr_class,
                                          class_C.data(), svm_type));
  const std::size_t count = static_cast<std::size_t>(data.problem.sample_count) * data.nr_class;
  EXPECT_EQ(std::memcmp(large.values, small.values, count * sizeof(double)), 0);
  EXPECT_EQ(Output_capture::text(), large_text);
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
  Output_capture capture;
  Coefficients result(
      train_crammer_singer(data.problem, data.param, 3, class_C.data(), svm_type));
  const double moved = svm_type == spoc_l2 ? 3.0 : 1.5;
  EXPECT_EQ(result.values[3 * last + 0], -moved);
  EXPECT_EQ(result.values[3 * last + 1], 0.0);
  EXPECT_EQ(result.values[3 * last + 2], moved);
}

// Per-class costs bound each class's own entries (spoc), and spoc_l2 lets
// them go beyond the cost.
TEST_P(TrainCrammerSinger, ClassCostsBoundTheLabelEntries) {
  const int svm_type = GetParam();
  Data_set data("glass.train");
  data.param.kernel_type = rbf;
  std::vector<double> class_C(data.nr_class);
  for (int c = 0; c < data.nr_class; ++c) class_C[c] = 0.25 * (c + 1);
  Output_capture capture;
  Coefficients result(train_crammer_singer(data.problem, data.param, data.nr_class,
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

INSTANTIATE_TEST_SUITE_P(BothFormulations, TrainCrammerSinger, ::testing::Values(spoc, spoc_l2),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(svm_type_names[info.param]);
                         });

}  // namespace
}  // namespace tevra
