// train_single_multiclass and the kbb formulation end to end.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "learn/training_routines.h"
#include "multiclass_dual_reference.h"
#include "tests/tool_runner.h"
#include "tests/learn/test_run.h"

namespace tevra {
namespace {

class KbbTraining : public ::testing::Test {
 protected:
  testing_support::Test_run run;
  const std::string& captured = run.text();
};

Parameter kbb_parameter(int kernel_type) {
  Parameter param = default_parameter();
  param.svm_type = kbb;
  param.kernel_type = kernel_type;
  param.gamma = 0.5;
  param.eps = 1e-5;
  return param;
}

// The variables come back block by block (block j: every sample not of
// class j, class by class) and solve the dual of those blocks.
TEST_F(KbbTraining, ReturnsTheDualSolutionInBlocks) {
  const std::vector<int> sizes = {4, 6, 3};
  reference::Sample_set set = reference::clustered_samples(sizes, 3, 5);
  const Parameter param = kbb_parameter(rbf);
  const std::vector<double> class_C = {1, 0.4, 2};
  double* alpha =
      train_single_multiclass(run.run(), set.problem, param, 3, class_C.data(), sizes.data());
  ASSERT_NE(alpha, nullptr);

  const auto variables = reference::block_variables(sizes);
  ASSERT_EQ(variables.size(), 26u);  // (3 - 1) * 13
  const auto Q = reference::dual_matrix(set, variables, rbf, param.gamma);
  std::vector<double> upper;
  for (const auto& v : variables) upper.push_back(class_C[v.own]);
  const double best_f = reference::objective(Q, reference::solve(Q, -2.0, upper), -2.0);
  const std::vector<double> found(alpha, alpha + variables.size());
  const double f = reference::objective(Q, found, -2.0);
  EXPECT_NEAR(f, best_f, 1e-6 * std::fabs(best_f));

  // Progress: the solver's final line, then the objective and the counts,
  // taken per variable.
  int sv = 0, bsv = 0;
  for (size_t i = 0; i < variables.size(); ++i) {
    if (alpha[i] > 0) ++sv;
    if (alpha[i] >= upper[i]) ++bsv;
  }
  ASSERT_GT(bsv, 0);
  const size_t obj_at = captured.find("obj = ");
  ASSERT_NE(obj_at, std::string::npos) << captured;
  EXPECT_NE(captured.find("\noptimization finished, #iter = "), std::string::npos);
  EXPECT_LT(captured.find("\noptimization finished"), obj_at);
  char expected_tail[128];
  std::snprintf(expected_tail, sizeof expected_tail,
                "obj = %f, rho = 0.000000\nnSV = %d, nBSV = %d\n", f / 2, sv, bsv);
  EXPECT_EQ(captured.substr(obj_at), expected_tail);
  std::free(alpha);
}

// A single class has no competing class: no variable, no solver run.
TEST_F(KbbTraining, SingleClassGivesNoVariables) {
  const std::vector<int> sizes = {5};
  reference::Sample_set set = reference::clustered_samples(sizes, 2, 3);
  const Parameter param = kbb_parameter(rbf);
  const double class_C[] = {1};
  double* alpha = train_single_multiclass(run.run(), set.problem, param, 1, class_C, sizes.data());
  EXPECT_NE(alpha, nullptr);
  EXPECT_EQ(captured, "obj = 0.000000, rho = 0.000000\nnSV = 0, nBSV = 0\n");
  std::free(alpha);
}

// --- The tools with -s 1 ---

double number_after(const std::string& text, const std::string& key) {
  const size_t at = text.find(key);
  if (at == std::string::npos) return -1;
  return std::atof(text.c_str() + at + key.size());
}

struct Tool_case {
  const char* name;
  const char* train_options;
  const char* train_file;
  const char* test_file;
  double min_accuracy;  // percent
};
void PrintTo(const Tool_case& c, std::ostream* out) { *out << c.name; }

class KbbTools : public ::testing::TestWithParam<Tool_case> {};

TEST_P(KbbTools, TrainsAndPredictsWithSensibleAccuracy) {
  const Tool_case& c = GetParam();
  const std::string data = TEVRA_TEST_DATA_DIR;
  const std::string model = std::string(c.name) + ".model";
  const std::string predictions = std::string(c.name) + ".out";
  Run_result r = run_train(std::string("-s 1 ") + c.train_options + " " + data + "/" +
                           c.train_file + " " + model);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Total nSV = "), std::string::npos) << r.out << r.err;
  const std::string saved = read_file(work_path(model));
  EXPECT_EQ(saved.rfind("svm_type kbb\n", 0), 0u) << saved.substr(0, 200);

  r = run_predict(data + "/" + c.test_file + " " + model + " " + predictions);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const double accuracy = number_after(r.out, "Accuracy = ");
  EXPECT_GE(accuracy, c.min_accuracy) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Data, KbbTools,
    ::testing::Values(Tool_case{"glass_rbf", "-c 10", "glass.train", "glass.test", 60},
                      Tool_case{"glass_linear", "-t 0", "glass.train", "glass.test", 50},
                      Tool_case{"wine_rbf", "", "wine.all", "wine.all", 95}),
    [](const ::testing::TestParamInfo<Tool_case>& info) { return std::string(info.param.name); });

// Cross-validation trains one kbb model per fold through the same driver.
TEST(KbbCrossValidation, WineAccuracy) {
  const Run_result r = run_train("-s 1 -v 5 " TEVRA_TEST_DATA_DIR "/wine.all");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_GE(number_after(r.out, "Cross Validation Accuracy = "), 90) << r.out << r.err;
}

}  // namespace
}  // namespace tevra
