// Bad input to the two tools beyond the format rules: each run must end with
// one clear message and exit status 1, never with a signal.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>

#include "gtest/gtest.h"
#include "tests/tool_runner.h"

namespace tevra {
namespace {

std::string fixture(const std::string& name) {
  return TEVRA_TEST_DATA_DIR "/../hardening/data/" + name;
}

// count samples, each of a class of its own.
std::string one_sample_classes(int count) {
  std::string text;
  for (int k = 0; k < count; ++k) text += std::to_string(k) + " 1:" + std::to_string(k % 7) + "\n";
  return text;
}

struct Refusal_case {
  const char* name;
  std::string training_set;  // written to the file "set"
  std::string options;       // before the file name
  std::string message;       // expected on standard error
};
void PrintTo(const Refusal_case& c, std::ostream* os) { *os << c.name; }

class TrainingRefusal : public testing::TestWithParam<Refusal_case> {};

TEST_P(TrainingRefusal, EndsWithOneMessageAndStatusOne) {
  const Refusal_case& c = GetParam();
  write_work_file("set", c.training_set);
  const Run_result r = run_in_work_dir(train_command(c.options + " set set.model"));
  ASSERT_TRUE(r.exited) << r.err;
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrainingRefusal,
    testing::Values(
        // The kernel reads position k of every row for the sample with
        // serial number k; a short row would be read beyond its end.
        Refusal_case{"PrecomputedRowMissingEntries", "1 0:1 1:1 2:0.5\n2 0:2 1:0.5\n", "-t 4",
                     "Wrong input format"},
        Refusal_case{"PrecomputedLastRowEndsEarly", "1 0:1 1:1 2:0.5\n2 0:2\n", "-t 4",
                     "Wrong input format"},
        Refusal_case{"PrecomputedRowWithGap", "1 0:1 1:1 3:0.5\n2 0:2 1:0.5 2:1 3:1\n", "-t 4",
                     "Wrong input format"},
        Refusal_case{"IndexBeyondInt", "1 2147483648:1\n", "", "Wrong input format at line 1"},
        Refusal_case{"ValueNotFinite", "1 1:inf\n", "", "Wrong input format at line 1"},
        Refusal_case{"LabelNotANumber", "nan 1:1\n", "", "Wrong input format at line 1"},
        Refusal_case{"NulByteInLine", std::string("1 1:1\n2 1:\0" "5\n", 12), "",
                     "Wrong input format at line 2"},
        // The linear path keeps a weight per feature index, one more for the
        // bias and a padding entry: from index 2147483646 on, the bias or
        // the padding slot (and the vector's length) leave the int range.
        Refusal_case{"LinearCsvcIndexAtIntLimit", "1 2147483647:1\n2 1:1\n", "-t 0",
                     "Error: feature index too large for the weight vector of the linear kernel"},
        Refusal_case{"LinearCsvcIndexBelowIntLimit", "1 2147483646:1\n2 1:1\n", "-t 0",
                     "Error: feature index too large for the weight vector of the linear kernel"},
        Refusal_case{"LinearRegressionIndexBelowIntLimit", "1 2147483646:1\n2 1:1\n", "-s 3 -t 0",
                     "Error: feature index too large for the weight vector of the linear kernel"},
        // kbb has (nr_class - 1) * l variables: 46341 * 46342 passes the int
        // range (the count once wrapped and the variable arrays failed to be
        // made), and the 16-bit class of each variable wrapped from 32768 on.
        Refusal_case{"KbbTooManyClasses", one_sample_classes(46342), "-s 1",
                     "Error: too many classes for kbb"},
        // One of the two folds would hold the only sample and train on none.
        Refusal_case{"CrossValidationOfOneSample", "1 1:1\n", "-v 2",
                     "Error: too few samples for 2-fold cross validation: a fold would train on none\n"}),
    [](const testing::TestParamInfo<Refusal_case>& info) { return std::string(info.param.name); });

// With the address space limited to 1 GiB, the 4 GB weight vector of the
// linear kernel for index 500000000 cannot be had: the run ends with a
// message, not with an uncaught exception. (ASan needs far more address
// space than the limit leaves, so the sanitizer build skips this.)
#if defined(__SANITIZE_ADDRESS__)
#define TEVRA_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TEVRA_ADDRESS_SANITIZER 1
#endif
#endif
TEST(TrainingInput, UnallocatableWeightVectorIsRefused) {
#ifdef TEVRA_ADDRESS_SANITIZER
  GTEST_SKIP() << "address space limit and AddressSanitizer do not mix";
#endif
  write_work_file("huge", "1 500000000:1\n2 1:1\n");
  const Run_result r = run_in_work_dir("ulimit -v 1048576 && " + train_command("-t 0 huge huge.model"));
  ASSERT_TRUE(r.exited) << r.err;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: not enough memory to train\n");
}

// The sub-problem arrays are sized by the smaller of qpsize and the number
// of variables: a qpsize of 20000 on four samples asked for 3.2 GB.
TEST(TrainingInput, LargeQpsizeOnFewSamplesStaysSmall) {
#ifdef TEVRA_ADDRESS_SANITIZER
  GTEST_SKIP() << "address space limit and AddressSanitizer do not mix";
#endif
  write_work_file("four", "1 1:1\n-1 1:-1\n1 1:2\n-1 2:1\n");
  for (const char* options : {"-s 0", "-s 1", "-s 3", "-t 0", "-s 3 -t 0"}) {
    const Run_result r = run_in_work_dir("ulimit -v 1048576 && " +
                                         train_command(std::string(options) + " -q 20000 four four.model"));
    ASSERT_TRUE(r.exited) << options << ": " << r.err;
    EXPECT_EQ(r.status, 0) << options << ": " << r.err;
  }
}

TEST(TrainingInput, ModelFileInMissingDirectoryIsRefused) {
  const Run_result r = run_in_work_dir(train_command("-t 0 '" TEVRA_TEST_DATA_DIR "/iris.all' no-such-dir/iris.model"));
  ASSERT_TRUE(r.exited) << r.err;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "can't save model to file no-such-dir/iris.model\n");
}

struct Prediction_case {
  const char* name;
  std::string test_set;    // written to the file "test"
  std::string model;       // fixture name
  std::string output;      // output file name
  std::string message;     // the end of standard error
};
void PrintTo(const Prediction_case& c, std::ostream* os) { *os << c.name; }

class PredictionRefusal : public testing::TestWithParam<Prediction_case> {};

TEST_P(PredictionRefusal, EndsWithOneMessageAndStatusOne) {
  const Prediction_case& c = GetParam();
  write_work_file("test", c.test_set);
  const Run_result r = run_in_work_dir(predict_command("test '" + fixture(c.model) + "' " + c.output));
  ASSERT_TRUE(r.exited) << r.err;
  EXPECT_EQ(r.status, 1);
  ASSERT_GE(r.err.size(), c.message.size()) << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - c.message.size()), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PredictionRefusal,
    testing::Values(
        Prediction_case{"OutputInMissingDirectory", "1 1:1\n", "three_class.model",
                        "no-such-dir/out", "can't open output file no-such-dir/out\n"},
        Prediction_case{"ModelCutShort", "1 1:1\n", "truncated.model", "out",
                        "can't open model file " + fixture("truncated.model") + "\n"},
        // The model's support vectors name serial numbers 1 and 3: the
        // kernel reads positions 1 and 3 of every test row.
        Prediction_case{"PrecomputedRowMissingEntries", "1 0:1 1:0.5 2:1 3:1\n2 0:2 1:1 2:1\n",
                        "spoc_l2_precomputed.model", "out", "Wrong input format at line 2\n"},
        // Read by position, 3:1 would stand in for the missing 2:v.
        Prediction_case{"PrecomputedRowWithGap", "1 0:1 1:0.5 2:1 3:1\n2 0:2 1:1 3:1 4:1\n",
                        "spoc_l2_precomputed.model", "out", "Wrong input format at line 2\n"},
        Prediction_case{"PrecomputedRowWithoutSerial", "1 1:0.5 2:1 3:1 4:1\n",
                        "spoc_l2_precomputed.model", "out", "Wrong input format at line 1\n"}),
    [](const testing::TestParamInfo<Prediction_case>& info) { return std::string(info.param.name); });

