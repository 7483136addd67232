// train_single_multiclass and the kbb formulation end to end.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "learn/training_routines.h"
#include "multiclass_dual_reference.h"
#include "tools/common/progress.h"

namespace tevra {
namespace {

std::string captured;
void capture(const char* text) { captured += text; }

class KbbTraining : public ::testing::Test {
 protected:
  void SetUp() override {
    captured.clear();
    print_hook = capture;
  }
  void TearDown() override { print_hook = print_to_stdout; }
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
  double* alpha = train_single_multiclass(set.problem, param, 3, class_C.data(), sizes.data());
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
  double* alpha = train_single_multiclass(set.problem, param, 1, class_C, sizes.data());
  EXPECT_NE(alpha, nullptr);
  EXPECT_EQ(captured, "obj = 0.000000, rho = 0.000000\nnSV = 0, nBSV = 0\n");
  std::free(alpha);
}

}  // namespace
}  // namespace tevra
