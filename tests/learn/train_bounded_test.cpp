#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <random>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "learn/alpha_seeding.h"
#include "learn/kernel.h"
#include "learn/solver_b_linear.h"
#include "learn/train_bounded.h"
#include "learn/training_routines.h"
#include "tests/learn/solver_test_support.h"

namespace tevra {
namespace {

using testing_support::Test_run;

// --- Seeding schedule ---------------------------------------------------------

struct Seeding_case {
  const char* name;
  double C_pos;
  double C_neg;
  double c_pos;  // starting costs
  double c_neg;
  double Cstep;
  std::vector<std::pair<double, double>> costs;  // expected solves, in order
};

void PrintTo(const Seeding_case& c, std::ostream* os) { *os << c.name; }

class Seeding_sequence_test : public ::testing::TestWithParam<Seeding_case> {};

TEST_P(Seeding_sequence_test, SolvesAtGrowingCostsThenAtTheRequestedOnes) {
  const Seeding_case& c = GetParam();
  Node end{-1, 0};
  Node* samples[1] = {&end};
  const signed char signs[1] = {1};
  double alpha[1] = {0};
  double w[2] = {0, 0};
  const Seeding_state state{1, samples, signs, alpha, w, 2, 1};
  std::vector<std::pair<double, double>> seen;
  const int total = seed_alpha(state, c.C_pos, c.C_neg, c.c_pos, c.c_neg, c.Cstep,
                               [&](double p, double n) {
                                 seen.emplace_back(p, n);
                                 return 10 + static_cast<int>(seen.size());
                               });
  EXPECT_EQ(seen, c.costs);
  int expected_total = 0;
  for (size_t k = 1; k <= c.costs.size(); ++k) expected_total += 10 + static_cast<int>(k);
  EXPECT_EQ(total, expected_total);
}

INSTANTIATE_TEST_SUITE_P(
    Costs, Seeding_sequence_test,
    ::testing::Values(
        Seeding_case{"NoSeedingAtCbegin", 1, 1, 1, 1, 2, {{1, 1}}},
        Seeding_case{"TenFromOne", 10, 10, 1, 1, 2, {{1, 1}, {2, 2}, {4, 4}, {8, 8}, {10, 10}}},
        Seeding_case{"EightFromOne", 8, 8, 1, 1, 2, {{1, 1}, {2, 2}, {4, 4}, {8, 8}}},
        // The negative side starts at Cbegin * C_neg / C_pos = 0.25.
        Seeding_case{"ClassCosts", 4, 1, 1, 0.25, 2, {{1, 0.25}, {2, 0.5}, {4, 1}}},
        Seeding_case{"CbeginAboveC", 2, 2, 5, 5, 2, {{2, 2}}},
        Seeding_case{"StepThree", 3, 3, 0.5, 0.5, 3, {{0.5, 0.5}, {1.5, 1.5}, {3, 3}}}),
    [](const ::testing::TestParamInfo<Seeding_case>& info) { return info.param.name; });

// Four variables over three features (no index 0); bias at w[4].
struct Seeding_fixture : ::testing::Test {
  std::vector<std::vector<Node>> nodes{{{1, 1}, {-1, 0}},
                                       {{2, 2}, {-1, 0}},
                                       {{1, 3}, {3, 1}, {-1, 0}},
                                       {{3, -1}, {-1, 0}}};
  std::vector<Node*> samples{nodes[0].data(), nodes[1].data(), nodes[2].data(), nodes[3].data()};
  std::vector<signed char> signs{1, -1, 1, -1};
  std::vector<double> alpha = std::vector<double>(4, 0.0);
  std::vector<double> w = std::vector<double>(5, 0.0);

  Seeding_state state() {
    return Seeding_state{4, samples.data(), signs.data(), alpha.data(), w.data(), 5, 4};
  }

