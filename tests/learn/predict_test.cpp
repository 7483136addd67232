#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

#include "gtest/gtest.h"
#include "learn/kernel.h"
#include "learn/tevra.h"

namespace tevra {
namespace {

// A model over support vectors held by the test. rows[r][s] is coefficient
// row r of support vector s.
class Hand_model {
 public:
  Hand_model(int svm_type, int kernel_type, std::vector<int> labels, std::vector<int> nr_sv,
             std::vector<std::vector<Node>> support_vectors, std::vector<std::vector<double>> rows)
      : labels_(std::move(labels)), nr_sv_(std::move(nr_sv)), nodes_(std::move(support_vectors)),
        rows_(std::move(rows)) {
    model_.param = default_parameter();
    model_.param.svm_type = svm_type;
    model_.param.kernel_type = kernel_type;
    model_.param.gamma = 0.5;
    model_.nr_class = svm_type == epsilon_svr ? 2 : static_cast<int>(labels_.size());
    model_.total_sv = static_cast<int>(nodes_.size());
    for (auto& sv : nodes_) sv_.push_back(sv.data());
    for (auto& row : rows_) row_pointers_.push_back(row.data());
    model_.SV = sv_.data();
    model_.coefficients = row_pointers_.data();
    model_.label = labels_.empty() ? nullptr : labels_.data();
    model_.nr_sv = nr_sv_.empty() ? nullptr : nr_sv_.data();
  }
  const Model* get() const { return &model_; }

