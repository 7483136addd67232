// Tests of cross-validation. The first group runs against stand-ins for
// train_model, training_run_error, predict_value and predict_values,
// defined in this program so that the linker takes them instead of the
// library's: they record every fold's training set and run, and predict
// from each sample's identity, so every printed number is known. The
// second group runs the training tool on real data.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "learn/tevra.h"
#include "tests/tool_runner.h"
#include "tools/train/cross_validation.h"

namespace tevra {

namespace {

// Samples carry their identity as the value of their first entry.
int id_of(const Node* sample) { return static_cast<int>(sample[0].value); }

std::vector<std::vector<int>> training_sets;  // identities trained on, per fold
std::vector<const Training_run*> runs;        // the run of each fold
std::vector<int> predicted;                   // identities predicted, in order
int failing_fold = -1;                        // training of this fold fails
const char* const failure = "the fold's training failed";

// The run handed to cross_validate: only passed on, never looked into.
char run_token;
Training_run* const the_run = reinterpret_cast<Training_run*>(&run_token);
// Prediction of each identity; by default the identity itself.
double (*prediction_of)(int id) = [](int id) { return static_cast<double>(id); };

}  // namespace

Model* train_model(Training_run* run, const Problem* problem, const Parameter* param) {
  std::vector<int> ids;
  for (int i = 0; i < problem->sample_count; ++i) ids.push_back(id_of(problem->samples[i]));
  training_sets.push_back(ids);
  runs.push_back(run);
  if (static_cast<int>(training_sets.size()) - 1 == failing_fold) return nullptr;
  Model* model = static_cast<Model*>(std::calloc(1, sizeof(Model)));
  model->param = *param;
  return model;
}

const char* training_run_error(const Training_run*) { return failure; }

double predict_value(const Model*, const Node* x) {
  predicted.push_back(id_of(x));
  return prediction_of(id_of(x));
}

void predict_values(const Model* model, const Node* const* samples, int count, double* values) {
  for (int b = 0; b < count; ++b) values[b] = predict_value(model, samples[b]);
}

namespace {

class CrossValidation : public ::testing::Test {
 protected:
  void SetUp() override {
    training_sets.clear();
    runs.clear();
    predicted.clear();
    failing_fold = -1;
    prediction_of = [](int id) { return static_cast<double>(id); };
    param = default_parameter();
  }

  // Samples with identities 1..count; labels[i] defaults to the identity.
  void make_set(int count, std::vector<double> labels = {}) {
    nodes.clear();
    pointers.clear();
    this->labels = labels;
    for (int i = 0; i < count; ++i) {
      nodes.push_back({{1, i + 1.0}, {-1, 0}});
      if (labels.empty()) this->labels.push_back(i + 1);
    }
    for (auto& n : nodes) pointers.push_back(n.data());
    problem = Problem{count, 1, this->labels.data(), pointers.data()};
  }

  std::string run(int folds, bool* completed = nullptr) {
    ::testing::internal::CaptureStdout();
    const bool done = cross_validate(the_run, &problem, param, folds);
    if (completed != nullptr) *completed = done;
    return ::testing::internal::GetCapturedStdout();
  }

  std::vector<int> shuffled_ids() const {
    std::vector<int> ids;
    for (int i = 0; i < problem.sample_count; ++i) ids.push_back(id_of(problem.samples[i]));
    return ids;
  }

