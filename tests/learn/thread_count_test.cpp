// Training, cross-validation and prediction give the same bytes on one
// thread and on three, for every solver and both kinds of Q-matrix access.
// Every loop is split here however small its work, so that the fixtures'
// few hundred samples exercise the threaded paths.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "learn/parallel.h"
#include "learn/tevra.h"
#include "tests/learn/sample_sets.h"
#include "tests/learn/test_run.h"
#include "tests/tool_runner.h"
#include "tools/train/cross_validation.h"

namespace tevra {
namespace {

using testing_samples::read_samples;
using testing_samples::Sample_set;
using testing_support::Test_run;

struct Thread_case {
  const char* name;
  const char* data;  // file of tests/data
  int svm_type;
  int kernel_type;
  double C;
  double cache_size;  // MB; small values make the cache evict and mirror
  int shrinking;
  int qpsize;
  int folds;  // 0: train and predict; else cross-validate
};

std::ostream& operator<<(std::ostream& out, const Thread_case& c) { return out << c.name; }

// Progress text, model file and the bits of every prediction of one case
// (or the cross-validation output), as one string.
std::string outputs(const Thread_case& c, Sample_set& set) {
  Parameter param = default_parameter();
  param.svm_type = c.svm_type;
  param.kernel_type = c.kernel_type;
  param.C = c.C;
  param.gamma = 0.1;
  param.cache_size = c.cache_size;
  param.shrinking = c.shrinking;
  param.qpsize = c.qpsize;
  Problem problem = set.problem();
  Test_run run;
  std::string text;
  if (c.folds > 0) {
    std::srand(1);  // the unseeded state: the same folds on both sides
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(cross_validate(&run.run(), &problem, param, c.folds));
    text = ::testing::internal::GetCapturedStdout();
    return run.text() + text;
  }
  Model* model = train_model(&run.run(), &problem, &param);
  if (model == nullptr) return "training failed";
  const std::string path = work_dir() + "/" + c.name + ".model";
  EXPECT_EQ(save_model_file(path.c_str(), model), 0);
  text = run.text() + read_file(path);
  for (int i = 0; i < problem.sample_count; ++i) {
    char bits[32];
    std::snprintf(bits, sizeof bits, "%a\n", predict_value(model, problem.samples[i]));
    text += bits;
  }
  destroy_model(&model);
  return text;
}

class Thread_count_test : public ::testing::TestWithParam<Thread_case> {};

TEST_P(Thread_count_test, ThreeThreadsGiveTheBytesOfOne) {
  const Thread_case& c = GetParam();
  std::string one, three;
  {
    Sample_set set = read_samples(c.data);
    Split_every_loop split(1);
    one = outputs(c, set);
  }
  {
    Sample_set set = read_samples(c.data);
    Split_every_loop split(3);
    three = outputs(c, set);
  }
  ASSERT_GT(one.size(), 100u);
  EXPECT_TRUE(one == three) << "first difference at byte "
                            << std::mismatch(one.begin(), one.end(), three.begin()).first -
                                   one.begin();
}

INSTANTIATE_TEST_SUITE_P(
    EverySolver, Thread_count_test,
    ::testing::Values(
        // Solver_B over BSVC_Q: cached columns, then a cache that evicts.
        Thread_case{"c_svc_rbf", "breast_cancer.train", c_svc, rbf, 4, 100, 1, 10, 0},
        Thread_case{"c_svc_rbf_small_cache", "glass.train", c_svc, rbf, 10, 0.01, 1, 6, 0},
        Thread_case{"c_svc_poly_noshrink", "wine.all", c_svc, polynomial, 1, 100, 0, 10, 0},
        // Solver_B over BSVR_Q.
        Thread_case{"epsilon_svr_rbf", "diabetes.train", epsilon_svr, rbf, 10, 0.05, 1, 8, 0},
        // Solver_B_linear, with and without shrinking.
        Thread_case{"c_svc_linear", "breast_cancer.train", c_svc, linear, 8, 100, 1, 10, 0},
        Thread_case{"epsilon_svr_linear", "diabetes.train", epsilon_svr, linear, 4, 100, 0, 10, 0},
        // Solver_MB over BONE_CLASS_Q.
        Thread_case{"kbb_rbf", "glass.train", kbb, rbf, 10, 100, 1, 10, 0},
        Thread_case{"kbb_sigmoid_small_cache", "iris.all", kbb, sigmoid, 1, 0.01, 1, 4, 0},
        // Solver_CS over ONE_CLASS_Q.
        Thread_case{"spoc_rbf", "glass.train", spoc, rbf, 10, 0.02, 1, 10, 0},
        Thread_case{"spoc_l2_linear", "wine.all", spoc_l2, linear, 1, 100, 0, 10, 0},
        // Cross-validation: training and the held-out predictions.
        Thread_case{"cv_c_svc", "wine.all", c_svc, rbf, 1, 100, 1, 10, 4},
        Thread_case{"cv_epsilon_svr", "diabetes.train", epsilon_svr, rbf, 1, 100, 1, 10, 3}),
    [](const ::testing::TestParamInfo<Thread_case>& info) { return info.param.name; });

}  // namespace
}  // namespace tevra