  // sum s_i alpha_i (x_i, 1) for the given alpha.
  std::vector<double> w_of(const std::vector<double>& a) {
    std::vector<double> result(5, 0.0);
    for (int i = 0; i < 4; ++i) {
      const double step = signs[i] * a[i];
      result[4] += step;
      for (const Node* x = samples[i]; x->index != -1; ++x) result[x->index] += step * x->value;
    }
    return result;
  }
};

TEST_F(Seeding_fixture, ScalesBetweenSolvesAndRebuildsWAtTheSwitch) {
  // C = 10 from 1 in steps of 2: solves at 1, 2, 4, 8 and 10.
  int call = 0;
  std::vector<double> handed_alpha, handed_w;
  seed_alpha(state(), 10, 10, 1, 1, 2, [&](double c, double) {
    ++call;
    if (call == 1) {
      alpha = {1, 0.5, 0, 1};
      const std::vector<double> consistent = w_of(alpha);
      std::copy(consistent.begin(), consistent.end(), w.begin());  // keep the buffer
    } else if (call == 2 || call == 3) {
      // Scaled by Cstep, w with it (no rebuild).
      for (int i = 0; i < 4; ++i) EXPECT_EQ(alpha[i], 2 * handed_alpha[i]) << c;
      for (int k = 0; k < 5; ++k) EXPECT_EQ(w[k], 2 * handed_w[k]) << c;
    } else if (call == 4) {
      EXPECT_EQ(c, 8.0);
      alpha = {8, 3, 0.5, 8};
      w.assign(5, 123.0);  // a rebuild must not depend on it
    } else {
      EXPECT_EQ(c, 10.0);
      // At the bound: moved to 10; the others scaled by 10 / 8.
      EXPECT_EQ(alpha, (std::vector<double>{10, 3.75, 0.625, 10}));
      EXPECT_EQ(w, (std::vector<double>{0, 11.875, -7.5, 10.625, -3.125}));
    }
    handed_alpha = alpha;
    handed_w = w;
    return 0;
  });
  EXPECT_EQ(call, 5);
}

TEST_F(Seeding_fixture, SwitchAppliesWhenTheNextCostEqualsC) {
  // C = 8 from 1: solves at 1, 2, 4, 8; after the one at 4 the switch rule
  // applies (4 * 2 >= 8) and rebuilds w.
  int call = 0;
  seed_alpha(state(), 8, 8, 1, 1, 2, [&](double, double) {
    ++call;
    if (call == 3) {
      alpha = {4, 1, 0.5, 4};
      w.assign(5, 123.0);
    }
    if (call == 4) {
      EXPECT_EQ(alpha, (std::vector<double>{8, 2, 1, 8}));
      EXPECT_EQ(w, w_of(alpha));
    }
    return 0;
  });
  EXPECT_EQ(call, 4);
}

TEST_F(Seeding_fixture, SwitchUsesEachSidesCost) {
  // C_pos 3, C_neg 0.9: the negative side runs at 0.3, 0.6. A negative
  // variable at its bound 0.6 moves to exactly 0.9, which scaling by 3 / 2
  // would miss by rounding; the others scale by 3 / 2.
  int call = 0;
  seed_alpha(state(), 3, 0.9, 1, 1 * 0.9 / 3, 2, [&](double c_pos, double c_neg) {
    ++call;
    if (call == 2) {
      EXPECT_EQ(c_pos, 2.0);
      alpha = {c_pos, c_neg, 1, c_neg / 2};
    }
    if (call == 3) {
      EXPECT_EQ(alpha[0], 3.0);
      EXPECT_EQ(alpha[1], 0.9);
      EXPECT_EQ(alpha[2], 1.5);
      EXPECT_EQ(alpha[3], (1 * 0.9 / 3 * 2 / 2) * (3.0 / 2));
    }
    return 0;
  });
  EXPECT_EQ(call, 3);
}

// The bias in a slot of its own must not change a bit on data without
// feature index 0: the same seeding with the bias sharing w[0] (the layout
// where index 0 collides with it) gives identical results.
TEST(SeedingLayoutTest, BiasSlotChangesNothingWithoutIndexZero) {
  std::mt19937 rng(21);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  const int l = 60;
  const int max_index = 6;
  std::vector<std::vector<Node>> nodes(l);
  std::vector<Node*> samples(l);
  std::vector<signed char> signs(l);
  for (int i = 0; i < l; ++i) {
    for (int k = 1; k <= max_index; ++k) {
      if (value(rng) > -0.2) nodes[i].push_back(Node{k, value(rng)});
    }
    nodes[i].push_back(Node{-1, 0});
    samples[i] = nodes[i].data();
    signs[i] = value(rng) > 0 ? 1 : -1;
  }
  const std::vector<double> b(l, -1.0);

  struct Outcome {
    std::vector<double> alpha;
    std::vector<double> w;
    double objective;
    int iterations;
    std::string output;
  };
  auto run = [&](int w_size, int bias_slot) {
    Outcome out;
    out.alpha.assign(l, 0.0);
    out.w.assign(w_size + 1, 0.0);  // and the padding slot the solver needs
    Test_run test_run;
    Solver_B_linear solver(test_run.box_solver(), test_run.progress());
    Solve_result result{0, nullptr};
    const Seeding_state state{l, samples.data(), signs.data(), out.alpha.data(), out.w.data(),
                              w_size, bias_slot};
    out.iterations = seed_alpha(state, 10, 5, 1, 0.5, 2, [&](double c_pos, double c_neg) {
      std::free(result.bounds);
      return solver.optimize_linear(l, samples.data(), b.data(), signs.data(), out.alpha.data(),
                                    out.w.data(), bias_slot, c_pos, c_neg, 1e-3, &result, 1, 4);
    });
    out.objective = result.objective;
    out.output = test_run.text();
    std::free(result.bounds);
    return out;
  };
  const Outcome shared = run(max_index + 1, 0);
  const Outcome own = run(max_index + 2, max_index + 1);
  EXPECT_GT(own.iterations, 0);
  EXPECT_EQ(own.iterations, shared.iterations);
  EXPECT_EQ(own.output, shared.output);
  EXPECT_EQ(std::memcmp(&own.objective, &shared.objective, sizeof(double)), 0);
  for (int i = 0; i < l; ++i) {
    EXPECT_EQ(std::memcmp(&own.alpha[i], &shared.alpha[i], sizeof(double)), 0) << i;
  }
  EXPECT_EQ(own.w[max_index + 1], shared.w[0]);
}

// --- train_bounded_problem ---------------------------------------------------------

struct Data {
  std::vector<std::vector<Node>> nodes;
  std::vector<Node*> samples;
  std::vector<double> labels;
  Problem problem{};
};

// Two noisy classes (labels +1/-1) or a noisy linear target, features 1..4
// (index 0 too when asked).
Data make_data(int l, bool regression, bool index_zero, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  Data d;
  d.nodes.resize(l);
  for (int i = 0; i < l; ++i) {
    double score = 0;
    for (int k = index_zero ? 0 : 1; k <= 4; ++k) {
      const double v = value(rng);
      if (std::fabs(v) < 0.15) continue;
      d.nodes[i].push_back(Node{k, v});
      score += (k % 2 ? 1.0 : -0.5) * v;
    }
    d.nodes[i].push_back(Node{-1, 0});
    score += 0.4 * value(rng);
    d.labels.push_back(regression ? 2 * score + 0.5 : (score > 0 ? 1 : -1));
  }
  for (auto& n : d.nodes) d.samples.push_back(n.data());
  d.problem = Problem{l, 4, d.labels.data(), d.samples.data()};
  return d;
}

// The dual that the routine must minimise, from kernel values as the Q
// matrices form them.
std::vector<double> bounded_q(const Data& d, const Parameter& param, bool regression,
                              std::vector<double>* b, std::vector<double>* upper, double C_pos,
                              double C_neg) {
  const int l = d.problem.sample_count;
  const int n = regression ? 2 * l : l;
  auto sign = [&](int v) { return regression ? (v < l ? 1 : -1) : (d.labels[v] > 0 ? 1 : -1); };
  std::vector<double> q(static_cast<size_t>(n) * n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const Node* x = d.samples[i % l];
      const Node* y = d.samples[j % l];
      double entry;
      if (param.kernel_type == linear) {
        entry = sign(i) * sign(j) * (dot(x, y) + 1);
      } else if (regression) {
        entry = static_cast<float>(sign(i) * sign(j)) *
                (static_cast<float>(kernel_value(x, y, param)) + 1.0f);
      } else {
        entry = static_cast<float>(sign(i) * sign(j) * (kernel_value(x, y, param) + 1));
      }
      q[static_cast<size_t>(i) * n + j] = entry;
    }
  }
  b->assign(n, -1.0);
  upper->assign(n, 0.0);
  for (int v = 0; v < n; ++v) {
    if (regression) {
      (*b)[v] = v < l ? param.p - d.labels[v] : param.p + d.labels[v - l];
      (*upper)[v] = param.C;
    } else {
      (*upper)[v] = sign(v) > 0 ? C_pos : C_neg;
    }
  }
  return q;
}

struct Routine_case {
  const char* name;
  int svm_type;
  int kernel_type;
  double C;       // the Parameter's cost
  double C_pos;   // class costs (classification)
  double C_neg;
  double p;
  bool index_zero;
  double Cbegin;  // seeding starts here (linear kernel)
};

void PrintTo(const Routine_case& c, std::ostream* os) { *os << c.name; }

class Routine_test : public ::testing::TestWithParam<Routine_case> {};

// The printed lines, in order, agree with the returned coefficients and the
// objective matches an independent solve of the same dual.
TEST_P(Routine_test, PrintsConsistentSummaryAndSolvesTheDual) {
  const Routine_case& c = GetParam();
  const bool regression = c.svm_type == epsilon_svr;
  const Data d = make_data(40, regression, c.index_zero, 17);
  Parameter param = default_parameter();
  param.svm_type = c.svm_type;
  param.kernel_type = c.kernel_type;
  param.gamma = 0.5;
  param.C = c.C;
  param.p = c.p;
  param.eps = 1e-5;
  param.Cbegin = c.Cbegin;

  Test_run run;
  double* coefficients = train_bounded_problem(run.run(), d.problem, param, c.C_pos, c.C_neg);
  const std::string output = run.text();

  const std::regex summary(
      "^[.*]*\\noptimization finished, #iter = (\\d+)\\nnu = (-?[0-9.]+)\\nobj = (-?[0-9.]+), "
      "rho = 0\\.000000\\nnSV = (\\d+), nBSV = (\\d+)\\n$");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(output, m, summary)) << output;