// An output that is also an input would be emptied or replaced before it
// is read: refused before anything is opened for writing.
struct Same_file_case {
  const char* name;
  std::string command;  // run in the work directory
  std::string message;  // all of standard error
  const char* kept;     // the input that must be left as it was
};
void PrintTo(const Same_file_case& c, std::ostream* os) { *os << c.name; }

class SameFileRefusal : public testing::TestWithParam<Same_file_case> {};

TEST_P(SameFileRefusal, LeavesTheInputAsItWas) {
  const Same_file_case& c = GetParam();
  write_work_file("set", "1 1:1\n2 1:2\n");
  write_work_file("test", "1 1:1\n");
  write_work_file("model", read_file(fixture("three_class.model")));
  std::remove(work_path("set-link").c_str());
  ASSERT_EQ(link(work_path("set").c_str(), work_path("set-link").c_str()), 0);
  const std::string before = read_file(work_path(c.kept));
  const Run_result r = run_in_work_dir(c.command);
  ASSERT_TRUE(r.exited) << r.err;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, c.message);
  EXPECT_EQ(read_file(work_path(c.kept)), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SameFileRefusal,
    testing::Values(
        Same_file_case{"ModelIsTrainingSet", train_command("set set"),
                       "Error: model file set is the same file as training set file set\n", "set"},
        Same_file_case{"ModelIsALinkToTrainingSet", train_command("set ./set-link"),
                       "Error: model file ./set-link is the same file as training set file set\n", "set"},
        Same_file_case{"OutputIsTestFile", predict_command("test model test"),
                       "Error: output file test is the same file as test file test\n", "test"},
        Same_file_case{"OutputIsModelFile", predict_command("test model ./model"),
                       "Error: output file ./model is the same file as model file model\n", "model"}),
    [](const testing::TestParamInfo<Same_file_case>& info) { return std::string(info.param.name); });

