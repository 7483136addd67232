#include "tools/train/training_reader.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/tool_runner.h"

namespace tevra {
namespace {

std::string write_temp_file(const std::string& bytes) {
  static int serial = 0;
  return write_work_file("training_reader_" + std::to_string(serial++) + ".txt", bytes);
}

// One line per sample: "label|index:value index:value".
std::string describe(const Problem& problem) {
  std::ostringstream out;
  for (int i = 0; i < problem.sample_count; ++i) {
    out << problem.labels[i] << '|';
    for (const Node* n = problem.samples[i]; n->index != -1; ++n)
      out << (n == problem.samples[i] ? "" : " ") << n->index << ':' << n->value;
    out << '\n';
  }
  return out.str();
}

// Reads the given file content with the given parameters.
class ReadTrainingSet : public testing::Test {
 protected:
  void TearDown() override {
    std::free(problem_.labels);
    std::free(problem_.samples);
    std::free(node_store_);
    for (const std::string& name : files_) std::remove(name.c_str());
  }
  // Written here, before any death test forks, so that TearDown removes it.
  std::string file_with(const std::string& bytes) {
    files_.push_back(write_temp_file(bytes));
    return files_.back();
  }
  const Problem& read(const std::string& bytes) {
    read_training_set(file_with(bytes).c_str(), &param_, &problem_, &node_store_);
    return problem_;
  }
  std::vector<std::string> files_;
  Parameter param_ = default_parameter();
  Problem problem_{};
  Node* node_store_ = nullptr;
};

struct Accept_case {
  const char* name;
  std::string bytes;
  std::string samples;  // as describe() prints them
  int max_index;
};

class AcceptedFiles : public ReadTrainingSet, public testing::WithParamInterface<Accept_case> {};

TEST_P(AcceptedFiles, ReadAsSamples) {
  const Problem& problem = read(GetParam().bytes);
  EXPECT_EQ(describe(problem), GetParam().samples);
  EXPECT_EQ(problem.max_index, GetParam().max_index);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AcceptedFiles,
    testing::Values(
        Accept_case{"Plain", "1 3:0.5 7:1\n-1 2:4\n", "1|3:0.5 7:1\n-1|2:4\n", 7},
        Accept_case{"IndexZero", "1 0:5 1:2\n", "1|0:5 1:2\n", 1},
        Accept_case{"TrailingWordIgnored", "1 3:0.5 junk\n", "1|3:0.5\n", 3},
        Accept_case{"LabelOnly", "2\n1 4:1\n", "2|\n1|4:1\n", 4},
        Accept_case{"LabelOnlyWithBlank", "2 \n", "2|\n", 0},
        Accept_case{"NoFinalNewline", "1 3:0.5\n2 1:1", "1|3:0.5\n2|1:1\n", 3},
        Accept_case{"TabsAndDoubleBlanks", "1\t3:0.5  4:2\t\n", "1|3:0.5 4:2\n", 4},
        Accept_case{"BlankAfterColon", "1 3: 0.5\n", "1|3:0.5\n", 3},
        Accept_case{"CrLf", "1 3:0.5\r\n2\r\n", "1|3:0.5\n2|\n", 3},
        Accept_case{"CrLfWithoutFinalNewline", "1 3:0.5\r\n2\r", "1|3:0.5\n2|\n", 3},
        Accept_case{"RealLabel", "1.5 1:1\n", "1.5|1:1\n", 1},
        Accept_case{"LargestIntIndex", "1 2147483647:1\n", "1|2147483647:1\n", 2147483647},
        Accept_case{"EmptyFile", "", "", 0}),
    [](const testing::TestParamInfo<Accept_case>& info) { return info.param.name; });

TEST_F(ReadTrainingSet, LongLineReadWhole) {
  std::string line = "1";
  std::string expected = "1|";
  for (int k = 1; k <= 400; ++k) {
    line += " " + std::to_string(k) + ":0.25";
    expected += (k == 1 ? "" : " ") + std::to_string(k) + ":0.25";
  }
  ASSERT_GT(line.size(), 3000u);
  EXPECT_EQ(describe(read(line + "\n-1 2:1\n")), expected + "\n-1|2:1\n");
}

TEST_F(ReadTrainingSet, SamplesShareOneStoreWithTerminators) {
  const Problem& problem = read("1 3:0.5 7:1\n2\n3 1:1\n");
  EXPECT_EQ(problem.samples[0], node_store_);
  EXPECT_EQ(problem.samples[1], node_store_ + 3);
  EXPECT_EQ(problem.samples[2], node_store_ + 4);
  EXPECT_EQ(node_store_[2].index, -1);
  EXPECT_EQ(node_store_[3].index, -1);
  EXPECT_EQ(node_store_[5].index, -1);
}

struct Gamma_case {
  double given;
  const char* bytes;
  double expected;
};

class DefaultGamma : public ReadTrainingSet, public testing::WithParamInterface<Gamma_case> {};

TEST_P(DefaultGamma, FromLargestIndex) {
  param_.gamma = GetParam().given;
  read(GetParam().bytes);
  EXPECT_EQ(param_.gamma, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, DefaultGamma,
                         testing::Values(Gamma_case{0, "1 4:1\n2 2:1\n", 0.25},
                                         Gamma_case{0.5, "1 4:1\n", 0.5},
                                         Gamma_case{0, "1\n2\n", 0},
                                         Gamma_case{0, "1 0:3\n", 0}));

TEST_F(ReadTrainingSet, RegressionTargetsNeedNotFitAnInt) {
  param_.svm_type = epsilon_svr;
  EXPECT_EQ(describe(read("3e9 1:1\n-1e300 1:2\n")), "3e+09|1:1\n-1e+300|1:2\n");
}

TEST_F(ReadTrainingSet, ClassLabelsAtTheIntLimits) {
  EXPECT_EQ(describe(read("2147483647.9 1:1\n-2147483648.9 1:1\n")),
            "2.14748e+09|1:1\n-2.14748e+09|1:1\n");
}

TEST_F(ReadTrainingSet, PrecomputedRows) {
  param_.kernel_type = precomputed;
  // Rows may reach beyond the largest serial number.
  EXPECT_EQ(describe(read("1 0:1 1:4 2:1 3:7\n-1 0:2.9 1:1 2:9 3:0\n")),
            "1|0:1 1:4 2:1 3:7\n-1|0:2.9 1:1 2:9 3:0\n");
}

TEST_F(ReadTrainingSet, MissingFileRefused) {
  const std::string name = testing::TempDir() + "training_reader_test_absent/none.txt";
  EXPECT_EXIT(read_training_set(name.c_str(), &param_, &problem_, &node_store_),
              testing::ExitedWithCode(1), "^can't open input file " + name + "\n$");
}

// Files refused with a message and exit status 1.
struct Refuse_case {
  const char* name;
  std::string bytes;
  int svm_type;
  int kernel_type;
  const char* message;
};

class RefusedFiles : public ReadTrainingSet, public testing::WithParamInterface<Refuse_case> {};

TEST_P(RefusedFiles, ExitWithMessage) {
  param_.svm_type = GetParam().svm_type;
  param_.kernel_type = GetParam().kernel_type;
  const std::string name = file_with(GetParam().bytes);
  EXPECT_EXIT(read_training_set(name.c_str(), &param_, &problem_, &node_store_),
              testing::ExitedWithCode(1), GetParam().message);
}

const char* const line1 = "^Wrong input format at line 1\n$";
const char* const line2 = "^Wrong input format at line 2\n$";
const char* const line3 = "^Wrong input format at line 3\n$";
const char* const first_column =
    "^Wrong input format: first column must be 0:sample_serial_number\n$";
const char* const out_of_range = "^Wrong input format: sample_serial_number out of range\n$";

Refuse_case format(const char* name, std::string bytes, const char* message,
                   int svm_type = c_svc) {
  return Refuse_case{name, std::move(bytes), svm_type, rbf, message};
}
Refuse_case precomputed_rows(const char* name, std::string bytes, const char* message) {
  return Refuse_case{name, std::move(bytes), c_svc, precomputed, message};
}

INSTANTIATE_TEST_SUITE_P(
    Format, RefusedFiles,
    testing::Values(
        format("EmptyLine", "1 1:1\n\n2 1:1\n", line2),
        format("BlankLine", "1 1:1\n2 1:1\n \t\n", line3),
        format("EmptyLastLineWithCr", "1 1:1\n\r", line2),
        format("DecreasingIndex", "1 3:0.5 2:1\n", line1),
        format("RepeatedIndex", "1 1:1\n1 2:0.5 2:1\n", line2),
        format("NegativeIndex", "1 -1:3\n", line1),
        format("BlankBeforeColon", "1 3 :0.5\n", line1),
        format("JunkAfterValue", "1 3:0.5x\n", line1),
        format("JunkInLabel", "1 1:1\n1a 1:1\n", line2),
        format("WordLabel", "abc\n", line1),
        format("MissingIndex", "1 :0.5\n", line1),
        format("MissingIndexAfterEntry", "1 1:1 :0.5\n", line1),
        format("DoubleColon", "1 1::0.5\n", line1),
        format("EmptyValueAtEnd", "1 1:1\n2 3:\n", line2),
        format("EmptyValueAtEndOfFile", "1 1:1\n2 3:", line2),
        format("EmptyValueBeforeCrLf", "1 3:\r\n", line1),
        format("IndexBeyondInt", "1 2147483648:1\n", line1),
        format("IndexFarBeyondInt", "1 1:1\n1 4294967297:1\n", line2),
        format("ValueOutOfRange", "1 1:1e999\n", line1),
        format("ValueNan", "1 1:nan\n", line1),
        format("ValueInf", "1 1:1\n2 1:-inf\n", line2),
        format("LabelNan", "1 1:1\nnan 1:1\n", line2),
        format("LabelInf", "inf 1:1\n", line1),
        format("LabelOutOfRange", "1e400 1:1\n", line1),
        format("RegressionTargetNan", "nan 1:1\n", line1, epsilon_svr),
        format("ClassLabelBeyondInt", "1 1:1\n2147483648 1:1\n", line2),
        format("ClassLabelBelowInt", "-2147483649 1:1\n", line1),
        format("ClassLabelBeyondIntKbb", "3e9 1:1\n", line1, kbb),
        format("ClassLabelBeyondIntSpoc", "3e9 1:1\n", line1, spoc),
        format("ClassLabelBeyondIntSpocL2", "3e9 1:1\n", line1, spoc_l2),
        format("NulByte", std::string("1 1:1\n2 1:1\0 2:1\n3 1:1\n", 22), line2),
        format("NulByteLastLine", std::string("1 1:1\n2 1:\0", 11), line2)),
    [](const testing::TestParamInfo<Refuse_case>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Precomputed, RefusedFiles,
    testing::Values(
        precomputed_rows("FirstColumnNotZero", "1 0:1 1:1\n1 1:1 2:1\n", first_column),
        precomputed_rows("NoColumns", "1 0:1 1:1\n1\n", first_column),
        precomputed_rows("SerialZero", "1 0:0 1:1\n", out_of_range),
        precomputed_rows("SerialBelowOneAfterTruncation", "1 0:0.9 1:1\n", out_of_range),
        precomputed_rows("SerialAboveMaxIndex", "1 0:1 1:1 2:1\n1 0:3 1:1 2:1\n", out_of_range),
        precomputed_rows("SerialHuge", "1 0:1e300 1:1\n", out_of_range),
        // the format messages win over the row-shape check, as before
        precomputed_rows("FirstColumnBeforeGap", "1 0:1 2:1\n1 1:1\n", first_column),
        precomputed_rows("Gap", "1 0:1 1:1 2:1\n1 0:2 2:1\n",
                         "^Wrong input format at line 2: precomputed kernel values must be at "
                         "indices 1, 2, ... up to 2 without gaps\n$"),
        precomputed_rows("ShortRow", "1 0:1 1:1 2:1 3:1\n1 0:3 1:1\n1 0:2 1:1 2:1 3:1\n",
                         "^Wrong input format at line 2: precomputed kernel values must be at "
                         "indices 1, 2, ... up to 3 without gaps\n$")),
    [](const testing::TestParamInfo<Refuse_case>& info) { return info.param.name; });

}  // namespace
}  // namespace tevra
