#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "tests/tool_runner.h"
#include "tools/common/sample_line.h"

namespace tevra {
namespace {

// ---------------------------------------------------------------------------
// One test line

struct Line_case {
  const char* name;
  std::string line;
  bool accepted;
  double target;
  std::vector<std::pair<int, double>> entries;
};
void PrintTo(const Line_case& c, std::ostream* os) {
  *os << c.name;
}

class TestLine : public ::testing::TestWithParam<Line_case> {};

TEST_P(TestLine, ParsesOrRefuses) {
  const Line_case& c = GetParam();
  Sample_buffer buffer = make_sample_buffer();
  double target = -99;
  int count = -1;
  const bool accepted = parse_sample_line(c.line.c_str(), c.line.size(), &buffer, &target, &count);
  EXPECT_EQ(accepted, c.accepted);
  if (accepted && c.accepted) {
    EXPECT_EQ(target, c.target);
    ASSERT_EQ(count, static_cast<int>(c.entries.size()));
    for (int i = 0; i < count; ++i) {
      EXPECT_EQ(buffer.nodes[i].index, c.entries[i].first);
      EXPECT_EQ(buffer.nodes[i].value, c.entries[i].second);
    }
    EXPECT_EQ(buffer.nodes[count].index, -1);
  }
  release_sample_buffer(&buffer);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TestLine,
    ::testing::Values(
        Line_case{"Plain", "1 3:0.5 7:1\n", true, 1, {{3, 0.5}, {7, 1}}},
        Line_case{"LastLineWithoutNewline", "-2 1:4", true, -2, {{1, 4}}},
        Line_case{"LabelOnly", "2\n", true, 2, {}},
        Line_case{"LabelOnlyWithCarriageReturn", "2\r\n", true, 2, {}},
        Line_case{"CarriageReturnAfterValue", "1 1:0.5\r\n", true, 1, {{1, 0.5}}},
        Line_case{"TabsAndDoubleBlanks", "1\t2:1  4:2\n", true, 1, {{2, 1}, {4, 2}}},
        Line_case{"IndexZero", "1 0:5 1:2\n", true, 1, {{0, 5}, {1, 2}}},
        Line_case{"TrailingWordIgnored", "1 3:0.5 end\n", true, 1, {{3, 0.5}}},
        Line_case{"LabelThenWordOnly", "1 end\n", true, 1, {}},
        Line_case{"TrailingBlank", "1 3:0.5 \n", true, 1, {{3, 0.5}}},
        Line_case{"Empty", "\n", false, 0, {}},
        Line_case{"BlankOnly", " \t\n", false, 0, {}},
        Line_case{"LabelWord", "abc 1:2\n", false, 0, {}},
        Line_case{"LabelNotANumber", "nan 1:2\n", false, 0, {}},
        Line_case{"LabelInfinite", "1e999 1:2\n", false, 0, {}},
        Line_case{"LabelUnderflows", "1e-400 1:2\n", false, 0, {}},
        Line_case{"IndicesDecrease", "1 3:0.5 2:1\n", false, 0, {}},
        Line_case{"IndicesRepeat", "1 0:1 0:2\n", false, 0, {}},
        Line_case{"NegativeIndex", "1 -1:3\n", false, 0, {}},
        Line_case{"IndexBeyondInt", "1 4294967296:3\n", false, 0, {}},
        Line_case{"BlankBeforeColon", "1 3 :0.5\n", false, 0, {}},
        Line_case{"LeftoverAfterValue", "1 1:0.5x\n", false, 0, {}},
        Line_case{"ValueNotANumber", "1 1:nan\n", false, 0, {}},
        Line_case{"ValueInfinite", "1 1:inf\n", false, 0, {}},
        Line_case{"ValueOutOfRange", "1 1:1e999\n", false, 0, {}},
        Line_case{"EmptyValueAtLineEnd", "1 3:\n", false, 0, {}},
        Line_case{"EmptyValueAtFileEnd", "1 3:", false, 0, {}},
        Line_case{"NulByte", std::string("1 1:2\0 3:4\n", 11), false, 0, {}}),
    [](const ::testing::TestParamInfo<Line_case>& info) { return std::string(info.param.name); });

TEST(TestLineBuffer, GrowsAndKeepsRoomForTheTerminator) {
  Sample_buffer buffer = make_sample_buffer();
  std::string line = "1";
  for (int i = 1; i <= 200; ++i) line += " " + std::to_string(i) + ":" + std::to_string(i);
  line += "\n";
  double target;
  int count;
  ASSERT_TRUE(parse_sample_line(line.c_str(), line.size(), &buffer, &target, &count));
  EXPECT_EQ(count, 200);
  EXPECT_GE(buffer.capacity, 201);
  EXPECT_EQ(buffer.nodes[199].index, 200);
  EXPECT_EQ(buffer.nodes[199].value, 200);
  EXPECT_EQ(buffer.nodes[200].index, -1);
  release_sample_buffer(&buffer);
}

// ---------------------------------------------------------------------------
// The program

class PredictTool : public ::testing::Test {
 protected:
  // Runs on a test set and a model given as texts; the output file is
  // work_path("predictions").
  Run_result predict(const std::string& test, const std::string& model) {
    write_file(work_path("test"), test);
    write_file(work_path("model"), model);
    std::remove(work_path("predictions").c_str());
    return run_predict(work_path("test") + " " + work_path("model") + " " + work_path("predictions"));
  }
};

// Predicts 1 when x1 > -1, else 1000000: the one support vector of class 1
// has coefficient 1 and the linear kernel, shifted by 1.
const char kTwoClassModel[] =
    "svm_type c_svc\nkernel_type linear\nnr_class 2\ntotal_sv 1\nlabel 1 1000000\nnr_sv 1 0\nSV\n1 1:1 \n";
// Predicts x1 + 1.
const char kRegressionModel[] =
    "svm_type epsilon_svr\nkernel_type linear\nnr_class 2\ntotal_sv 1\nSV\n1 1:1 \n";
// Predicts x[2] + 1, the entry at position 2 of the test line.
const char kPrecomputedModel[] =
    "svm_type epsilon_svr\nkernel_type precomputed\nnr_class 2\ntotal_sv 1\nSV\n1 0:2 \n";

TEST_F(PredictTool, WrongArgumentCountPrintsUsageAndCreatesNothing) {
  for (const char* arguments : {"a b", "a b c d"}) {
    std::remove(work_path("c").c_str());
    const Run_result result = run_predict(arguments);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "usage: tevra-predict test_file model_file output_file\n");
    EXPECT_FALSE(file_exists(work_path("c")));
  }
}

TEST_F(PredictTool, MissingModelStillLeavesAnEmptyOutputFile) {
  write_file(work_path("test"), "1 1:1\n");
  std::remove(work_path("predictions").c_str());
  const Run_result result = run_predict(work_path("test") + " " + work_path("no-model") + " " + work_path("predictions"));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "can't open model file " + work_path("no-model") + "\n");
  EXPECT_TRUE(file_exists(work_path("predictions")));
  EXPECT_EQ(read_file(work_path("predictions")), "");
}

