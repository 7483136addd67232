// Tests of the training driver against stand-in training routines.
//
// This program defines the three routines of learn/training_routines.h
// itself, so the linker takes these instead of the library's: each records
// how it was called and returns coefficients made from the identity of each
// sample, which lets the tests predict every entry of the model's rows
// exactly. (Real solvers carry state from one training to the next in a run,
// so a second training of the same problem need not repeat the first bit
// for bit.)
#include <cmath>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "learn/tevra.h"
#include "learn/training_routines.h"
#include "tests/learn/test_run.h"

namespace tevra {

namespace {

// Samples carry their identity as the value of their feature 1.
int id_of(const Node* sample) { return static_cast<int>(sample[0].value); }

// One call of a stand-in routine.
struct Routine_call {
  const Training_run* run = nullptr;  // the run it was handed
  std::vector<int> ids;         // samples handed over, in order
  std::vector<double> labels;   // their labels
  double C_pos = 0, C_neg = 0;  // costs (train_bounded_problem)
  std::vector<double> class_C;  // class costs (multi-class routines)
  std::vector<int> class_sizes; // kbb only
  int svm_type = -1;            // Crammer and Singer only
};

std::vector<Routine_call> calls;

// The call (counting from 1) whose routine runs out of memory; 0: none.
int failing_call = 0;

// Identities whose coefficient is 0 in every routine.
std::vector<int> zero_ids;
bool is_zero(int id) {
  for (int z : zero_ids)
    if (z == id) return true;
  return false;
}

// c_svc: the class index of each identity, which tells the stand-in which
// pair it trains, and identities that are 0 in one pair only.
std::vector<int> class_of_id;
struct Zero_in_pair {
  int id, first, second;
};
std::vector<Zero_in_pair> zero_in_pair;

Routine_call record(const Training_run& run, const Problem& problem) {
  if (static_cast<int>(calls.size()) + 1 == failing_call) throw std::bad_alloc();
  Routine_call call;
  call.run = &run;
  for (int i = 0; i < problem.sample_count; ++i) {
    call.ids.push_back(id_of(problem.samples[i]));
    call.labels.push_back(problem.labels[i]);
  }
  return call;
}

// Coefficient of sample `id` in the pair of classes with identities
// first < second, signed by its side: one value per sample and pair.
double pair_coefficient(int id, int first, int second, bool positive) {
  if (is_zero(id)) return 0;
  for (const Zero_in_pair& z : zero_in_pair)
    if (z.id == id && z.first == first && z.second == second) return 0;
  const double magnitude = id + 0.01 * first + 0.0001 * second;
  return positive ? magnitude : -magnitude;
}
double regression_coefficient(int id) { return is_zero(id) ? 0 : (id % 2 == 0 ? id : -id) * 0.5; }
// Variable of sample `id` for class index k; kbb keeps it when positive.
double multiclass_variable(int id, int k) { return is_zero(id) ? 0 : id * 10 + k + 1; }

}  // namespace

double* train_bounded_problem(Training_run& run, const Problem& problem, const Parameter& param,
                              double C_pos, double C_neg) {
  Routine_call call = record(run, problem);
  call.C_pos = C_pos;
  call.C_neg = C_neg;
  calls.push_back(call);
  // The pair: the class of the first sample and of the first negative one.
  int first = -1, second = -1;
  for (int i = 0; i < problem.sample_count && param.svm_type == c_svc; ++i) {
    const int id = id_of(problem.samples[i]);
    const int k = id < static_cast<int>(class_of_id.size()) ? class_of_id[id] : -1;
    if (i == 0) first = k;
    if (problem.labels[i] < 0 && second == -1) second = k;
  }
  double* coef = static_cast<double*>(std::malloc(sizeof(double) * (problem.sample_count + 1)));
  for (int i = 0; i < problem.sample_count; ++i) {
    const int id = id_of(problem.samples[i]);
    coef[i] = param.svm_type == epsilon_svr ? regression_coefficient(id)
                                            : pair_coefficient(id, first, second, problem.labels[i] > 0);
  }
  return coef;
}

double* train_single_multiclass(Training_run& run, const Problem& problem, const Parameter&,
                                int nr_class, const double* class_C, const int* class_sizes) {
  Routine_call call = record(run, problem);
  call.class_C.assign(class_C, class_C + nr_class);
  call.class_sizes.assign(class_sizes, class_sizes + nr_class);
  calls.push_back(call);
  // Block j: every sample not of class j, in the order handed over.
  const int l = problem.sample_count;
  double* alpha = static_cast<double*>(std::malloc(sizeof(double) * ((nr_class - 1) * l + 1)));
  int n = 0;
  for (int j = 0; j < nr_class; ++j)
    for (int i = 0; i < l; ++i)
      if (static_cast<int>(problem.labels[i]) != j) {
        // A negative variable is not positive: such samples must not be
        // flagged unless another variable is positive.
        const int id = id_of(problem.samples[i]);
        alpha[n++] = id >= 100 ? -1.0 : multiclass_variable(id, j);
      }
  return alpha;
}

double* train_crammer_singer(Training_run& run, const Problem& problem, const Parameter&,
                             int nr_class, const double* class_C, int svm_type) {
  Routine_call call = record(run, problem);
  call.class_C.assign(class_C, class_C + nr_class);
  call.svm_type = svm_type;
  calls.push_back(call);
  const int l = problem.sample_count;
  double* alpha = static_cast<double*>(std::malloc(sizeof(double) * (l * nr_class + 1)));
  for (int i = 0; i < l; ++i)
    for (int m = 0; m < nr_class; ++m) {
      const int id = id_of(problem.samples[i]);
      alpha[i * nr_class + m] = id >= 100 ? -multiclass_variable(id - 100, m) : multiclass_variable(id, m);
    }
  return alpha;
}

namespace {

// A training set whose sample i has identity ids[i] (default i + 1) and
// label labels[i].
class Id_set {
 public:
  explicit Id_set(const std::vector<double>& labels, std::vector<int> ids = {}) : labels_(labels) {
    if (ids.empty())
      for (std::size_t i = 0; i < labels.size(); ++i) ids.push_back(static_cast<int>(i) + 1);
    for (int id : ids) nodes_.push_back({{1, static_cast<double>(id)}, {-1, 0}});
    for (auto& n : nodes_) pointers_.push_back(n.data());
  }
  Problem problem() {
    return Problem{static_cast<int>(labels_.size()), 1, labels_.data(), pointers_.data()};
  }

