// load_model_file on model files cut short at every byte: each prefix is
// refused with a message, since the writer ends every file with a complete
// line and the reader can tell a cut file from it; nothing crashes or leaks
// (the sanitizer build checks the latter).
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "learn/tevra.h"
#include "tests/tool_runner.h"

namespace tevra {
namespace {

// A sample holding entries 0 .. 7, enough for every fixture (the precomputed
// one names serial numbers up to 3).
std::vector<Node> probe_sample() {
  std::vector<Node> x;
  for (int k = 0; k < 8; ++k) x.push_back(Node{k, 0.125 * k - 0.25});
  x.push_back(Node{-1, 0});
  return x;
}

class TruncatedModelFile : public testing::TestWithParam<const char*> {};

TEST_P(TruncatedModelFile, EveryPrefixIsRefused) {
  const std::string text = read_file(TEVRA_TEST_DATA_DIR "/../hardening/data/" + std::string(GetParam()));
  ASSERT_FALSE(text.empty());
  const std::string path = work_path("scratch");
  for (std::size_t n = 0; n < text.size(); ++n) {
    write_file(path, text.substr(0, n));
    testing::internal::CaptureStderr();
    Model* model = load_model_file(path.c_str());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(model, nullptr) << "prefix of " << n << " bytes loaded";
    EXPECT_FALSE(err.empty()) << "prefix of " << n << " bytes refused without a message";
    destroy_model(&model);
  }
  write_file(path, text);
  Model* whole = load_model_file(path.c_str());
  ASSERT_NE(whole, nullptr);
  const std::vector<Node> x = probe_sample();
  predict_value(whole, x.data());
  destroy_model(&whole);
  std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Fixtures, TruncatedModelFile,
                         testing::Values("three_class.model", "epsilon_svr.model", "kbb.model",
                                         "spoc.model", "spoc_l2_precomputed.model"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           std::string out;
                           for (char c : name.substr(0, name.find('.')))
                             if (c != '_') out += c;
                           return out;
                         });

// Model files the fuzzer found that load and then made predict_value fail.
struct Loaded_model_case {
  const char* name;
  const char* file;  // fixture
  double prediction;  // of the probe sample
};
void PrintTo(const Loaded_model_case& c, std::ostream* os) { *os << c.name; }

class LoadedModel : public testing::TestWithParam<Loaded_model_case> {};

TEST_P(LoadedModel, Predicts) {
  const Loaded_model_case& c = GetParam();
  Model* model = load_model_file((TEVRA_TEST_DATA_DIR "/../hardening/data/" + std::string(c.file)).c_str());
  ASSERT_NE(model, nullptr);
  const std::vector<Node> x = probe_sample();
  EXPECT_EQ(predict_value(model, x.data()), c.prediction);
  destroy_model(&model);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadedModel,
    testing::Values(
        // kbb keeps nr_class - 1 coefficient rows: none for one class, while
        // its support vector still asked for row 0.
        Loaded_model_case{"KbbOneClassWithSupportVector", "kbb_one_class_with_sv.model", 3}),
    [](const testing::TestParamInfo<Loaded_model_case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tevra