TEST_F(PredictTool, MalformedModelPrintsTheLoadersMessageFirst) {
  const Run_result result = predict("1 1:1\n", "svm_type nu_svc\n");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "unknown svm type.\ncan't open model file " + work_path("model") + "\n");
}

TEST_F(PredictTool, UnopenableFilesAreNamed) {
  write_file(work_path("model"), kTwoClassModel);
  Run_result result = run_predict(work_path("no-test") + " " + work_path("model") + " " + work_path("predictions"));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "can't open input file " + work_path("no-test") + "\n");
  write_file(work_path("test"), "1 1:1\n");
  result = run_predict(work_path("test") + " " + work_path("model") + " /nonexistent-directory/out");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "can't open output file /nonexistent-directory/out\n");
}

TEST_F(PredictTool, ClassificationAccuracyAndLabelsInExponentForm) {
  const Run_result result = predict("1 1:0.5\n1000000 1:-3\n1 1:-2\n1\n", kTwoClassModel);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(read_file(work_path("predictions")), "1\n1e+06\n1e+06\n1\n");
  EXPECT_EQ(result.out, "Accuracy = 75% (3/4) (classification)\n");
}

TEST_F(PredictTool, CarriageReturnLineEndsReadLikeNewlines) {
  const Run_result result = predict("1 1:0.5\r\n1000000 1:-3\r\n1\r\n", kTwoClassModel);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "Accuracy = 100% (3/3) (classification)\n");
}

TEST_F(PredictTool, ExactRegressionHasNoErrorAndFullCorrelation) {
  const Run_result result = predict("3 1:2\n5 1:4\n-1 1:-2\n", kRegressionModel);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(read_file(work_path("predictions")), "3\n5\n-1\n");
  EXPECT_EQ(result.out,
            "Mean squared error = 0 (regression)\nSquared correlation coefficient = 1 (regression)\n");
}