  const int l = d.problem.sample_count;
  double sum = 0;
  int sv = 0, bsv = 0;
  for (int i = 0; i < l; ++i) {
    const double a = std::fabs(coefficients[i]);
    sum += a;
    if (a > 0) {
      ++sv;
      const double bound = regression ? c.C : (d.labels[i] > 0 ? c.C_pos : c.C_neg);
      if (a >= bound) ++bsv;
    }
    // Classification coefficients carry the label's sign.
    if (!regression) {
      EXPECT_GE(coefficients[i] * d.labels[i], 0.0) << i;
    }
  }
  char nu[64];
  std::snprintf(nu, sizeof nu, "%f", sum / (l * c.C));  // the Parameter's C, not class costs
  EXPECT_EQ(m[2].str(), nu);
  EXPECT_EQ(std::stoi(m[4].str()), sv);
  EXPECT_EQ(std::stoi(m[5].str()), bsv);

  std::vector<double> b, upper;
  const std::vector<double> q = bounded_q(d, param, regression, &b, &upper, c.C_pos, c.C_neg);
  const double expected =
      testing_support::dual_objective(q, b, testing_support::reference_solve(q, b, upper));
  const double printed = std::stod(m[3].str());
  const bool seeded = c.kernel_type == linear && c.Cbegin < (regression ? c.C : c.C_pos);
  if (seeded) {
    // A seeded solve starts with its free variables off their optimum, and
    // the stopping rule does not count free variables of the first selection
    // phase: it may end before they move. Only the rule itself is promised.
    EXPECT_GE(printed, expected - 1e-6 * std::fabs(expected) - 1e-6);
  } else {
    EXPECT_NEAR(printed, expected, 1e-6 * std::fabs(expected) + 1e-6);
  }
  // The stopping rule: no variable at a bound violates by eps or more.
  const int n = static_cast<int>(b.size());
  std::vector<double> a(n, 0.0);
  for (int i = 0; i < l; ++i) {
    if (regression) {
      // With p > 0 at most one variable of a sample is positive at the
      // optimum; split the coefficient back into the two.
      a[i] = std::max(coefficients[i], 0.0);
      a[l + i] = std::max(-coefficients[i], 0.0);
    } else {
      a[i] = std::fabs(coefficients[i]);
    }
  }
  const std::vector<double> g = testing_support::dual_gradient(q, b, a);
  for (int v = 0; v < n; ++v) {
    // A closed box (bound 0) counts as the upper bound.
    if (a[v] >= upper[v]) {
      EXPECT_LT(g[v], param.eps + 1e-9) << v;
    } else if (a[v] <= 0) {
      EXPECT_GT(g[v], -param.eps - 1e-9) << v;
    }
  }
  std::free(coefficients);
}