  Parameter param;
  Problem problem{};
  std::vector<std::vector<Node>> nodes;
  std::vector<Node*> pointers;
  std::vector<double> labels;
};

TEST_F(CrossValidation, FoldsAreContiguousRunsOfTheShuffledOrder) {
  make_set(10);
  run(3);
  const std::vector<int> order = shuffled_ids();
  // The shuffle keeps labels with their samples.
  for (int i = 0; i < 10; ++i) EXPECT_EQ(problem.labels[i], order[i]);
  std::vector<int> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  for (int i = 0; i < 10; ++i) EXPECT_EQ(sorted[i], i + 1);

  const int bounds[] = {0, 3, 6, 10};
  ASSERT_EQ(training_sets.size(), 3u);
  EXPECT_EQ(predicted, order);  // each fold predicted in order, folds in order
  for (int k = 0; k < 3; ++k) {
    std::vector<int> expected;
    for (int i = 0; i < 10; ++i)
      if (i < bounds[k] || i >= bounds[k + 1]) expected.push_back(order[i]);
    EXPECT_EQ(training_sets[k], expected) << "fold " << k;
  }
}

// The unseeded rand of the C library decides the folds: with glibc's first
// values the ten samples land in this order, and so in the folds
// {4, 9, 1}, {2, 10, 6} and {3, 8, 5, 7}.
TEST_F(CrossValidation, FoldsOfTenSamplesArePinned) {
  make_set(10);
  std::srand(1);  // the state of a process that never seeded
  run(3);
  EXPECT_EQ(shuffled_ids(), (std::vector<int>{4, 9, 1, 2, 10, 6, 3, 8, 5, 7}));
  ASSERT_EQ(training_sets.size(), 3u);
  EXPECT_EQ(training_sets[0], (std::vector<int>{2, 10, 6, 3, 8, 5, 7}));
}

// One run serves every fold, so the sub-problem solver's state carries from
// fold to fold.
TEST_F(CrossValidation, EveryFoldTrainsInTheOneRun) {
  make_set(9);
  bool completed = false;
  run(3, &completed);
  EXPECT_TRUE(completed);
  EXPECT_EQ(runs, (std::vector<const Training_run*>(3, the_run)));
}

// A fold whose training fails ends the cross-validation: no later fold
// trains, nothing more is printed, and the caller learns of it.
TEST_F(CrossValidation, FailingFoldStopsTheRest) {
  make_set(9);
  failing_fold = 1;
  bool completed = true;
  const std::string out = run(3, &completed);
  EXPECT_FALSE(completed);
  EXPECT_EQ(training_sets.size(), 2u);
  EXPECT_EQ(predicted.size(), 3u);  // the first fold only
  ASSERT_NE(out.find("Accuracy"), std::string::npos) << out;
  EXPECT_EQ(out.find("Accuracy"), out.rfind("Accuracy")) << out;
  EXPECT_EQ(out.find("Cross Validation"), std::string::npos) << out;
}

TEST_F(CrossValidation, SameLibrarySameFolds) {
  make_set(20);
  std::srand(1);
  run(4);
  const std::vector<int> first = shuffled_ids();
  make_set(20);
  std::srand(1);
  run(4);
  EXPECT_EQ(shuffled_ids(), first);
}

TEST_F(CrossValidation, ClassificationLines) {
  // Identities 1..8; predictions are the identity, labels equal it except
  // for identities 3 and 6 (wrong) and 5 (1.5 more: never exact).
  make_set(8, {1, 2, 30, 4, 6.5, 60, 7, 8});
  const std::string out = run(2);
  const std::vector<int> order = shuffled_ids();
  auto correct_in = [&](int begin, int end) {
    int n = 0;
    for (int i = begin; i < end; ++i) n += order[i] != 3 && order[i] != 5 && order[i] != 6;
    return n;
  };
  const int first = correct_in(0, 4), second = correct_in(4, 8);
  char expected[200];
  std::snprintf(expected, sizeof expected,
                "Accuracy = %g%% (%d/4)\nAccuracy = %g%% (%d/4)\nCross Validation Accuracy = 62.5%%\n",
                100.0 * first / 4, first, 100.0 * second / 4, second);
  EXPECT_EQ(out, expected);
}

TEST_F(CrossValidation, RegressionLines) {
  // Every prediction is the target plus 1 or minus 1: error 1 per sample.
  param.svm_type = epsilon_svr;
  make_set(6, {1.5, 2.5, 3.5, 4.5, 5.5, 6.5});
  prediction_of = [](int id) { return id + 0.5 + (id % 2 == 0 ? 1 : -1); };
  const std::string out = run(3);
  // v - y alternates +1 / -1; Σv = Σy, Σvy = Σy² + Σ(±y).
  EXPECT_EQ(out.substr(0, out.find("Cross Validation")),
            "Mean squared error = 1\nMean squared error = 1\nMean squared error = 1\n");
  double sv = 0, sy = 0, svv = 0, syy = 0, svy = 0;
  for (int id = 1; id <= 6; ++id) {
    const double y = id + 0.5, v = id + 0.5 + (id % 2 == 0 ? 1 : -1);
    sv += v, sy += y, svv += v * v, syy += y * y, svy += v * y;
  }
  const double r2 = ((6 * svy - sv * sy) * (6 * svy - sv * sy)) / ((6 * svv - sv * sv) * (6 * syy - sy * sy));
  // Sums run in shuffled order, so compare the printed value to 6 digits.
  char expected_r2[100];
  std::snprintf(expected_r2, sizeof expected_r2, "Cross Validation Squared correlation coefficient = %g\n", r2);
  EXPECT_NE(out.find("Cross Validation Mean squared error = 1\n"), std::string::npos);
  EXPECT_NE(out.find(expected_r2), std::string::npos) << out;
}

TEST_F(CrossValidation, MoreFoldsThanSamplesLeavesEmptyFolds) {
  make_set(3);
  const std::string out = run(5);
  // Folds [0,0), [0,1), [1,1), [1,2), [2,3): empty ones print 0/0.
  ASSERT_EQ(training_sets.size(), 5u);
  EXPECT_EQ(training_sets[0].size(), 3u);
  EXPECT_EQ(training_sets[2].size(), 3u);
  EXPECT_TRUE(std::regex_match(out, std::regex("Accuracy = -?nan% \\(0/0\\)\n"
                                               "Accuracy = 100% \\(1/1\\)\n"
                                               "Accuracy = -?nan% \\(0/0\\)\n"
                                               "Accuracy = 100% \\(1/1\\)\n"
                                               "Accuracy = 100% \\(1/1\\)\n"
                                               "Cross Validation Accuracy = 100%\n")))
      << out;
}

TEST_F(CrossValidation, ConstantRegressionPredictionsPrintTheUndefinedCorrelation) {
  param.svm_type = epsilon_svr;
  make_set(4, {1, 2, 3, 4});
  prediction_of = [](int) { return 2.0; };
  const std::string out = run(2);
  EXPECT_TRUE(std::regex_search(out, std::regex("Cross Validation Squared correlation coefficient = -?nan\n")))
      << out;
}

// ---------------------------------------------------------------------------
// The training tool on real data

// The lines of the text that match pattern, with their first group.
std::vector<double> matches(const std::string& text, const std::string& pattern) {
  std::vector<double> values;
  const std::regex re(pattern);
  std::istringstream lines(text);
  std::string line;
  std::smatch m;
  while (std::getline(lines, line))
    if (std::regex_match(line, m, re)) values.push_back(std::stod(m[1]));
  return values;
}

TEST(CrossValidationTool, ClassifiesAnEasySetWell) {
  const Run_result r = run_train("-v 5 " TEVRA_TEST_DATA_DIR "/iris.all");
  EXPECT_EQ(r.status, 0);
  const std::string& out = r.out;
  const std::vector<double> folds = matches(out, R"(Accuracy = ([0-9.]+)% \(\d+/30\))");
  EXPECT_EQ(folds.size(), 5u) << out;
  const std::vector<double> total = matches(out, R"(Cross Validation Accuracy = ([0-9.]+)%)");
  ASSERT_EQ(total.size(), 1u) << out;
  EXPECT_GT(total[0], 90);
  EXPECT_EQ(out.substr(out.rfind('\n', out.size() - 2) + 1).rfind("Cross Validation Accuracy = ", 0), 0u);
}

TEST(CrossValidationTool, RegressionPrintsErrorsAndCorrelation) {
  const Run_result r = run_train("-s 3 -v 4 " TEVRA_TEST_DATA_DIR "/diabetes.train");
  EXPECT_EQ(r.status, 0);
  const std::string& out = r.out;
  EXPECT_EQ(matches(out, R"(Mean squared error = ([0-9.e+-]+))").size(), 4u) << out;
  const std::vector<double> mse = matches(out, R"(Cross Validation Mean squared error = ([0-9.e+-]+))");
  const std::vector<double> r2 =
      matches(out, R"(Cross Validation Squared correlation coefficient = ([0-9.e+-]+))");
  ASSERT_EQ(mse.size(), 1u);
  ASSERT_EQ(r2.size(), 1u);
  EXPECT_GT(r2[0], 0.2);
  EXPECT_LT(r2[0], 1);
  EXPECT_GT(mse[0], 0);
}

}  // namespace
}  // namespace tevra