TEST_F(PredictTool, InexactRegressionSummary) {
  // Predictions 0.5, 1.5, 4.5 of the targets 0, 2, 4: every error is 0.5,
  // and the correlation is 12/13.
  const Run_result result = predict("0 1:-0.5\n2 1:0.5\n4 1:3.5\n", kRegressionModel);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(read_file(work_path("predictions")), "0.5\n1.5\n4.5\n");
  EXPECT_EQ(result.out,
            "Mean squared error = 0.25 (regression)\n"
            "Squared correlation coefficient = 0.923077 (regression)\n");
}

TEST_F(PredictTool, EmptyTestFilePrintsTheUndefinedQuotient) {
  const Run_result result = predict("", kTwoClassModel);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "Accuracy = -nan% (0/0) (classification)\n");
}

TEST_F(PredictTool, MalformedLineIsRefusedWithItsNumberAfterEarlierPredictions) {
  for (const char* bad : {"1 3:0.5 2:1\n", "1 0:1 0:2\n", "abc 1:1\n", "1 1:0.5x\n", "\n",
                          "1 1:nan\n"}) {
    const Run_result result = predict(std::string("1 1:1\n1000000 1:-5\n") + bad + "1 1:1\n", kTwoClassModel);
    EXPECT_EQ(result.status, 1) << bad;
    EXPECT_EQ(result.err, "Wrong input format at line 3\n") << bad;
    EXPECT_EQ(read_file(work_path("predictions")), "1\n1e+06\n") << bad;
  }
}

TEST_F(PredictTool, LinesPredictedInBatchesKeepTheirOrder) {
  // More lines than one batch holds; a malformed line after the first batch
  // still leaves every earlier prediction in the file.
  std::string test, expected;
  for (int k = 1; k <= 70; ++k) {
    test += std::to_string(k + 1) + " 1:" + std::to_string(k) + "\n";
    expected += std::to_string(k + 1) + "\n";
  }
  Run_result result = predict(test, kRegressionModel);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(read_file(work_path("predictions")), expected);
  EXPECT_EQ(result.out,
            "Mean squared error = 0 (regression)\nSquared correlation coefficient = 1 (regression)\n");

  const size_t line_40 = test.find("41 1:40\n");
  result = predict(test.substr(0, line_40) + "41 1:x\n" + test.substr(line_40), kRegressionModel);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Wrong input format at line 40\n");
  EXPECT_EQ(read_file(work_path("predictions")), expected.substr(0, expected.find("41\n")));
}

TEST_F(PredictTool, NulByteIsRefusedAtItsOwnLine) {
  const char text[] = "1 1:1\n1 1:3\0 2:1\n1 1:2\n";
  const Run_result result = predict(std::string(text, sizeof text - 1), kTwoClassModel);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Wrong input format at line 2\n");
}

TEST_F(PredictTool, PrecomputedLineMustHoldEverySerialsPosition) {
  Run_result result = predict("4 0:1 1:0.5 2:3\n", kPrecomputedModel);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(read_file(work_path("predictions")), "4\n");
  result = predict("4 0:1 1:0.5 2:3\n4 0:2 1:0.5\n", kPrecomputedModel);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Wrong input format at line 2\n");
  EXPECT_EQ(read_file(work_path("predictions")), "4\n");
}

TEST_F(PredictTool, LongSampleIsPredictedUnchanged) {
  std::string line = "4 1:3";
  for (int i = 2; i <= 100; ++i) line += " " + std::to_string(i) + ":7";
  const Run_result result = predict(line + "\n", kRegressionModel);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(read_file(work_path("predictions")), "4\n");
}

TEST_F(PredictTool, FailedWriteOfPredictionsIsAnError) {
  write_file(work_path("test"), "1 1:1\n");
  write_file(work_path("model"), kTwoClassModel);
  const Run_result result = run_predict(work_path("test") + " " + work_path("model") + " /dev/full");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "can't write output file /dev/full\n");
  EXPECT_EQ(result.out, "");
}