INSTANTIATE_TEST_SUITE_P(
    Routines, Routine_test,
    ::testing::Values(
        Routine_case{"KernelClassification", c_svc, rbf, 1, 1, 1, 0.1, false, 1},
        Routine_case{"KernelClassCosts", c_svc, rbf, 1, 2, 0.5, 0.1, false, 1},
        Routine_case{"LinearNoSeeding", c_svc, linear, 1, 1, 1, 0.1, false, 1},
        Routine_case{"LinearCbeginAboveC", c_svc, linear, 10, 10, 10, 0.1, false, 20},
        Routine_case{"LinearSeeded", c_svc, linear, 10, 10, 10, 0.1, false, 1},
        Routine_case{"LinearSeededClassCosts", c_svc, linear, 1, 4, 1, 0.1, false, 1},
        Routine_case{"LinearIndexZero", c_svc, linear, 6, 6, 6, 0.1, true, 6},
        // A class weight of 0 closes one side's box; nothing divides by it.
        Routine_case{"LinearZeroPositiveCost", c_svc, linear, 2, 0, 2, 0.1, false, 1},
        Routine_case{"LinearZeroNegativeCost", c_svc, linear, 2, 2, 0, 0.1, false, 1},
        Routine_case{"KernelZeroNegativeCost", c_svc, rbf, 1, 1, 0, 0.1, false, 1},
        Routine_case{"KernelRegression", epsilon_svr, rbf, 2, 0, 0, 0.1, false, 1},
        Routine_case{"LinearRegression", epsilon_svr, linear, 5, 0, 0, 0.1, false, 5},
        Routine_case{"LinearRegressionSeeded", epsilon_svr, linear, 5, 0, 0, 0.1, false, 1},
        Routine_case{"LinearRegressionIndexZero", epsilon_svr, linear, 3, 0, 0, 0.2, true, 3}),
    [](const ::testing::TestParamInfo<Routine_case>& info) { return info.param.name; });

