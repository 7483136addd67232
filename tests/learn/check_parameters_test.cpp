#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "learn/tevra.h"

namespace tevra {
namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();
constexpr double inf_value = std::numeric_limits<double>::infinity();

// One training sample, so that the "no training data" rule stays quiet.
struct One_sample_problem {
  One_sample_problem() : problem{1, 1, &label, &sample} {}
  double label = 1;
  Node nodes[2] = {{1, 1.0}, {-1, 0.0}};
  Node* sample = nodes;
  Problem problem;
};

// A parameter change and the message it must produce (null: accepted).
struct Rule_case {
  const char* name;
  std::function<void(Parameter*)> change;
  const char* message;
};

class CheckParameters : public testing::TestWithParam<Rule_case> {};

TEST_P(CheckParameters, FirstBrokenRuleDecides) {
  One_sample_problem data;
  Parameter param = default_parameter();
  GetParam().change(&param);
  const char* message = check_parameters(&data.problem, &param);
  if (GetParam().message == nullptr) {
    EXPECT_EQ(message, nullptr) << message;
  } else {
    ASSERT_NE(message, nullptr);
    EXPECT_STREQ(message, GetParam().message);
  }
}

std::string case_name(const testing::TestParamInfo<Rule_case>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Rules, CheckParameters,
    testing::Values(
        Rule_case{"Defaults", [](Parameter*) {}, nullptr},
        Rule_case{"SvmTypeBeforeKernelType",
                  [](Parameter* p) {
                    p->svm_type = 5;
                    p->kernel_type = -1;
                  },
                  "unknown svm type"},
        Rule_case{"NegativeSvmType", [](Parameter* p) { p->svm_type = -1; }, "unknown svm type"},
        Rule_case{"KernelType", [](Parameter* p) { p->kernel_type = -1; }, "unknown kernel type"},
        Rule_case{"KernelTypeFive", [](Parameter* p) { p->kernel_type = 5; },
                  "unknown kernel type"},
        Rule_case{"GammaZeroPasses", [](Parameter* p) { p->gamma = 0; }, nullptr},
        Rule_case{"GammaNegative", [](Parameter* p) { p->gamma = -0.1; }, "gamma < 0"},
        Rule_case{"DegreeWithRbf", [](Parameter* p) { p->degree = -1; },
                  "degree of polynomial kernel < 0"},
        Rule_case{"CacheZeroWithRbf", [](Parameter* p) { p->cache_size = 0; }, "cache_size <= 0"},
        Rule_case{"CacheZeroWithLinearPasses",
                  [](Parameter* p) {
                    p->kernel_type = linear;
                    p->cache_size = 0;
                  },
                  nullptr},
        Rule_case{"EpsZero", [](Parameter* p) { p->eps = 0; }, "eps <= 0"},
        Rule_case{"CZero", [](Parameter* p) { p->C = 0; }, "C <= 0"},
        Rule_case{"CMinusInfinity", [](Parameter* p) { p->C = -inf_value; }, "C <= 0"},
        Rule_case{"PNegativeForRegression",
                  [](Parameter* p) {
                    p->svm_type = epsilon_svr;
                    p->p = -0.5;
                  },
                  "p < 0"},
        Rule_case{"PNegativeForClassificationPasses", [](Parameter* p) { p->p = -0.5; }, nullptr},
        Rule_case{"Shrinking", [](Parameter* p) { p->shrinking = 2; },
                  "shrinking != 0 and shrinking != 1"},
        Rule_case{"ShrinkingOffPasses", [](Parameter* p) { p->shrinking = 0; }, nullptr},
        Rule_case{"QpsizeTwoPasses", [](Parameter* p) { p->qpsize = 2; }, nullptr},
        Rule_case{"QpsizeOneCSvc", [](Parameter* p) { p->qpsize = 1; }, "qpsize < 2"},
        Rule_case{"QpsizeOneKbb",
                  [](Parameter* p) {
                    p->svm_type = kbb;
                    p->qpsize = 1;
                  },
                  "qpsize < 2"},
        Rule_case{"QpsizeOneSpoc",
                  [](Parameter* p) {
                    p->svm_type = spoc;
                    p->qpsize = 1;
                  },
                  "qpsize < 2"},
        Rule_case{"QpsizeOneSpocL2",
                  [](Parameter* p) {
                    p->svm_type = spoc_l2;
                    p->qpsize = 1;
                  },
                  "qpsize < 2"},
        // Regression divides by qpsize as well.
        Rule_case{"QpsizeOneRegression",
                  [](Parameter* p) {
                    p->svm_type = epsilon_svr;
                    p->qpsize = 1;
                  },
                  "qpsize < 2"},
        Rule_case{"QpsizeZeroRegression",
                  [](Parameter* p) {
                    p->svm_type = epsilon_svr;
                    p->qpsize = 0;
                  },
                  "qpsize < 2"},
        Rule_case{"CbeginWithLinear",
                  [](Parameter* p) {
                    p->kernel_type = linear;
                    p->Cbegin = 0;
                  },
                  "Cbegin <= 0"},
        Rule_case{"CbeginWithLinearSpoc",
                  [](Parameter* p) {
                    p->svm_type = spoc;
                    p->kernel_type = linear;
                    p->Cbegin = 0;
                  },
                  "Cbegin <= 0"},
        Rule_case{"CbeginWithRbfPasses", [](Parameter* p) { p->Cbegin = 0; }, nullptr},
        Rule_case{"CstepWithLinearKbb",
                  [](Parameter* p) {
                    p->svm_type = kbb;
                    p->kernel_type = linear;
                    p->Cstep = 1;
                  },
                  "Cstep <= 1"},
        Rule_case{"CstepWithPolynomialPasses",
                  [](Parameter* p) {
                    p->kernel_type = polynomial;
                    p->Cstep = 1;
                  },
                  nullptr},
        // The earlier rule wins whatever the later ones say.
        Rule_case{"GammaBeforeC",
                  [](Parameter* p) {
                    p->gamma = -1;
                    p->C = 0;
                    p->qpsize = 0;
                  },
                  "gamma < 0"},
        Rule_case{"QpsizeBeforeCstep",
                  [](Parameter* p) {
                    p->kernel_type = linear;
                    p->qpsize = 0;
                    p->Cstep = 0.5;
                  },
                  "qpsize < 2"}),
    case_name);

// Values that are not finite pass the comparisons of the rules above (NaN
// fails every comparison) and are refused after them.
INSTANTIATE_TEST_SUITE_P(
    NotFinite, CheckParameters,
    testing::Values(
        Rule_case{"GammaNan", [](Parameter* p) { p->gamma = nan_value; },
                  "gamma is not a finite number"},
        Rule_case{"GammaInf", [](Parameter* p) { p->gamma = inf_value; },
                  "gamma is not a finite number"},
        Rule_case{"Coef0MinusInf", [](Parameter* p) { p->coef0 = -inf_value; },
                  "coef0 is not a finite number"},
        Rule_case{"CacheNan", [](Parameter* p) { p->cache_size = nan_value; },
                  "cache_size is not a finite number"},
        Rule_case{"EpsInf", [](Parameter* p) { p->eps = inf_value; },
                  "eps is not a finite number"},
        Rule_case{"CNan", [](Parameter* p) { p->C = nan_value; }, "C is not a finite number"},
        Rule_case{"CInf", [](Parameter* p) { p->C = inf_value; }, "C is not a finite number"},
        Rule_case{"PNan", [](Parameter* p) { p->p = nan_value; }, "p is not a finite number"},
        Rule_case{"CbeginNan",
                  [](Parameter* p) {
                    p->kernel_type = linear;
                    p->Cbegin = nan_value;
                  },
                  "Cbegin is not a finite number"},
        Rule_case{"CstepInf", [](Parameter* p) { p->Cstep = inf_value; },
                  "Cstep is not a finite number"},
        // A finite broken rule still reports its own message first.
        Rule_case{"RuleBeforeNotFinite",
                  [](Parameter* p) {
                    p->C = nan_value;
                    p->shrinking = 3;
                  },
                  "shrinking != 0 and shrinking != 1"}),
    case_name);

// -a 1 works on an explicit weight vector: the linear kernel only, and
// every formulation but kbb.
INSTANTIATE_TEST_SUITE_P(
    Algorithm, CheckParameters,
    testing::Values(
        Rule_case{"UnknownAlgorithm", [](Parameter* p) { p->algorithm = 2; },
                  "unknown algorithm (-a takes 0 or 1)"},
        Rule_case{"NegativeAlgorithm", [](Parameter* p) { p->algorithm = -1; },
                  "unknown algorithm (-a takes 0 or 1)"},
        Rule_case{"CoordinateDescentNeedsLinear", [](Parameter* p) { p->algorithm = 1; },
                  "-a 1 needs the linear kernel"},
        Rule_case{"CoordinateDescentPrecomputed",
                  [](Parameter* p) {
                    p->algorithm = 1;
                    p->kernel_type = precomputed;
                  },
                  "-a 1 needs the linear kernel"},
        Rule_case{"CoordinateDescentKbb",
                  [](Parameter* p) {
                    p->algorithm = 1;
                    p->kernel_type = linear;
                    p->svm_type = kbb;
                  },
                  "-a 1 is not available for kbb (-s 1); use -a 0"},
        Rule_case{"CoordinateDescentLinearPasses",
                  [](Parameter* p) {
                    p->algorithm = 1;
                    p->kernel_type = linear;
                  },
                  nullptr},
        Rule_case{"CoordinateDescentSpocL2Passes",
                  [](Parameter* p) {
                    p->algorithm = 1;
                    p->kernel_type = linear;
                    p->svm_type = spoc_l2;
                  },
                  nullptr},
        Rule_case{"BasicRulesFirst",
                  [](Parameter* p) {
                    p->algorithm = 1;
                    p->C = 0;
                  },
                  "C <= 0"}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Qpsize, CheckParameters,
    testing::Values(Rule_case{"LargestHeld", [](Parameter* p) { p->qpsize = 46340; }, nullptr},
                    Rule_case{"TooLarge", [](Parameter* p) { p->qpsize = 46341; },
                              "qpsize too large: the qpsize x qpsize sub-problem matrix cannot "
                              "be held"},
                    Rule_case{"LargestInt",
                              [](Parameter* p) {
                                p->svm_type = epsilon_svr;
                                p->qpsize = 2147483647;
                              },
                              "qpsize too large: the qpsize x qpsize sub-problem matrix cannot "
                              "be held"}),
    case_name);

// Sets the weight entries of a parameter; the arrays are released by the
// test through release_parameter.
void set_weights(Parameter* p, std::vector<int> labels, std::vector<double> weights) {
  p->weight_count = static_cast<int>(labels.size());
  p->weight_labels = static_cast<int*>(std::malloc(sizeof(int) * labels.size()));
  p->weights = static_cast<double*>(std::malloc(sizeof(double) * weights.size()));
  for (size_t i = 0; i < labels.size(); ++i) {
    p->weight_labels[i] = labels[i];
    p->weights[i] = weights[i];
  }
}

struct Weight_case {
  const char* name;
  int svm_type;
  int kernel_type;
  std::vector<int> labels;
  std::vector<double> weights;
  const char* message;
  double C = 1;
  double Cbegin = 1;
};

// Three samples of the classes 1, 2 and 3, in this order; no class bears
// the label 5.
struct Three_class_problem {
  Three_class_problem() : problem{3, 1, labels, samples} {}
  double labels[3] = {1, 2, 3.5};
  Node nodes[2] = {{1, 1.0}, {-1, 0.0}};
  Node* samples[3] = {nodes, nodes, nodes};
  Problem problem;
};

class WeightRules : public testing::TestWithParam<Weight_case> {};

TEST_P(WeightRules, RefusedOnlyWhereTheyCannotBeTrained) {
  const Weight_case& c = GetParam();
  Three_class_problem data;
  Parameter param = default_parameter();
  param.svm_type = c.svm_type;
  param.kernel_type = c.kernel_type;
  param.C = c.C;
  param.Cbegin = c.Cbegin;
  set_weights(&param, c.labels, c.weights);
  const char* message = check_parameters(&data.problem, &param);
  if (c.message == nullptr) {
    EXPECT_EQ(message, nullptr) << message;
  } else {
    ASSERT_NE(message, nullptr);
    EXPECT_STREQ(message, c.message);
  }
  release_parameter(&param);
}

const char* const negative = "weight < 0";
const char* const zero_spoc_l2 =
    "weight gives a class cost of 0, which spoc_l2 cannot train (it divides by the class cost)";
const char* const zero_linear =
    "weight gives a class cost of 0, which c_svc with the linear kernel cannot train (alpha "
    "seeding divides by the class cost)";

const char* const spoc_l2_range =
    "a class cost is too small or too large for spoc_l2 (0.5 / cost or 2 * cost is not a finite "
    "number)";
const char* const crammer_singer_limit =
    "a class cost is above 1e+11, where the Crammer and Singer solver loses its accuracy";
const char* const seeding_range =
    "class costs too far apart for alpha seeding (Cbegin * C_neg / C_pos is not a finite number)";

INSTANTIATE_TEST_SUITE_P(
    Cases, WeightRules,
    testing::Values(
        Weight_case{"PositivePasses", c_svc, rbf, {1, 2}, {0.5, 4}, nullptr},
        Weight_case{"NegativeCSvc", c_svc, rbf, {1}, {-1}, negative},
        Weight_case{"NegativeKbb", kbb, rbf, {1}, {-1}, negative},
        Weight_case{"NegativeSpoc", spoc, rbf, {1}, {-1}, negative},
        Weight_case{"NegativeSpocL2", spoc_l2, rbf, {1}, {-1}, negative},
        // Regression has no classes and ignores every weight.
        Weight_case{"RegressionIgnoresNegative", epsilon_svr, rbf, {1}, {-1}, nullptr},
        Weight_case{"RegressionIgnoresNan", epsilon_svr, rbf, {1}, {nan_value}, nullptr},
        Weight_case{"NegativeAfterPositive", c_svc, rbf, {1, 2}, {2, -0.5}, negative},
        Weight_case{"NanWeight", c_svc, rbf, {1}, {nan_value}, "weight is not a finite number"},
        Weight_case{"InfWeight", kbb, rbf, {1}, {inf_value}, "weight is not a finite number"},
        Weight_case{"ZeroCSvcRbfPasses", c_svc, rbf, {1}, {0}, nullptr},
        Weight_case{"ZeroKbbPasses", kbb, rbf, {1}, {0}, nullptr},
        Weight_case{"ZeroSpocPasses", spoc, rbf, {1}, {0}, nullptr},
        Weight_case{"ZeroKbbLinearPasses", kbb, linear, {1}, {0}, nullptr},
        Weight_case{"ZeroRegressionLinearPasses", epsilon_svr, linear, {1}, {0}, nullptr},
        Weight_case{"ZeroSpocL2", spoc_l2, rbf, {1}, {0}, zero_spoc_l2},
        Weight_case{"ZeroCSvcLinear", c_svc, linear, {1}, {0}, zero_linear},
        Weight_case{"ZeroAmongRepeats", spoc_l2, rbf, {3, 3}, {2, 0}, zero_spoc_l2},
        // The class cost is C times the factors in turn: it may underflow
        // to 0 or overflow although every factor is fine.
        Weight_case{"ProductUnderflows", spoc_l2, rbf, {1, 1}, {1e-200, 1e-200}, zero_spoc_l2},
        Weight_case{"ProductOverflows", c_svc, rbf, {1, 1}, {1e200, 1e200},
                    "C times weight is not a finite number"},
        Weight_case{"FactorsOfDifferentLabelsDoNotMultiply", c_svc, rbf, {1, 2},
                    {1e200, 1e200}, nullptr},
        // A weight for a label no class bears is ignored, whatever it is.
        Weight_case{"AbsentLabelZero", spoc_l2, rbf, {5}, {0}, nullptr},
        Weight_case{"AbsentLabelNegative", c_svc, rbf, {5}, {-1}, nullptr},
        Weight_case{"AbsentLabelNan", kbb, rbf, {5}, {nan_value}, nullptr},
        Weight_case{"AbsentLabelOverflows", c_svc, rbf, {5}, {1e10}, nullptr, 1e300},
        // Class labels are truncated: 3.5 is the class 3.
        Weight_case{"TruncatedLabelExists", c_svc, rbf, {3}, {-1}, negative},
        // spoc_l2 derives 0.5 / C and 2 * C from every class cost.
        Weight_case{"SpocL2CostSubnormal", spoc_l2, rbf, {}, {}, spoc_l2_range, 1e-309},
        Weight_case{"SpocL2WeightGivesSubnormalCost", spoc_l2, rbf, {2}, {1e-309}, spoc_l2_range},
        Weight_case{"SpocL2CostDoubleOverflows", spoc_l2, rbf, {}, {}, spoc_l2_range, 1e308},
        Weight_case{"SpocL2SmallCostPasses", spoc_l2, rbf, {}, {}, nullptr, 1e-300},
        // Beyond 1e11 the Crammer and Singer update loses its accuracy.
        Weight_case{"SpocAtCostLimitPasses", spoc, rbf, {}, {}, nullptr, 1e11},
        Weight_case{"SpocAboveCostLimit", spoc, rbf, {}, {}, crammer_singer_limit, 1.0000000000000002e11},
        Weight_case{"SpocL2WeightAboveCostLimit", spoc_l2, rbf, {1}, {2e6}, crammer_singer_limit, 1e6},
        Weight_case{"KbbLargeCostPasses", kbb, rbf, {}, {}, nullptr, 1e300},
        // Seeding starts the negative class of a pair at Cbegin * C_neg / C_pos.
        Weight_case{"SeedingRatioOverflows", c_svc, linear, {1, 2}, {1e11, 1e300}, seeding_range, 1,
                    1e10},
        Weight_case{"SeedingRatioOfPairOrderPasses", c_svc, linear, {1, 2}, {1e300, 1e11}, nullptr,
                    1, 1e10},
        Weight_case{"NoSeedingNoRatio", c_svc, linear, {1, 2}, {1e9, 1e300}, nullptr, 1, 1e10}),
    [](const testing::TestParamInfo<Weight_case>& info) { return info.param.name; });

// The linear path's weight vector has the slots 0 .. max_index, the bias at
// max_index + 1 and a padding entry after it, all indexed by int.
TEST(CheckParametersProblem, LinearWeightVectorMustFitIntIndices) {
  const char* const too_large =
      "feature index too large for the weight vector of the linear kernel (2147483645 at most)";
  struct Case {
    int svm_type, kernel_type, max_index;
    const char* message;
    int algorithm = 0;
  } cases[] = {{c_svc, linear, 2147483645, nullptr},      {c_svc, linear, 2147483646, too_large},
               {epsilon_svr, linear, 2147483646, too_large}, {c_svc, linear, 2147483647, too_large},
               {c_svc, rbf, 2147483647, nullptr},         {kbb, linear, 2147483647, nullptr},
               {spoc, linear, 2147483646, too_large, 1},  {spoc, linear, 2147483646, nullptr, 0}};
  for (const Case& c : cases) {
    One_sample_problem data;
    data.problem.max_index = c.max_index;
    Parameter param = default_parameter();
    param.svm_type = c.svm_type;
    param.kernel_type = c.kernel_type;
    param.algorithm = c.algorithm;
    const char* message = check_parameters(&data.problem, &param);
    if (c.message == nullptr) {
      EXPECT_EQ(message, nullptr) << c.max_index << ": " << message;
    } else {
      EXPECT_STREQ(message, c.message) << c.max_index;
    }
  }
}

TEST(CheckParametersProblem, EmptyTrainingSetRefused) {
  Parameter param = default_parameter();
  Problem empty{0, 0, nullptr, nullptr};
  EXPECT_STREQ(check_parameters(&empty, &param), "no training data");
}

TEST(CheckParametersProblem, ParameterRulesComeFirst) {
  Parameter param = default_parameter();
  param.C = -1;
  Problem empty{0, 0, nullptr, nullptr};
  EXPECT_STREQ(check_parameters(&empty, &param), "C <= 0");
}

}  // namespace
}  // namespace tevra