TEST_F(PredictTool, PredictsAHeldOutSetFromATrainedModel) {
  const std::string data = TEVRA_TEST_DATA_DIR;
  const std::string model = work_path("trained.model");
  ASSERT_EQ(run_train(data + "/breast_cancer.train " + model).status, 0);
  EXPECT_EQ(read_file(model).rfind("svm_type c_svc\nkernel_type rbf\ngamma ", 0), 0u);
  const Run_result result = run_predict(data + "/breast_cancer.test " + model + " " + work_path("predictions"));
  EXPECT_EQ(result.status, 0) << result.err;
  double accuracy = 0;
  int correct = 0, total = 0;
  ASSERT_EQ(std::sscanf(result.out.c_str(), "Accuracy = %lf%% (%d/%d) (classification)", &accuracy,
                        &correct, &total),
            3)
      << result.out;
  EXPECT_EQ(total, 169);
  EXPECT_GT(accuracy, 90);
  // One prediction per test line, each a class label of the set.
  std::istringstream lines(read_file(work_path("predictions")));
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    EXPECT_TRUE(line == "1" || line == "-1") << line;
    ++count;
  }
  EXPECT_EQ(count, 169);
}

// Lines are predicted in batches on several threads: the file must still
// receive every prediction in input order, across batch boundaries, and a
// malformed line deep in a batch must stop the run right there.
TEST_F(PredictTool, ManyLinesOnSeveralThreadsKeepTheirOrder) {
  const int lines = 10000;  // more than two batches
  const int bad = 9000;     // in the third batch
  std::string test, broken, expected, expected_before_bad;
  for (int i = 1; i <= lines; ++i) {
    const std::string line = std::to_string(i) + " 1:" + std::to_string(i - 1) + "\n";
    test += line;
    broken += i == bad ? "1 2:1 1:1\n" : line;
    expected += std::to_string(i) + "\n";
    if (i < bad) expected_before_bad += std::to_string(i) + "\n";
  }
  write_file(work_path("model"), kRegressionModel);
  const std::string arguments =
      work_path("test") + " " + work_path("model") + " " + work_path("predictions");
  for (const std::string threads : {"1", "3"}) {
    const std::string command = "OMP_NUM_THREADS=" + threads + " " + predict_command(arguments);
    write_file(work_path("test"), test);
    Run_result result = run_in_work_dir(command);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(read_file(work_path("predictions")) == expected) << threads << " threads";
    EXPECT_EQ(result.out,
              "Mean squared error = 0 (regression)\n"
              "Squared correlation coefficient = 1 (regression)\n");

    write_file(work_path("test"), broken);
    result = run_in_work_dir(command);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Wrong input format at line " + std::to_string(bad) + "\n");
    EXPECT_TRUE(read_file(work_path("predictions")) == expected_before_bad)
        << threads << " threads";
  }
}

// A line whose sample buffer cannot be had, parsed by a worker thread,
// ends the run as it does on one thread: the one message, exit status 1,
// the same predictions written before it. The preloaded library fails every
// allocation above 64 KiB; the long line's text stays below that, its
// buffer of one node per ':' does not.
TEST_F(PredictTool, FailedAllocationOnAWorkerEndsTheRunAsOnOneThread) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' allocators cannot be replaced by a preloaded one";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  GTEST_SKIP() << "the sanitizers' allocators cannot be replaced by a preloaded one";
#endif
#endif
  // 100 lines in one batch, three stretches: line 91 is in the third.
  std::string test;
  for (int i = 1; i <= 100; ++i) {
    if (i == 91) {
      test += "1";
      for (int k = 0; k < 6000; ++k) test += " 1:1";
      test += "\n";
    } else {
      test += std::to_string(i) + " 1:" + std::to_string(i - 1) + "\n";
    }
  }
  write_file(work_path("test"), test);
  write_file(work_path("model"), kRegressionModel);
  const std::string arguments =
      work_path("test") + " " + work_path("model") + " " + work_path("predictions");
  std::string written[2];
  int run = 0;
  for (const std::string threads : {"1", "3"}) {
    std::remove(work_path("predictions").c_str());
    const Run_result result = run_in_work_dir(
        "OMP_NUM_THREADS=" + threads + " LD_PRELOAD='" TEVRA_ALLOCATION_LIMIT_LIBRARY
        "' TEVRA_ALLOCATION_LIMIT=65536 " + predict_command(arguments));
    ASSERT_TRUE(result.exited) << threads << " threads: " << result.err;
    EXPECT_EQ(result.status, 1) << threads << " threads";
    EXPECT_EQ(result.err, "Error: not enough memory\n") << threads << " threads";
    written[run++] = read_file(work_path("predictions"));
  }
  EXPECT_TRUE(written[0] == written[1]);
}

}  // namespace
}  // namespace tevra
