// Both tools read the same line format: every line below must be accepted
// by the training reader and by tevra-predict with the same entries, or
// refused by both with the message naming its line.
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>

#include "gtest/gtest.h"
#include "learn/tevra.h"
#include "tests/tool_runner.h"
#include "tools/train/training_reader.h"

namespace tevra {
namespace {

struct Line_case {
  const char* name;
  std::string line;     // the second line of the file; the first is "1 1:1\n"
  bool accepted;
  std::string sample;   // when accepted: "label|index:value ..." as read
};
void PrintTo(const Line_case& c, std::ostream* os) { *os << c.name; }

// One line per sample: "label|index:value index:value".
std::string describe(double label, const Node* nodes) {
  std::ostringstream out;
  out << label << '|';
  for (const Node* n = nodes; n->index != -1; ++n)
    out << (n == nodes ? "" : " ") << n->index << ':' << n->value;
  return out.str();
}

// Linear regression on the entries at 0 .. 3 with distinct weights, so that
// a lost or moved entry changes the prediction.
const char kModel[] =
    "svm_type epsilon_svr\nkernel_type linear\nnr_class 2\ntotal_sv 1\nSV\n"
    "1 0:1 1:10 2:100 3:1000 \n";

class BothTools : public testing::TestWithParam<Line_case> {};

TEST_P(BothTools, AcceptOrRefuseAlike) {
  const Line_case& c = GetParam();
  const std::string data = write_work_file(std::string(c.name) + ".txt", "1 1:1\n" + c.line);
  const std::string model = write_work_file(std::string(c.name) + ".model", kModel);
  const Run_result predicted = run_predict("'" + data + "' '" + model + "' predictions");

  Parameter param = default_parameter();
  param.svm_type = epsilon_svr;  // targets need not be class labels here
  Problem problem{};
  Node* store = nullptr;
  if (!c.accepted) {
    EXPECT_EXIT(read_training_set(data.c_str(), &param, &problem, &store),
                testing::ExitedWithCode(1), "^Wrong input format at line 2\n$");
    EXPECT_EQ(predicted.status, 1);
    EXPECT_EQ(predicted.err, "Wrong input format at line 2\n");
    return;
  }

  read_training_set(data.c_str(), &param, &problem, &store);
  ASSERT_EQ(problem.sample_count, 2);
  EXPECT_EQ(describe(problem.labels[1], problem.samples[1]), c.sample);
  ASSERT_EQ(predicted.status, 0) << predicted.err;
  // tevra-predict must have read the same sample as the training reader.
  Model* loaded = load_model_file(model.c_str());
  ASSERT_NE(loaded, nullptr);
  char expected[64];
  std::snprintf(expected, sizeof expected, "%g\n", predict_value(loaded, problem.samples[1]));
  const std::string predictions = read_file(work_path("predictions"));
  EXPECT_EQ(predictions.substr(predictions.find('\n') + 1), expected);
  destroy_model(&loaded);
  std::free(problem.labels);
  std::free(problem.samples);
  std::free(store);
}

Line_case accepted(const char* name, std::string line, std::string sample) {
  return Line_case{name, std::move(line), true, std::move(sample)};
}
Line_case refused(const char* name, std::string line) {
  return Line_case{name, std::move(line), false, ""};
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BothTools,
    testing::Values(
        accepted("Plain", "1 1:0.5 3:2\n", "1|1:0.5 3:2"),
        accepted("LastLineWithoutNewline", "-2 1:4", "-2|1:4"),
        accepted("LabelOnly", "2\n", "2|"),
        accepted("LabelOnlyCrLf", "2\r\n", "2|"),
        accepted("CrLfAfterValue", "1 1:0.5\r\n", "1|1:0.5"),
        accepted("IndexZero", "1 0:5 1:2\n", "1|0:5 1:2"),
        accepted("TabsAndDoubleBlanks", "1\t2:1  3:2\n", "1|2:1 3:2"),
        accepted("BlankAfterColon", "1 2: 0.5\n", "1|2:0.5"),
        accepted("TrailingWordIgnored", "1 3:0.5 end\n", "1|3:0.5"),
        accepted("LabelThenWordOnly", "1 end\n", "1|"),
        accepted("RegressionTargetBeyondInt", "3e9 1:1\n", "3e+09|1:1"),
        refused("Empty", "\n"),
        refused("BlankOnly", " \t\n"),
        refused("WordLabel", "abc 1:1\n"),
        refused("LabelNotANumber", "nan 1:1\n"),
        refused("LabelOverflows", "1e400 1:1\n"),
        refused("LabelUnderflows", "1e-400 1:1\n"),
        refused("CarriageReturnInsideLabel", "1\r 1:2\n"),
        refused("MissingIndex", "1 :0.5\n"),
        refused("MissingIndexAfterEntry", "1 1:1 :2\n"),
        refused("LeadingColons", "1 ::3:0.5\n"),
        refused("DoubleColon", "1 1::0.5\n"),
        refused("ColonInValue", "1 1:0.5:3\n"),
        refused("BlankBeforeColon", "1 3 :0.5\n"),
        refused("IndicesDecrease", "1 3:0.5 2:1\n"),
        refused("IndicesRepeat", "1 0:1 0:2\n"),
        refused("NegativeIndex", "1 -1:3\n"),
        refused("IndexBeyondInt", "1 2147483648:1\n"),
        refused("IndexBeyondLong", "1 99999999999999999999:1\n"),
        refused("JunkAfterValue", "1 3:0.5x\n"),
        refused("ValueInfinite", "1 1:inf\n"),
        refused("ValueOverflows", "1 1:1e400\n"),
        refused("ValueUnderflows", "1 1:1e-400\n"),
        refused("EmptyValue", "1 3:\n"),
        refused("EmptyValueAtFileEnd", "1 3:"),
        refused("NulByte", std::string("1 1:2\0 3:4\n", 11))),
    [](const testing::TestParamInfo<Line_case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tevra