// Read errors are not the end of the file: an input that cannot be read is
// an error, not an empty set.
struct Read_error_case {
  const char* name;
  std::string command;  // run in the work directory, which has a directory "data"
  std::string message;  // all of standard error
};
void PrintTo(const Read_error_case& c, std::ostream* os) { *os << c.name; }

class UnreadableInput : public testing::TestWithParam<Read_error_case> {};

TEST_P(UnreadableInput, IsAnError) {
  write_work_file("test", "1 1:1\n");
  write_work_file("model", read_file(fixture("three_class.model")));
  const Run_result r = run_in_work_dir(GetParam().command);
  ASSERT_TRUE(r.exited) << r.err;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, GetParam().message);
  EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnreadableInput,
    testing::Values(
        Read_error_case{"TrainingSetIsADirectory", train_command("data m"), "can't read input file data\n"},
        // The reader takes two passes over the set.
        Read_error_case{"TrainingSetIsAPipe", "printf '1 1:1\\n2 1:2\\n' | " + train_command("/dev/stdin m"),
                        "can't read input file /dev/stdin a second time: it must be a regular file, "
                        "not a pipe\n"},
        Read_error_case{"TestFileIsADirectory", predict_command("data model out"),
                        "can't read input file data\n"},
        Read_error_case{"ModelFileIsADirectory", predict_command("test data out"),
                        "can't open model file data\n"}),
    [](const testing::TestParamInfo<Read_error_case>& info) { return std::string(info.param.name); });

// Every allocation of the readers that grows with the input is checked.
// The preloaded library makes allocations above 64 KiB fail; everything
// else the runs need stays below that.
struct Memory_case {
  const char* name;
  std::string input;    // written to the file "input"
  std::string command;  // run in the work directory
  std::string message;  // all of standard error
};
void PrintTo(const Memory_case& c, std::ostream* os) { *os << c.name; }

class OutOfMemory : public testing::TestWithParam<Memory_case> {};

TEST_P(OutOfMemory, EndsWithAMessage) {
#ifdef TEVRA_ADDRESS_SANITIZER
  GTEST_SKIP() << "AddressSanitizer's allocator cannot be replaced by a preloaded one";
#endif
  const Memory_case& c = GetParam();
  write_work_file("input", c.input);
  write_work_file("model", read_file(fixture("epsilon_svr.model")));
  write_work_file("test", "1 1:1\n");
  const Run_result r = run_in_work_dir("LD_PRELOAD='" TEVRA_ALLOCATION_LIMIT_LIBRARY
                                       "' TEVRA_ALLOCATION_LIMIT=65536 " + c.command);
  ASSERT_TRUE(r.exited) << r.err;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, c.message);
}

std::string repeated(const std::string& text, int count) {
  std::string all;
  for (int k = 0; k < count; ++k) all += text;
  return all;
}

