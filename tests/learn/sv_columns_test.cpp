// The feature-major copy of the support vectors against the merge walks it
// replaces: every dot product and every prediction keeps its bits, through
// the columns and through the tiles, and samples or models the copy cannot
// reproduce keep the plain walk.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "learn/kernel.h"
#include "learn/sv_columns.h"
#include "learn/tevra.h"
#include "tests/learn/sample_sets.h"

namespace tevra {
namespace {

using testing_samples::Entries;
using testing_samples::random_samples;
using testing_samples::Sample_set;

std::uint64_t bits(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A regression or classification model over the rows of a sample set, with
// random coefficients of full precision.
struct Random_model {
  Random_model(Sample_set* svs, int svm_type, int kernel_type, int nr_class, unsigned seed) {
    std::mt19937 engine(seed);
    std::uniform_real_distribution<double> value(-2, 2);
    const int n = svs->count();
    model.param = testing_samples::kernel_parameter(kernel_type, 3, 0.125, 0.5);
    model.param.svm_type = svm_type;
    model.nr_class = svm_type == epsilon_svr ? 2 : nr_class;
    model.total_sv = n;
    model.SV = svs->pointers.data();
    if (svm_type != epsilon_svr) {
      for (int a = 0; a < nr_class; ++a) {
        labels.push_back(10 + a);
        nr_sv.push_back(n / nr_class + (a < n % nr_class ? 1 : 0));
      }
      model.label = labels.data();
      model.nr_sv = nr_sv.data();
    }
    rows.assign(coefficient_row_count(svm_type, model.nr_class), std::vector<double>(n));
    for (auto& row : rows) {
      for (double& c : row) c = value(engine);
      row_pointers.push_back(row.data());
    }
    model.coefficients = row_pointers.data();
  }
  ~Random_model() { delete model.sv_columns; }

  Model model{};
  std::vector<int> labels;
  std::vector<int> nr_sv;
  std::vector<std::vector<double>> rows;
  std::vector<double*> row_pointers;
};

// Test samples: random ones reaching beyond the support vectors' indices,
// and the awkward ones.
Sample_set test_samples(int max_index, double density) {
  Sample_set set = random_samples(40, max_index + 8, density, 99);
  set.rows.push_back({{-1, 0}});                                // no entries
  set.rows.push_back({{max_index + 1, 2}, {-1, 0}});            // only unknown features
  set.rows.push_back({{0, 1.5}, {2, kNan}, {-1, 0}});           // not a number
  set.rows.push_back({{1, -kInf}, {3, 0.25}, {-1, 0}});         // infinite
  set.rows.push_back({{0, 0}, {1, -0.0}, {2, 1e-300}, {-1, 0}});  // zeros and a tiny value
  set.finish();
  return set;
}

struct Layout_case {
  const char* name;
  int sv_count;
  int max_index;
  double density;
  bool tiles;  // whether the copy is expected to hold tiles
};

class SupportVectorLayout : public ::testing::TestWithParam<Layout_case> {};

TEST_P(SupportVectorLayout, EveryDotProductIsTheMergeWalks) {
  const Layout_case& c = GetParam();
  Sample_set svs = random_samples(c.sv_count, c.max_index, c.density, 5);
  Random_model model(&svs, epsilon_svr, linear, 2, 1);
  const auto columns = Support_vector_columns::build(model.model);
  ASSERT_NE(columns, nullptr);
  EXPECT_EQ(!columns->tiles.empty(), c.tiles);

  Sample_set xs = test_samples(c.max_index, c.density);
  // All at once (finite and non-finite samples mixed in one batch), and
  // one at a time.
  std::vector<std::vector<double>> together(xs.count(), std::vector<double>(c.sv_count));
  std::vector<double*> rows;
  for (auto& row : together) rows.push_back(row.data());
  std::vector<const Node*> samples(xs.pointers.begin(), xs.pointers.end());
  columns->dot_products(samples.data(), rows.data(), xs.count());
  for (int b = 0; b < xs.count(); ++b) {
    std::vector<double> alone(c.sv_count);
    double* row = alone.data();
    columns->dot_products(&samples[b], &row, 1);
    for (int s = 0; s < c.sv_count; ++s) {
      const double expected = dot(xs.pointers[b], svs.pointers[s]);
      EXPECT_EQ(bits(together[b][s]), bits(expected)) << "sample " << b << ", sv " << s;
      EXPECT_EQ(bits(alone[s]), bits(expected)) << "sample " << b << ", sv " << s;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, SupportVectorLayout,
    ::testing::Values(Layout_case{"sparse_support_vectors_take_the_columns", 37, 300, 0.03, false},
                      Layout_case{"dense_support_vectors_take_the_tiles", 37, 40, 0.6, true},
                      Layout_case{"one_partial_tile", 5, 12, 0.9, true},
                      Layout_case{"several_full_tiles", 48, 20, 1.0, true}),
    [](const ::testing::TestParamInfo<Layout_case>& info) { return info.param.name; });

TEST(SupportVectorColumns, NotBuiltWhereTheMergeWalkAddsOtherTerms) {
  Sample_set svs = random_samples(6, 10, 0.5, 3);
  for (int kernel_type : {rbf, precomputed}) {
    Random_model model(&svs, c_svc, kernel_type, 2, 1);
    EXPECT_EQ(Support_vector_columns::build(model.model), nullptr) << kernel_type;
  }
  // A support vector whose indices do not increase (a hand-made model):
  // the merge walk would skip entries that a copy adds.
  svs.rows[2] = {{4, 1}, {2, 1}, {-1, 0}};
  svs.finish();
  Random_model model(&svs, c_svc, linear, 2, 1);
  EXPECT_EQ(Support_vector_columns::build(model.model), nullptr);
}

// Column starts for every index up to ten million, for a dozen entries,
// would cost 40 MB per model: the plain walk serves such a model.
TEST(SupportVectorColumns, NotBuiltForIndicesFarBeyondTheEntries) {
  Sample_set svs = random_samples(4, 3, 1.0, 5);
  svs.rows[1].insert(svs.rows[1].end() - 1, Node{10000000, 0.25});
  svs.finish();
  Random_model wide(&svs, c_svc, linear, 2, 1);
  EXPECT_EQ(Support_vector_columns::build(wide.model), nullptr);
  svs.rows[1].erase(svs.rows[1].end() - 2);
  svs.finish();
  Random_model narrow(&svs, c_svc, linear, 2, 1);
  EXPECT_NE(Support_vector_columns::build(narrow.model), nullptr);
}

TEST(SupportVectorColumns, HandlesOnlyStrictlyIncreasingIndicesFromZero) {
  const Entries increasing = {{0, 1}, {4, 1}, {-1, 0}};
  const Entries repeated = {{2, 1}, {2, 1}, {-1, 0}};
  const Entries decreasing = {{4, 1}, {2, 1}, {-1, 0}};
  const Entries negative = {{-5, 1}, {2, 1}, {-1, 0}};
  EXPECT_TRUE(Support_vector_columns::handles(increasing.data()));
  EXPECT_FALSE(Support_vector_columns::handles(repeated.data()));
  EXPECT_FALSE(Support_vector_columns::handles(decreasing.data()));
  EXPECT_FALSE(Support_vector_columns::handles(negative.data()));
}

struct Prediction_case {
  const char* name;
  int svm_type;
  int kernel_type;
  int nr_class;
  double density;
};

class IndexedPrediction : public ::testing::TestWithParam<Prediction_case> {};

// The same model with and without its copy, sample by sample and in
// batches of every size up to more than one internal batch.
TEST_P(IndexedPrediction, KeepsEveryBit) {
  const Prediction_case& c = GetParam();
  Sample_set svs = random_samples(45, 30, c.density, 8);
  Random_model plain(&svs, c.svm_type, c.kernel_type, c.nr_class, 2);
  Random_model indexed(&svs, c.svm_type, c.kernel_type, c.nr_class, 2);
  index_support_vectors(&indexed.model);
  ASSERT_NE(indexed.model.sv_columns, nullptr);

  Sample_set xs = test_samples(30, c.density);
  xs.rows.push_back({{7, 1}, {3, 2}, {-1, 0}});  // not increasing: the plain walk
  for (int copies = 0; copies < 2; ++copies)     // more than one batch
    for (int b = 0; b < 40; ++b) xs.rows.push_back(xs.rows[b]);
  xs.finish();
  std::vector<const Node*> samples(xs.pointers.begin(), xs.pointers.end());
  std::vector<double> expected(xs.count());
  for (int b = 0; b < xs.count(); ++b) {
    expected[b] = predict_value(&plain.model, samples[b]);
    EXPECT_EQ(bits(predict_value(&indexed.model, samples[b])), bits(expected[b])) << b;
  }
  std::vector<double> values(xs.count());
  predict_values(&indexed.model, samples.data(), xs.count(), values.data());
  for (int b = 0; b < xs.count(); ++b) EXPECT_EQ(bits(values[b]), bits(expected[b])) << b;
  predict_values(&plain.model, samples.data(), xs.count(), values.data());
  for (int b = 0; b < xs.count(); ++b) EXPECT_EQ(bits(values[b]), bits(expected[b])) << b;
}

INSTANTIATE_TEST_SUITE_P(
    Formulations, IndexedPrediction,
    ::testing::Values(Prediction_case{"regression_linear_tiles", epsilon_svr, linear, 2, 0.7},
                      Prediction_case{"regression_linear_columns", epsilon_svr, linear, 2, 0.05},
                      Prediction_case{"regression_polynomial", epsilon_svr, polynomial, 2, 0.7},
                      Prediction_case{"regression_sigmoid", epsilon_svr, sigmoid, 2, 0.05},
                      Prediction_case{"one_against_one", c_svc, linear, 4, 0.7},
                      Prediction_case{"single_problem", kbb, polynomial, 3, 0.05},
                      Prediction_case{"crammer_singer", spoc, sigmoid, 3, 0.7}),
    [](const ::testing::TestParamInfo<Prediction_case>& info) { return info.param.name; });

TEST(IndexSupportVectors, ReplacesTheCopyAndLeavesOtherKernelsWithout) {
  Sample_set svs = random_samples(6, 10, 0.5, 3);
  Random_model model(&svs, epsilon_svr, linear, 2, 1);
  index_support_vectors(&model.model);
  const Support_vector_columns* first = model.model.sv_columns;
  ASSERT_NE(first, nullptr);
  index_support_vectors(&model.model);  // the first copy is released (the leak checks see it)
  EXPECT_NE(model.model.sv_columns, nullptr);
  model.model.param.kernel_type = rbf;
  index_support_vectors(&model.model);
  EXPECT_EQ(model.model.sv_columns, nullptr);
}

TEST(IndexSupportVectors, LoadedModelsHaveTheirCopy) {
  Sample_set svs = random_samples(6, 10, 0.5, 3);
  Random_model model(&svs, epsilon_svr, linear, 2, 1);
  const std::string path = ::testing::TempDir() + "sv_columns_test.model";
  ASSERT_EQ(save_model_file(path.c_str(), &model.model), 0);
  Model* loaded = load_model_file(path.c_str());
  ASSERT_NE(loaded, nullptr);
  EXPECT_NE(loaded->sv_columns, nullptr);
  destroy_model(&loaded);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace tevra
