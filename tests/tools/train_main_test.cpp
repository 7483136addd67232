// The entry sequence of tevra-train, run as a separate process.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "gtest/gtest.h"
#include "tests/tool_runner.h"

namespace tevra {
namespace {

const std::string iris = "'" TEVRA_TEST_DATA_DIR "/iris.all'";

TEST(TrainMain, UsageTextOnStandardOutput) {
  const Run_result r = run_train("");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "Usage: tevra-train [options] training_set_file [model_file]\n"
            "options:\n"
            "-s svm_type : set type of SVM (default 0)\n"
            "\t0 -- multi-class bound-constrained support vector classification (SVC)\n"
            "\t1 -- multi-class SVC using a single bound-constrained problem\n"
            "\t2 -- L1-loss multi-class SVC from Crammer and Singer\n"
            "\t3 -- bound-constrained support vector regression\n"
            "\t4 -- L2-loss multi-class SVC extended from Crammer and Singer\n"
            "-t kernel_type : set type of kernel function (default 2)\n"
            "\t0 -- linear: u'*v\n"
            "\t1 -- polynomial: (gamma*u'*v + coef0)^degree\n"
            "\t2 -- radial basis function: exp(-gamma*|u-v|^2)\n"
            "\t3 -- sigmoid: tanh(gamma*u'*v + coef0)\n"
            "\t4 -- precomputed kernel (kernel values in training_set_file)\n"
            "-d degree : set degree in kernel function (default 3)\n"
            "-g gamma : set gamma in kernel function (default 1/k)\n"
            "-r coef0 : set coef0 in kernel function (default 0)\n"
            "-c cost : set the parameter C of support vector machine (default 1)\n"
            "-p epsilon : set the epsilon in loss function of support vector regression (default 0.1)\n"
            "-m cachesize : set cache memory size in MB (default 100) (useless for -t 0)\n"
            "-e epsilon : set tolerance of termination criterion (default 0.001)\n"
            "-h shrinking : whether to use the shrinking heuristics, 0 or 1 (default 1)\n"
            "-b cost0 : set the beginning cost value of alpha seeding for -t 0 -s 0 and 3 (default 1)\n"
            "-i step : set the step value of alpha seeding for -t 0 -s 0 and 3 (default 2)\n"
            "\t\tcost0, cost0*step, cost0*step^2, ..., cost.\n"
            "-q qpsize : set the sub-problem size for -s 0,1 and 3\n"
            "-a algorithm : set the solver (default 0)\n"
            "\t0 -- decomposition\n"
            "\t1 -- dual coordinate descent, for -t 0 with -s 0, 2, 3 and 4; it stops, as 0 does,\n"
            "\t\twhen no optimality condition is violated by epsilon (-e) or more\n"
            "-wi weight: set the parameter C of class i to weight*C, for classification problem (default 1)\n"
            "-v n: n-fold cross validation mode\n");
}

struct Failure_case {
  const char* name;
  std::string arguments;
  std::string err;
  bool usage;               // whether the usage text follows on standard output
  const char* file_bytes = nullptr;  // if set: a training file written and named last
};

class TrainMainFailures : public testing::TestWithParam<Failure_case> {};

TEST_P(TrainMainFailures, OneMessageAndStatusOne) {
  std::string arguments = GetParam().arguments;
  if (GetParam().file_bytes != nullptr)
    arguments += " '" + write_work_file("train.txt", GetParam().file_bytes) + "'";
  const Run_result r = run_train(arguments);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, GetParam().err);
  EXPECT_EQ(r.out.rfind("Usage: tevra-train", 0) == 0, GetParam().usage) << r.out;
  if (!GetParam().usage) {
    EXPECT_EQ(r.out, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrainMainFailures,
    testing::Values(
        Failure_case{"OnlyOptions", "-c 2", "", true},
        Failure_case{"FoldsBelowTwo", "-v 1 " + iris, "n-fold cross validation: n must >= 2\n",
                     true},
        Failure_case{"UnknownOption", "-x 5 " + iris, "unknown option\n", true},
        Failure_case{"MissingFile", "no_such_file", "can't open input file no_such_file\n",
                     false},
        Failure_case{"CostNotANumber", "-c abc " + iris, "Error: C <= 0\n", false},
        Failure_case{"CostNan", "-c nan " + iris, "Error: C is not a finite number\n", false},
        Failure_case{"EpsInf", "-e inf " + iris, "Error: eps is not a finite number\n", false},
        Failure_case{"CacheNan", "-m nan " + iris, "Error: cache_size is not a finite number\n",
                     false},
        Failure_case{"RegressionQpsize", "-s 3 -q 1 " + iris, "Error: qpsize < 2\n", false},
        Failure_case{"HugeQpsize", "-q 99999999999 " + iris,
                     "Error: qpsize too large: the qpsize x qpsize sub-problem matrix cannot be "
                     "held\n",
                     false},
        Failure_case{"NegativeWeight", "-w1 -1 " + iris, "Error: weight < 0\n", false},
        Failure_case{"ZeroWeightSpocL2", "-s 4 -w1 0 " + iris,
                     "Error: weight gives a class cost of 0, which spoc_l2 cannot train (it "
                     "divides by the class cost)\n",
                     false},
        Failure_case{"ZeroWeightLinear", "-t 0 -w2 0 " + iris,
                     "Error: weight gives a class cost of 0, which c_svc with the linear kernel "
                     "cannot train (alpha seeding divides by the class cost)\n",
                     false},
        Failure_case{"CrammerSingerHugeCost", "-s 2 -c 4e15 " + iris,
                     "Error: a class cost is above 1e+11, where the Crammer and Singer solver "
                     "loses its accuracy\n",
                     false},
        Failure_case{"SpocL2SubnormalCost", "-s 4 -c 1e-309 " + iris,
                     "Error: a class cost is too small or too large for spoc_l2 (0.5 / cost or 2 "
                     "* cost is not a finite number)\n",
                     false},
        Failure_case{"ReaderBeforeValidation", "-c 0", "Wrong input format at line 3\n", false,
                     "1 1:1\n1 x\n2 :1\n"},
        Failure_case{"EmptyTrainingSet", "", "Error: no training data\n", false, ""},
        Failure_case{"EmptyTrainingSetCrossValidation", "-v 2", "Error: no training data\n",
                     false, ""}),
    [](const testing::TestParamInfo<Failure_case>& info) { return info.param.name; });

// A weight applies only to a class that exists: one for a label no class
// bears gives the warning and is otherwise ignored, whatever its value, and
// regression ignores weights altogether.
struct Ignored_weight_case {
  const char* name;
  std::string options;
  std::string err;
};

class IgnoredWeights : public testing::TestWithParam<Ignored_weight_case> {};

TEST_P(IgnoredWeights, TrainAModel) {
  const std::string model = work_path("pm.model");
  std::remove(model.c_str());
  write_work_file("pm.txt", "1 1:1\n-1 1:-1\n1 1:2\n");
  const Run_result r = run_train(GetParam().options + " pm.txt pm.model");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, GetParam().err);
  EXPECT_TRUE(file_exists(model));
}

const char* const absent_5 = "warning: class label 5 specified in weight is not found\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, IgnoredWeights,
    testing::Values(Ignored_weight_case{"ZeroForAbsentLabel", "-w5 0", absent_5},
                    Ignored_weight_case{"NegativeForAbsentLabel", "-w5 -1", absent_5},
                    Ignored_weight_case{"OverflowingForAbsentLabel", "-c 1e300 -w5 1e10", absent_5},
                    Ignored_weight_case{"ZeroForAbsentLabelSpocL2", "-s 4 -w5 0", absent_5},
                    Ignored_weight_case{"RegressionNegative", "-s 3 -w1 -1", ""},
                    Ignored_weight_case{"RegressionNan", "-s 3 -w1 nan", ""}),
    [](const testing::TestParamInfo<Ignored_weight_case>& info) { return info.param.name; });

TEST(TrainMain, NoModelFileAfterAFailure) {
  const std::string model = work_dir() + "/empty2.txt.model";
  std::remove(model.c_str());
  EXPECT_EQ(run_train("'" + write_work_file("empty2.txt", "") + "'").status, 1);
  EXPECT_FALSE(std::ifstream(model).good());
}

}  // namespace
}  // namespace tevra