std::string long_sample(int entries) {
  std::string line = "1";
  for (int k = 1; k <= entries; ++k) line += " " + std::to_string(k) + ":1";
  return line + "\n";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutOfMemory,
    testing::Values(
        Memory_case{"TrainingLineBuffer", std::string(100000, '1') + "\n", train_command("input m"),
                    "Error: not enough memory\n"},
        Memory_case{"TrainingNodeStore", repeated("1 1:1\n", 5000), train_command("input m"),
                    "Error: not enough memory\n"},
        Memory_case{"TestSampleBuffer", long_sample(5000), predict_command("input model out"),
                    "Error: not enough memory\n"},
        Memory_case{"ModelNodeBlock",
                    "svm_type epsilon_svr\nkernel_type linear\nnr_class 2\ntotal_sv 5000\nSV\n" +
                        repeated("1 1:1 \n", 5000),
                    predict_command("test input out"),
                    "not enough memory to read model file\ncan't open model file input\n"}),
    [](const testing::TestParamInfo<Memory_case>& info) { return std::string(info.param.name); });

struct Completion_case {
  const char* name;
  std::string options;
  const char* training_file = "stalled_pair.train";
  // The run ends with an objective or coefficients that are not finite, and
  // so fails instead of writing them.
  bool diverges = false;
};
void PrintTo(const Completion_case& c, std::ostream* os) { *os << c.name; }

class TrainingCompletes : public testing::TestWithParam<Completion_case> {};

// The pair of classes -1 and 2 has two samples, fewer than half the working
// set, so the solver's shrinking period is 0; at a class cost of 1e20 or
// more its sub-problems stop moving any variable, which used to repeat the
// same pass forever. Under kbb, kernel values that overflow to infinity
// make the gradients NaN, with the same effect. At 1e300 the objective
// overflows; under the sigmoid kernel the regression's dual runs off to
// -inf, and a Cauchy step once extrapolated for ever on the way. Each such
// run fails rather than write a model of infinities.
TEST_P(TrainingCompletes, Ends) {
  const Completion_case& c = GetParam();
  const std::string model = work_path("stalled.model");
  std::remove(model.c_str());
  const Run_result r =
      run_in_work_dir(train_command(c.options + " '" + fixture(c.training_file) + "' stalled.model"));
  ASSERT_TRUE(r.exited) << r.err;
  if (c.diverges) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: training diverged (the kernel matrix is not positive semi-definite?)\n");
    EXPECT_FALSE(file_exists(model));
    EXPECT_EQ(r.out.find("Cross Validation"), std::string::npos) << r.out;
  } else {
    EXPECT_EQ(r.status, 0) << r.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrainingCompletes,
    testing::Values(
        Completion_case{"LinearSeededHugeWeight", "-t 0 -h 0 -q 5 -b 0.1 -i 10 -w-1 1e300",
                        "stalled_pair.train", true},
        Completion_case{"LinearSeededLargeWeight", "-t 0 -h 0 -q 5 -b 0.1 -i 10 -w-1 1e20"},
        Completion_case{"LinearHugeWeight", "-t 0 -w-1 1e300"},
        Completion_case{"RbfHugeWeight", "-t 2 -h 0 -w-1 1e300"},
        Completion_case{"RegressionHugeCost", "-s 3 -t 0 -c 1e300", "stalled_pair.train", true},
        Completion_case{"KbbOverflowingKernel", "-s 1 -t 1 -g 1e300 -r 0.5 -c 0.5 -e 1e-6 -q 5",
                        "overflowing_kernel.train", true},
        Completion_case{"SigmoidRegressionOverflowingBreakpoint",
                        "-s 3 -t 3 -r -100 -c 1e155 -p 1e-140", "overflowing_breakpoint.train", true},
        // The sigmoid kernel matrix of these 15 iris samples is indefinite at
        // gamma 4: spoc_l2's dual has no minimum. Cross-validation stops at
        // the fold that meets it.
        Completion_case{"SpocL2IndefiniteKernel", "-s 4 -t 3 -g 4 -r 0", "iris15.train", true},
        Completion_case{"SpocL2IndefiniteKernelCrossValidation", "-v 3 -s 4 -t 3 -g 4 -r 0",
                        "iris15.train", true}),
    [](const testing::TestParamInfo<Completion_case>& info) { return std::string(info.param.name); });

TEST(TrainingInput, MissingTrainingFileIsRefused) {
  const Run_result r = run_in_work_dir(train_command("no-such-set"));
  ASSERT_TRUE(r.exited);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "can't open input file no-such-set\n");
}

}  // namespace
}  // namespace tevra