 private:
  std::vector<int> labels_;
  std::vector<int> nr_sv_;
  std::vector<std::vector<Node>> nodes_;
  std::vector<std::vector<double>> rows_;
  std::vector<Node*> sv_;
  std::vector<double*> row_pointers_;
  Model model_{};
};

const std::vector<Node> kNoEntries = {{-1, 0}};
// Shares no index with the support vectors below: every linear kernel value
// is 0 and every shifted one 1.
const std::vector<Node> kDisjoint = {{9, 1}, {-1, 0}};
std::vector<Node> sv_at(int index) { return {{index, 1}, {-1, 0}}; }

TEST(PredictOneAgainstOne, AllZeroSumsVoteForTheLaterClassOfEachPair) {
  Hand_model model(c_svc, linear, {10, 20, 30}, {0, 0, 0}, {}, {{}, {}});
  EXPECT_EQ(predict_value(model.get(), kNoEntries.data()), 30);
}

TEST(PredictOneAgainstOne, ThreeWayTieGoesToTheFirstLabel) {
  // Pair sums with shifted kernel 1: (0,1) = 1 + 1, (0,2) = -1 - 1, (1,2) = 1 + 1.
  Hand_model model(c_svc, linear, {10, 20, 30}, {1, 1, 1}, {sv_at(1), sv_at(2), sv_at(3)},
                   {{1, 1, -1}, {-1, 1, 1}});
  EXPECT_EQ(predict_value(model.get(), kDisjoint.data()), 10);
}

TEST(PredictOneAgainstOne, ReadsEachPairFromItsRows) {
  // A support vector of class 1 keeps its (0,1) coefficient in row 0 and its
  // (1,2) coefficient in row 1. Class 2 wins both its pairs only when the
  // rows are read that way.
  Hand_model model(c_svc, linear, {10, 20, 30}, {1, 1, 1}, {sv_at(1), sv_at(2), sv_at(3)},
                   {{0.25, -1, -1}, {-0.5, -4, -0.5}});
  // (0,1): 0.25 - 1 < 0 -> 20; (0,2): -0.5 - 1 < 0 -> 30; (1,2): -4 - 0.5 < 0 -> 30.
  EXPECT_EQ(predict_value(model.get(), kDisjoint.data()), 30);
}

TEST(PredictOneAgainstOne, SumThatIsNotANumberVotesForTheLaterClass) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Hand_model model(c_svc, linear, {1, 2}, {1, 0}, {sv_at(1)}, {{nan}});
  EXPECT_EQ(predict_value(model.get(), kDisjoint.data()), 2);
}

TEST(PredictOneAgainstOne, UsesTheShiftedKernel) {
  // Kernel values 6 and 0, shifted 7 and 1: the sum -7 + 7.5 is positive,
  // while without the shift it would be -6 + 0.
  const std::vector<Node> x = {{1, 2}, {-1, 0}};
  Hand_model model(c_svc, linear, {1, 2}, {1, 1}, {{{1, 3}, {-1, 0}}, sv_at(5)}, {{-1, 7.5}});
  EXPECT_EQ(predict_value(model.get(), x.data()), 1);
}

TEST(PredictSingleProblem, EqualDecisionValuesGoToTheEarliestClass) {
  Hand_model model(kbb, linear, {4, 5, 6}, {0, 0, 0}, {}, {{}, {}});
  EXPECT_EQ(predict_value(model.get(), kDisjoint.data()), 4);
}

TEST(PredictSingleProblem, DecisionValuesFollowTheBlockLayout) {
  // One support vector of class 1 with variables 2 (for class 0, row 0) and
  // 0.5 (for class 2, row 1); shifted kernel 1.
  // dec = {-2, 2.5, -0.5}: class 1 wins.
  Hand_model model(kbb, linear, {4, 5, 6}, {0, 1, 0}, {sv_at(1)}, {{2}, {0.5}});
  EXPECT_EQ(predict_value(model.get(), kDisjoint.data()), 5);
  // Swapping the rows' meaning must matter: class 0 with variables 0 (class 1)
  // and 3 (class 2): dec = {3, 0, -3} -> class 0.
  Hand_model other(kbb, linear, {4, 5, 6}, {1, 0, 0}, {sv_at(1)}, {{0}, {3}});
  EXPECT_EQ(predict_value(other.get(), kDisjoint.data()), 4);
}

TEST(PredictCrammerSinger, UnshiftedKernelWithNoCommonIndexGivesTheFirstLabel) {
  for (int svm_type : {spoc, spoc_l2}) {
    Hand_model model(svm_type, linear, {7, 8}, {1, 1}, {sv_at(1), sv_at(2)}, {{-1, -1}, {1, 1}});
    EXPECT_EQ(predict_value(model.get(), kDisjoint.data()), 7);
  }
  // The same numbers under c_svc decide on the shifted value 1.
  Hand_model shifted(c_svc, linear, {7, 8}, {1, 1}, {sv_at(1), sv_at(2)}, {{-1, -1}});
  EXPECT_EQ(predict_value(shifted.get(), kDisjoint.data()), 8);
}

TEST(PredictCrammerSinger, LargestDecisionValueWins) {
  const std::vector<Node> x = {{1, 2}, {-1, 0}};
  Hand_model model(spoc, linear, {7, 8, 9}, {1, 0, 0}, {sv_at(1)}, {{0.5}, {-1}, {0.75}});
  EXPECT_EQ(predict_value(model.get(), x.data()), 9);
}

TEST(PredictSingleClass, EveryClassificationReturnsTheOnlyLabel) {
  for (int svm_type : {c_svc, kbb, spoc, spoc_l2}) {
    std::vector<std::vector<double>> rows(svm_type == spoc || svm_type == spoc_l2 ? 1 : 0);
    Hand_model model(svm_type, rbf, {-3}, {0}, {}, rows);
    EXPECT_EQ(predict_value(model.get(), kDisjoint.data()), -3) << svm_type;
  }
}

TEST(PredictSingleClass, SupportVectorsWithoutRowsAreHarmless) {
  // A model file may list support vectors for a single class; there are no
  // coefficient rows to read for them.
  for (int svm_type : {c_svc, kbb}) {
    Hand_model model(svm_type, linear, {8}, {2}, {sv_at(1), sv_at(2)}, {});
    EXPECT_EQ(predict_value(model.get(), kDisjoint.data()), 8) << svm_type;
  }
}

TEST(PredictRegression, WithoutSupportVectorsReturnsZero) {
  Hand_model model(epsilon_svr, rbf, {}, {}, {}, {{}});
  EXPECT_EQ(predict_value(model.get(), kDisjoint.data()), 0);
}

TEST(PredictRegression, OneSupportVectorGivesShiftedKernelTimesCoefficient) {
  const std::vector<Node> x = {{1, 0.5}, {3, 2}, {-1, 0}};
  Hand_model model(epsilon_svr, rbf, {}, {}, {{{1, 1.5}, {2, -1}, {-1, 0}}}, {{-0.3}});
  Parameter param = default_parameter();
  param.kernel_type = rbf;
  param.gamma = 0.5;
  const double k = kernel_value(x.data(), model.get()->SV[0], param);
  EXPECT_EQ(predict_value(model.get(), x.data()), (k + 1) * -0.3);
}

TEST(PredictPrecomputed, LooksUpTheSampleAtEachSupportVectorsSerial) {
  // x holds the kernel values against serials 1, 2, 3 at positions 1, 2, 3.
  const std::vector<Node> x = {{0, 5}, {1, 0.25}, {2, -4}, {3, 8}, {-1, 0}};
  Hand_model model(epsilon_svr, precomputed, {}, {}, {{{0, 2}, {-1, 0}}, {{0, 3.7}, {-1, 0}}},
                   {{1, 0.5}});
  EXPECT_EQ(predict_value(model.get(), x.data()), (-4.0 + 1) * 1 + (8.0 + 1) * 0.5);
}

// Against a reference written from the model's meaning rather than its
// loops: random models of every classification formulation.
double coefficient_for(const Model& m, int s, int own, int other) {
  if (m.param.svm_type == spoc || m.param.svm_type == spoc_l2) return m.coefficients[other][s];
  return other < own ? m.coefficients[other][s] : m.coefficients[other - 1][s];
}

int reference_winner(const Model& m, const Node* x) {
  const int n = m.nr_class;
  std::vector<int> own(m.total_sv);
  for (int a = 0, s = 0; a < n; ++a)
    for (int c = 0; c < m.nr_sv[a]; ++c) own[s++] = a;
  std::vector<double> k(m.total_sv);
  for (int s = 0; s < m.total_sv; ++s) k[s] = kernel_value(x, m.SV[s], m.param);
  std::vector<double> score(n, 0.0);
  if (m.param.svm_type == c_svc) {
    for (int i = 0; i < n; ++i)
      for (int j = i + 1; j < n; ++j) {
        double sum = 0;
        for (int s = 0; s < m.total_sv; ++s)
          if (own[s] == i) sum += coefficient_for(m, s, i, j) * (k[s] + 1);
        for (int s = 0; s < m.total_sv; ++s)
          if (own[s] == j) sum += coefficient_for(m, s, j, i) * (k[s] + 1);
        score[sum > 0 ? i : j] += 1;
      }
  } else if (m.param.svm_type == kbb) {
    for (int s = 0; s < m.total_sv; ++s)
      for (int b = 0; b < n; ++b) {
        if (b == own[s]) continue;
        const double c = coefficient_for(m, s, own[s], b);
        score[b] -= c * (k[s] + 1);
        score[own[s]] += c * (k[s] + 1);
      }
  } else {
    for (int s = 0; s < m.total_sv; ++s)
      for (int a = 0; a < n; ++a) score[a] += coefficient_for(m, s, own[s], a) * k[s];
  }
  int best = 0;
  for (int a = 1; a < n; ++a)
    if (score[a] > score[best]) best = a;
  return best;
}

class PredictAgainstReference : public ::testing::TestWithParam<int> {};

TEST_P(PredictAgainstReference, AgreesOnRandomModels) {
  std::mt19937 random(17 + GetParam());
  std::uniform_real_distribution<double> value(-1, 1);
  const int svm_type = GetParam();
  for (int trial = 0; trial < 200; ++trial) {
    const int nr_class = 2 + trial % 4;
    std::vector<int> labels, nr_sv;
    std::vector<std::vector<Node>> svs;
    for (int a = 0; a < nr_class; ++a) {
      labels.push_back(100 - 7 * a);
      nr_sv.push_back(static_cast<int>(random() % 3));
      for (int c = 0; c < nr_sv.back(); ++c)
        svs.push_back({{1, value(random)}, {2, value(random)}, {-1, 0}});
    }
    const int rows = coefficient_row_count(svm_type, nr_class);
    std::vector<std::vector<double>> coefficients(rows, std::vector<double>(svs.size()));
    for (auto& row : coefficients)
      for (double& c : row) c = value(random);
    Hand_model model(svm_type, rbf, labels, nr_sv, svs, coefficients);
    const std::vector<Node> x = {{1, value(random)}, {2, value(random)}, {-1, 0}};
    EXPECT_EQ(predict_value(model.get(), x.data()), labels[reference_winner(*model.get(), x.data())])
        << "trial " << trial;
  }
}

INSTANTIATE_TEST_SUITE_P(Classification, PredictAgainstReference,
                         ::testing::Values(c_svc, kbb, spoc, spoc_l2));

}  // namespace
}  // namespace tevra