 private:
  std::vector<double> labels_;
  std::vector<std::vector<Node>> nodes_;
  std::vector<Node*> pointers_;
};

class TrainModel : public ::testing::Test {
 protected:
  void SetUp() override {
    param = default_parameter();
    calls.clear();
    zero_ids.clear();
    zero_in_pair.clear();
    class_of_id.clear();
    failing_call = 0;
  }

  Model* train(Id_set& set) {
    Problem problem = set.problem();
    return train_model(&test_run.run(), &problem, &param);
  }

  Parameter param;
  testing_support::Test_run test_run;
  const std::string& progress = test_run.text();
};

std::vector<int> sv_ids(const Model& model) {
  std::vector<int> ids;
  for (int s = 0; s < model.total_sv; ++s) ids.push_back(id_of(model.SV[s]));
  return ids;
}

TEST_F(TrainModel, ClassesInOrderOfFirstAppearanceWithTruncatedLabels) {
  struct Case {
    std::vector<double> labels;
    std::vector<int> classes;
    std::vector<int> counts;
  };
  const Case cases[] = {
      {{2, 1, 2, 3}, {2, 1, 3}, {2, 1, 1}},
      {{1.2, 1.9, -0.5, 0.7, -1.5}, {1, 0, -1}, {2, 2, 1}},
      {{-2.9, 5, -2, 5.99}, {-2, 5}, {2, 2}},
  };
  for (const Case& c : cases) {
    Id_set set(c.labels);
    Model* model = train(set);
    ASSERT_EQ(model->nr_class, static_cast<int>(c.classes.size()));
    for (std::size_t k = 0; k < c.classes.size(); ++k) {
      EXPECT_EQ(model->label[k], c.classes[k]);
      EXPECT_EQ(model->nr_sv[k], c.counts[k]);  // every coefficient is nonzero here
    }
    EXPECT_EQ(model->owns_sv_nodes, 0);
    destroy_model(&model);
  }
}

TEST_F(TrainModel, SeventyClassesKeepLabelsAndTrainEveryPairOnce) {
  std::vector<double> labels;
  for (int k = 0; k < 70; ++k) labels.push_back(1000 - 3 * k);
  labels.push_back(1000);  // repeats the first class after the lists grew
  Id_set set(labels);
  Model* model = train(set);
  ASSERT_EQ(model->nr_class, 70);
  for (int k = 0; k < 70; ++k) EXPECT_EQ(model->label[k], 1000 - 3 * k);
  EXPECT_EQ(model->nr_sv[0], 2);
  EXPECT_EQ(calls.size(), 70u * 69 / 2);
  EXPECT_EQ(calls[0].ids, (std::vector<int>{1, 71, 2}));
  EXPECT_EQ(calls[0].labels, (std::vector<double>{1, 1, -1}));
  destroy_model(&model);
}

TEST_F(TrainModel, PairsInOrderWithTheirClassCosts) {
  // Class 7 weighted by 0.5 twice, class 9 by 3; label 5 matches no class.
  static int weight_labels[] = {7, 5, 9, 7};
  static double weights[] = {0.5, 10, 3, 0.5};
  param.C = 2;
  param.weight_count = 4;
  param.weight_labels = weight_labels;
  param.weights = weights;
  Id_set set({8, 7, 9, 7, 8});
  ::testing::internal::CaptureStderr();
  Model* model = train(set);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "warning: class label 5 specified in weight is not found\n");
  // Classes: 8 (cost 2), 7 (cost 0.5), 9 (cost 6).
  ASSERT_EQ(calls.size(), 3u);
  const double expected_costs[3][2] = {{2, 0.5}, {2, 6}, {0.5, 6}};
  const std::vector<int> expected_ids[3] = {{1, 5, 2, 4}, {1, 5, 3}, {2, 4, 3}};
  for (int p = 0; p < 3; ++p) {
    EXPECT_EQ(calls[p].C_pos, expected_costs[p][0]) << p;
    EXPECT_EQ(calls[p].C_neg, expected_costs[p][1]) << p;
    EXPECT_EQ(calls[p].ids, expected_ids[p]) << p;
  }
  destroy_model(&model);
}

// A three-class c_svc model: every support vector carries, row by row, its
// coefficient against each other class, signed by its side of the pair.
TEST_F(TrainModel, OneAgainstOneRowLayout) {
  // Classes 0, 1, 2 hold identities {1, 4}, {2, 5, 6}, {3}. Identity 5 is
  // no support vector; identity 4 is 0 in the pair (0, 2) only and keeps
  // that 0 in its row.
  class_of_id = {-1, 0, 1, 2, 0, 1, 1};
  zero_ids = {5};
  zero_in_pair = {{4, 0, 2}};
  Id_set set({10, 20, 30, 10, 20, 20});
  Model* model = train(set);
  ASSERT_EQ(model->nr_class, 3);
  const std::vector<int> ids = {1, 4, 2, 6, 3};
  EXPECT_EQ(sv_ids(*model), ids);
  EXPECT_EQ(model->nr_sv[0], 2);
  EXPECT_EQ(model->nr_sv[1], 2);
  EXPECT_EQ(model->nr_sv[2], 1);
  EXPECT_EQ(progress, "Total nSV = 5\n");
  for (int q = 0; q < 5; ++q) {
    const int own = class_of_id[ids[q]];
    for (int r = 0; r < 2; ++r) {
      const int other = r < own ? r : r + 1;
      const int first = own < other ? own : other, second = own < other ? other : own;
      EXPECT_EQ(model->coefficients[r][q], pair_coefficient(ids[q], first, second, own == first))
          << "sv " << q << " row " << r;
    }
  }
  EXPECT_EQ(model->coefficients[1][1], 0);
  destroy_model(&model);
}

TEST_F(TrainModel, SampleZeroInEveryPairIsNoSupportVector) {
  // Identity 3 (class 2) is 0 in both its pairs; identity 1 only in (0, 2).
  class_of_id = {-1, 0, 1, 2};
  zero_in_pair = {{3, 0, 2}, {3, 1, 2}, {1, 0, 2}};
  Id_set set({10, 20, 30});
  Model* model = train(set);
  EXPECT_EQ(sv_ids(*model), (std::vector<int>{1, 2}));
  EXPECT_EQ(model->nr_sv[2], 0);
  EXPECT_EQ(model->coefficients[0][0], pair_coefficient(1, 0, 1, true));
  EXPECT_EQ(model->coefficients[1][0], 0);
  EXPECT_EQ(model->coefficients[0][1], pair_coefficient(2, 0, 1, false));
  EXPECT_EQ(model->coefficients[1][1], pair_coefficient(2, 1, 2, true));
  destroy_model(&model);
}

// c_svc has no pair to train and kbb's solver cannot lay out one class; the
// Crammer and Singer routine runs (and, being real, gives every variable 0).
TEST_F(TrainModel, SingleClassKeepsTheClass) {
  zero_ids = {1, 2, 3};
  for (int svm_type : {c_svc, kbb, spoc, spoc_l2}) {
    test_run.clear();
    calls.clear();
    param.svm_type = svm_type;
    Id_set set({4, 4.5, 4});
    Model* model = train(set);
    if (svm_type == spoc || svm_type == spoc_l2) {
      ASSERT_EQ(calls.size(), 1u) << svm_type;
      EXPECT_EQ(calls[0].class_C, std::vector<double>{param.C});
      EXPECT_EQ(calls[0].labels, (std::vector<double>{0, 0, 0}));
    } else {
      EXPECT_TRUE(calls.empty()) << svm_type;
    }
    EXPECT_EQ(model->nr_class, 1);
    EXPECT_EQ(model->total_sv, 0);
    EXPECT_EQ(model->label[0], 4);
    EXPECT_EQ(model->nr_sv[0], 0);
    EXPECT_EQ(progress, "Total nSV = 0\n") << svm_type;
    const Node x[] = {{1, 3}, {-1, 0}};
    EXPECT_EQ(predict_value(model, x), 4);
    destroy_model(&model);
  }
}

TEST_F(TrainModel, EmptySetCallsNoRoutine) {
  Id_set set({});
  for (int svm_type : {c_svc, kbb, spoc, epsilon_svr, spoc_l2}) {
    param.svm_type = svm_type;
    Model* model = train(set);
    EXPECT_EQ(model->total_sv, 0);
    destroy_model(&model);
  }
  EXPECT_TRUE(calls.empty());
}

TEST_F(TrainModel, RegressionKeepsNonzeroCoefficientsInTrainingOrder) {
  zero_ids = {2, 5};
  param.svm_type = epsilon_svr;
  Id_set set({0.5, -1, 2, 7.25, 3}, {4, 2, 7, 5, 1});
  Model* model = train(set);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].ids, (std::vector<int>{4, 2, 7, 5, 1}));
  EXPECT_EQ(calls[0].labels, (std::vector<double>{0.5, -1, 2, 7.25, 3}));
  EXPECT_EQ(model->nr_class, 2);
  EXPECT_EQ(model->label, nullptr);
  EXPECT_EQ(model->nr_sv, nullptr);
  EXPECT_EQ(sv_ids(*model), (std::vector<int>{4, 7, 1}));
  EXPECT_EQ(model->coefficients[0][0], 2);
  EXPECT_EQ(model->coefficients[0][1], -3.5);
  EXPECT_EQ(model->coefficients[0][2], -0.5);
  EXPECT_EQ(progress, "");
  destroy_model(&model);
}