struct Idle_case {
  const char* name;
  int kernel_type;
};

void PrintTo(const Idle_case& c, std::ostream* os) { *os << c.name; }

class Idle_regression_test : public ::testing::TestWithParam<Idle_case> {};

// With a tube wider than every target both variables of each sample stay 0:
// every coefficient is 0 and no sample counts as a support vector.
TEST_P(Idle_regression_test, WideTubeGivesNoSupportVectors) {
  const Data d = make_data(10, true, false, 3);
  Parameter param = default_parameter();
  param.svm_type = epsilon_svr;
  param.kernel_type = GetParam().kernel_type;
  param.gamma = 0.5;
  param.p = 100;
  param.C = 4;
  Test_run run;
  double* coefficients = train_bounded_problem(run.run(), d.problem, param, 0, 0);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(coefficients[i], 0.0);
  const std::string& out = run.text();
  EXPECT_NE(out.find("\noptimization finished, #iter = 0\n"), std::string::npos) << out;
  EXPECT_NE(out.find("nu = 0.000000\nobj = 0.000000, rho = 0.000000\nnSV = 0, nBSV = 0\n"),
            std::string::npos)
      << out;
  std::free(coefficients);
}

INSTANTIATE_TEST_SUITE_P(Kernels, Idle_regression_test,
                         ::testing::Values(Idle_case{"Linear", linear}, Idle_case{"Rbf", rbf}),
                         [](const ::testing::TestParamInfo<Idle_case>& info) {
                           return info.param.name;
                         });

TEST(TrainBoundedTest, LinearWithoutMaxIndexDoesNotWritePastW) {
  // A working problem whose max_index understates its features still gets a
  // w that covers every index it holds.
  Data d = make_data(20, false, false, 8);
  d.problem.max_index = 1;
  Parameter param = default_parameter();
  param.kernel_type = linear;
  Test_run run;
  double* coefficients = train_bounded_problem(run.run(), d.problem, param, 1, 1);
  Data reference = make_data(20, false, false, 8);
  Test_run reference_run;
  double* expected = train_bounded_problem(reference_run.run(), reference.problem, param, 1, 1);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(coefficients[i], expected[i]) << i;
  std::free(coefficients);
  std::free(expected);
}

}  // namespace
}  // namespace tevra
