// tevra-train runs that train: where the model goes, and weights of 0.
#include <cstdlib>
#include <string>

#include "gtest/gtest.h"
#include "tests/tool_runner.h"

namespace tevra {
namespace {

// Two well separated classes and one more, in a file below the work dir.
const char* const small_set =
    "1 1:0.9 2:0.1\n1 1:0.8 2:0.2\n1 1:1 2:0\n"
    "2 1:0.1 2:0.9\n2 1:0.2 2:0.8\n2 1:0 2:1\n"
    "3 1:0.5 2:0.5 3:1\n3 1:0.4 2:0.6 3:1\n";

std::string write_data(const std::string& name, const char* bytes) {
  write_work_file(name, bytes);
  return name;
}

TEST(TrainFlow, ModelGoesToTheCurrentDirectory) {
  write_data("data/small.txt", small_set);
  const Run_result r = run_train("data/small.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(file_exists(work_dir() + "/small.txt.model"));
  EXPECT_FALSE(file_exists(work_dir() + "/data/small.txt.model"));
}

TEST(TrainFlow, NamedModelFileAndIgnoredExtraArgument) {
  write_data("data/named.txt", small_set);
  const Run_result r = run_train("data/named.txt out.mdl extra");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(file_exists(work_dir() + "/out.mdl"));
  EXPECT_FALSE(file_exists(work_dir() + "/extra"));
  EXPECT_FALSE(file_exists(work_dir() + "/named.txt.model"));
}

TEST(TrainFlow, CrossValidationWritesNoModel) {
  write_data("cv.txt", small_set);
  const Run_result r = run_train("-v 2 cv.txt cv.model");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Cross Validation Accuracy = "), std::string::npos);
  EXPECT_FALSE(file_exists(work_dir() + "/cv.model"));
  EXPECT_FALSE(file_exists(work_dir() + "/cv.txt.model"));
}

TEST(TrainFlow, CrLfFileTrainsTheSameModelAsLfFile) {
  std::string crlf;
  for (const char* c = small_set; *c != '\0'; ++c)
    crlf += *c == '\n' ? std::string("\r\n") : std::string(1, *c);
  write_data("lf.txt", small_set);
  write_data("crlf.txt", crlf.c_str());
  ASSERT_EQ(run_train("lf.txt lf.model").status, 0);
  ASSERT_EQ(run_train("crlf.txt crlf.model").status, 0);
  const std::string model = read_file(work_dir() + "/lf.model");
  ASSERT_FALSE(model.empty());
  EXPECT_EQ(read_file(work_dir() + "/crlf.model"), model);
}

TEST(TrainFlow, UnsavableModelFile) {
  write_data("unsaved.txt", small_set);
  const Run_result r = run_train("unsaved.txt no_such_dir/m.model");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "can't save model to file no_such_dir/m.model\n");
}

// A class weight of 0 either trains a model of finite numbers or is
// refused with a clear error, under every formulation.
struct Zero_weight_case {
  const char* name;
  const char* options;
  bool refused;
};

class ZeroWeight : public testing::TestWithParam<Zero_weight_case> {};

TEST_P(ZeroWeight, FiniteModelOrClearError) {
  const std::string data = write_data(std::string(GetParam().name) + ".txt", small_set);
  const std::string model = std::string(GetParam().name) + ".model";
  const Run_result r = run_train(std::string(GetParam().options) + " -w2 0 " + data + " " + model);
  if (GetParam().refused) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Error: weight gives a class cost of 0", 0), 0u) << r.err;
    EXPECT_FALSE(file_exists(work_dir() + "/" + model));
    return;
  }
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = read_file(work_dir() + "/" + model);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.find("nan"), std::string::npos) << text;
  EXPECT_EQ(text.find("inf"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Formulations, ZeroWeight,
    testing::Values(Zero_weight_case{"CSvcRbf", "-s 0", false},
                    Zero_weight_case{"CSvcLinear", "-s 0 -t 0", true},
                    Zero_weight_case{"Kbb", "-s 1", false},
                    Zero_weight_case{"KbbLinear", "-s 1 -t 0", false},
                    Zero_weight_case{"Spoc", "-s 2", false},
                    Zero_weight_case{"Regression", "-s 3", false},
                    Zero_weight_case{"RegressionLinear", "-s 3 -t 0", false},
                    Zero_weight_case{"SpocL2", "-s 4", true}),
    [](const testing::TestParamInfo<Zero_weight_case>& info) { return info.param.name; });

}  // namespace
}  // namespace tevra