TEST_F(TrainModel, SingleProblemLayoutAndFlags) {
  // Classes of sizes 2, 3, 1: class 0 = ids {1, 4}, class 1 = {2, 5, 100},
  // class 2 = {3}. Identity 100 has only negative variables: no support
  // vector. Identity 4 is zero everywhere.
  param.svm_type = kbb;
  zero_ids = {4};
  Id_set set({0, 1, 2, 0, 1, 1}, {1, 2, 3, 4, 5, 100});
  Model* model = train(set);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].ids, (std::vector<int>{1, 4, 2, 5, 100, 3}));
  EXPECT_EQ(calls[0].labels, (std::vector<double>{0, 0, 1, 1, 1, 2}));
  EXPECT_EQ(calls[0].class_sizes, (std::vector<int>{2, 3, 1}));
  EXPECT_EQ(calls[0].class_C, (std::vector<double>{1, 1, 1}));
  EXPECT_EQ(sv_ids(*model), (std::vector<int>{1, 2, 5, 3}));
  EXPECT_EQ(model->nr_sv[0], 1);
  EXPECT_EQ(model->nr_sv[1], 2);
  EXPECT_EQ(model->nr_sv[2], 1);
  EXPECT_EQ(progress, "Total nSV = 4\n");
  // Row r holds the variable for class r (r < own class) or r + 1.
  const int own[] = {0, 1, 1, 2};
  const int ids[] = {1, 2, 5, 3};
  for (int q = 0; q < 4; ++q)
    for (int r = 0; r < 2; ++r) {
      const int k = r < own[q] ? r : r + 1;
      EXPECT_EQ(model->coefficients[r][q], multiclass_variable(ids[q], k)) << q << "," << r;
    }
  destroy_model(&model);
}

