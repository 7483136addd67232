#include "tools/train/options.h"

#include <cstdio>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace tevra {
namespace {

// Owns an argv built from strings; argv[0] is the command name.
class Command_line {
 public:
  explicit Command_line(std::vector<std::string> arguments) : storage_(std::move(arguments)) {
    storage_.insert(storage_.begin(), "tevra-train");
    for (std::string& s : storage_) pointers_.push_back(&s[0]);
    pointers_.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(storage_.size()); }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> storage_;
  std::vector<char*> pointers_;
};

// Parses a command line that is expected to succeed.
class ParseOptions : public testing::Test {
 protected:
  void TearDown() override { release_parameter(&options_.param); }
  Train_options& parse(std::vector<std::string> arguments) {
    Command_line line(std::move(arguments));
    parse_options(line.argc(), line.argv(), &options_);
    return options_;
  }
  Train_options options_{};
};

// Every option with a value of its own: its default, a value to give it,
// what that sets, and the field it sets.
struct Option_field {
  const char* option;
  double default_value;
  const char* given;
  double set_value;
  double (*field)(const Parameter&);
};

const Option_field option_fields[] = {
    {"-s", 0, "3", 3, [](const Parameter& p) -> double { return p.svm_type; }},
    {"-t", 2, "1", 1, [](const Parameter& p) -> double { return p.kernel_type; }},
    {"-d", 3, "5", 5, [](const Parameter& p) -> double { return p.degree; }},
    {"-g", 0, "0.25", 0.25, [](const Parameter& p) { return p.gamma; }},
    {"-r", 0, "-1.5", -1.5, [](const Parameter& p) { return p.coef0; }},
    {"-c", 1, "8", 8, [](const Parameter& p) { return p.C; }},
    {"-p", 0.1, "0.3", 0.3, [](const Parameter& p) { return p.p; }},
    {"-m", 100, "40", 40, [](const Parameter& p) { return p.cache_size; }},
    {"-e", 0.001, "0.01", 0.01, [](const Parameter& p) { return p.eps; }},
    {"-h", 1, "0", 0, [](const Parameter& p) -> double { return p.shrinking; }},
    {"-b", 1, "0.5", 0.5, [](const Parameter& p) { return p.Cbegin; }},
    {"-i", 2, "3", 3, [](const Parameter& p) { return p.Cstep; }},
    {"-q", 10, "20", 20, [](const Parameter& p) -> double { return p.qpsize; }},
    {"-a", 0, "1", 1, [](const Parameter& p) -> double { return p.algorithm; }},
};

TEST_F(ParseOptions, DefaultsWithOnlyATrainingFile) {
  const Train_options& o = parse({"train.txt"});
  const Parameter& p = o.param;
  for (const Option_field& f : option_fields) EXPECT_EQ(f.field(p), f.default_value) << f.option;
  EXPECT_EQ(p.weight_count, 0);
  EXPECT_EQ(p.weight_labels, nullptr);
  EXPECT_EQ(p.weights, nullptr);
  EXPECT_EQ(o.cv_mode, 0);
  EXPECT_STREQ(o.training_set_file, "train.txt");
}

// Each option sets its own field and no other.
TEST_F(ParseOptions, EveryOptionSetsItsField) {
  for (const Option_field& f : option_fields) {
    Train_options o{};
    Command_line line({f.option, f.given, "t"});
    parse_options(line.argc(), line.argv(), &o);
    for (const Option_field& other : option_fields) {
      EXPECT_EQ(other.field(o.param), &other == &f ? f.set_value : other.default_value)
          << f.option << " " << f.given << ", field of " << other.option;
    }
    release_parameter(&o.param);
  }
}

TEST_F(ParseOptions, OnlyTheLetterAfterTheDashCounts) {
  EXPECT_EQ(parse({"-sx", "2", "t"}).param.svm_type, 2);
}

TEST_F(ParseOptions, CrossValidationFromTwoFolds) {
  const Train_options& o = parse({"-v", "2", "t"});
  EXPECT_EQ(o.cv_mode, 1);
  EXPECT_EQ(o.fold_count, 2);
}

TEST_F(ParseOptions, WeightsKeepOrderAndRepeats) {
  const Parameter& p = parse({"-w2", "0.5", "-w-1", "3", "-w2", "4", "t"}).param;
  ASSERT_EQ(p.weight_count, 3);
  EXPECT_EQ(p.weight_labels[0], 2);
  EXPECT_EQ(p.weight_labels[1], -1);
  EXPECT_EQ(p.weight_labels[2], 2);
  EXPECT_EQ(p.weights[0], 0.5);
  EXPECT_EQ(p.weights[1], 3);
  EXPECT_EQ(p.weights[2], 4);
}

// Values are read like atoi/atof: leading number, rest ignored, 0 if none.
struct Value_case {
  const char* text;
  int as_int;
  double as_real;
};

class OptionValues : public ParseOptions, public testing::WithParamInterface<Value_case> {};

TEST_P(OptionValues, ReadFromTheStartOfTheText) {
  const Value_case& c = GetParam();
  const Parameter& p = parse({"-d", c.text, "-c", c.text, "t"}).param;
  EXPECT_EQ(p.degree, c.as_int);
  EXPECT_EQ(p.C, c.as_real);
}

INSTANTIATE_TEST_SUITE_P(Cases, OptionValues,
                         testing::Values(Value_case{"abc", 0, 0}, Value_case{"12abc", 12, 12},
                                         Value_case{"  -7", -7, -7},
                                         Value_case{"2.75", 2, 2.75},
                                         Value_case{"1e2", 1, 100},
                                         Value_case{"+4", 4, 4},
                                         // beyond int: saturates instead of wrapping
                                         Value_case{"99999999999", 2147483647, 99999999999.0},
                                         Value_case{"-99999999999", -2147483647 - 1,
                                                    -99999999999.0}));

struct Model_name_case {
  std::vector<std::string> arguments;
  const char* training_file;
  const char* model_file;
};

class ModelFileName : public ParseOptions, public testing::WithParamInterface<Model_name_case> {};

TEST_P(ModelFileName, NamedOrDerived) {
  const Train_options& o = parse(GetParam().arguments);
  EXPECT_STREQ(o.training_set_file, GetParam().training_file);
  EXPECT_STREQ(o.model_file, GetParam().model_file);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModelFileName,
    testing::Values(Model_name_case{{"data/heart.txt"}, "data/heart.txt", "heart.txt.model"},
                    Model_name_case{{"heart.txt"}, "heart.txt", "heart.txt.model"},
                    Model_name_case{{"/a/b/c"}, "/a/b/c", "c.model"},
                    Model_name_case{{"dir/"}, "dir/", ".model"},
                    Model_name_case{{"heart.txt", "out.mdl", "extra"}, "heart.txt", "out.mdl"},
                    Model_name_case{{"-c", "2", "d/x", "m/y"}, "d/x", "m/y"}));

TEST_F(ParseOptions, LongestFileNamesFit) {
  const std::string name(1023, 'n');
  const Train_options& o = parse({name, name});
  EXPECT_EQ(std::string(o.training_set_file), name);
  EXPECT_EQ(std::string(o.model_file), name);
}

// Command lines that end the process: status 1, the message on standard
// error (the usage text goes to standard output).
struct Exit_case {
  const char* name;
  std::vector<std::string> arguments;
  const char* stderr_pattern;
};

class ParseOptionsExit : public testing::TestWithParam<Exit_case> {};

TEST_P(ParseOptionsExit, ExitsWithStatusOne) {
  const Exit_case& c = GetParam();
  EXPECT_EXIT(
      {
        Command_line line(c.arguments);
        Train_options options;
        std::freopen("/dev/null", "w", stdout);
        parse_options(line.argc(), line.argv(), &options);
      },
      testing::ExitedWithCode(1), c.stderr_pattern);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseOptionsExit,
    testing::Values(
        Exit_case{"NoArguments", {}, "^$"},
        Exit_case{"OnlyOptions", {"-c", "2"}, "^$"},
        Exit_case{"OptionWithoutValue", {"-s", "0", "-c"}, "^$"},
        Exit_case{"LastOptionWithoutValue", {"-c"}, "^$"},
        Exit_case{"FoldsOne", {"-v", "1", "t"}, "^n-fold cross validation: n must >= 2\n$"},
        Exit_case{"FoldsZero", {"-v", "0", "t"}, "^n-fold cross validation: n must >= 2\n$"},
        Exit_case{"FoldsRefusedBeforeLaterOptions",
                  {"-v", "1", "-x", "5"},
                  "^n-fold cross validation: n must >= 2\n$"},
        Exit_case{"UnknownOption", {"-x", "5", "t"}, "^unknown option\n$"},
        Exit_case{"BareDash", {"-", "5", "t"}, "^unknown option\n$"},
        Exit_case{"DashFileName", {"-data.txt"}, "^$"},
        Exit_case{"TrainingFileNameTooLong",
                  {std::string(1024, 'n')},
                  "Error: training_set_file name is longer than 1023 characters"},
        Exit_case{"ModelFileNameTooLong",
                  {"t", std::string(1024, 'm')},
                  "Error: model_file name is longer than 1023 characters"},
        Exit_case{"DerivedModelFileNameTooLong",
                  {"dir/" + std::string(1018, 'n')},
                  "Error: model_file .* is longer than 1023 characters"}),
    [](const testing::TestParamInfo<Exit_case>& info) { return info.param.name; });

}  // namespace
}  // namespace tevra