TEST_F(TrainModel, CrammerSingerLayoutAndFlags) {
  for (int svm_type : {spoc, spoc_l2}) {
    calls.clear();
    param.svm_type = svm_type;
    // Identity 104 has negative variables only: still a support vector.
    zero_ids = {2};
    Id_set set({5, 6, 5, 7, 6}, {1, 2, 3, 4, 104});
    Model* model = train(set);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].svm_type, svm_type);
    EXPECT_EQ(calls[0].ids, (std::vector<int>{1, 3, 2, 104, 4}));
    EXPECT_EQ(sv_ids(*model), (std::vector<int>{1, 3, 104, 4}));
    EXPECT_EQ(model->nr_sv[1], 1);
    const int ids[] = {1, 3, 104, 4};
    for (int q = 0; q < 4; ++q)
      for (int m = 0; m < 3; ++m) {
        const double expected =
            ids[q] >= 100 ? -multiclass_variable(ids[q] - 100, m) : multiclass_variable(ids[q], m);
        EXPECT_EQ(model->coefficients[m][q], expected);
      }
    destroy_model(&model);
  }
}

TEST_F(TrainModel, MultiClassRoutinesGetTheWeightedCosts) {
  static int weight_labels[] = {6, 6};
  static double weights[] = {0.5, 0.5};
  param.C = 4;
  param.weight_count = 2;
  param.weight_labels = weight_labels;
  param.weights = weights;
  for (int svm_type : {kbb, spoc, spoc_l2}) {
    calls.clear();
    param.svm_type = svm_type;
    Id_set set({5, 6, 5, 7});
    Model* model = train(set);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].class_C, (std::vector<double>{4, 1, 4}));
    destroy_model(&model);
  }
}

// Every routine trains in the run train_model was given, so that the
// sub-problem solver's state carries from pair to pair.
TEST_F(TrainModel, RoutinesTrainInTheCallersRun) {
  for (int svm_type : {c_svc, kbb, spoc, epsilon_svr}) {
    calls.clear();
    param.svm_type = svm_type;
    Id_set set({1, 2, 3, 1, 2, 3});
    Model* model = train(set);
    ASSERT_FALSE(calls.empty()) << svm_type;
    for (const Routine_call& call : calls) EXPECT_EQ(call.run, &test_run.run()) << svm_type;
    destroy_model(&model);
  }
}

// Running out of memory in a routine fails that training alone: no model,
// the run says why (releasing what was trained so far is the sanitizers'
// and valgrind's to check), and the next training in the run succeeds.
TEST_F(TrainModel, OutOfMemoryInARoutineFailsTheTrainingOnly) {
  const struct {
    int svm_type;
    int failing_call;  // the second of three pairs under c_svc
  } cases[] = {{c_svc, 2}, {kbb, 1}, {spoc, 1}, {epsilon_svr, 1}};
  for (const auto& c : cases) {
    calls.clear();
    param.svm_type = c.svm_type;
    failing_call = c.failing_call;
    Id_set set({1, 2, 3, 1, 2, 3});
    EXPECT_EQ(train(set), nullptr) << c.svm_type;
    ASSERT_NE(training_run_error(&test_run.run()), nullptr);
    EXPECT_STREQ(training_run_error(&test_run.run()), "not enough memory to train");

    calls.clear();
    failing_call = 0;
    Model* model = train(set);
    ASSERT_NE(model, nullptr) << c.svm_type;
    EXPECT_EQ(training_run_error(&test_run.run()), nullptr);
    destroy_model(&model);
  }
}

}  // namespace
}  // namespace tevra
