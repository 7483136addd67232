#include "tools/common/line_reader.h"

#include <cstdio>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace tevra {
namespace {

// Reads every line of the given bytes; each line as read_line returned it.
std::vector<std::string> read_all(const std::string& bytes) {
  std::FILE* file = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::rewind(file);
  std::vector<std::string> lines;
  while (const char* line = read_line(file)) lines.emplace_back(line, line_length);
  std::fclose(file);
  return lines;
}

struct Line_case {
  const char* name;
  std::string bytes;
  std::vector<std::string> lines;
};

class ReadLine : public testing::TestWithParam<Line_case> {};

TEST_P(ReadLine, SplitsIntoWholeLines) { EXPECT_EQ(read_all(GetParam().bytes), GetParam().lines); }

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadLine,
    testing::Values(
        Line_case{"EmptyFile", "", {}},
        Line_case{"KeepsNewline", "1 2:3\n4\n", {"1 2:3\n", "4\n"}},
        Line_case{"LastLineWithoutNewline", "1\n2 3:4", {"1\n", "2 3:4"}},
        Line_case{"EmptyLinesAreLines", "\n\n1\n", {"\n", "\n", "1\n"}},
        Line_case{"CrLfReadsAsLf", "1 2:3\r\n4\r\n", {"1 2:3\n", "4\n"}},
        Line_case{"CrAtEndOfFile", "1 2:3\r", {"1 2:3"}},
        Line_case{"InnerCrKept", "1\r2\n", {"1\r2\n"}},
        Line_case{"LongLineReadWhole", std::string(5000, 'x') + "\ny\n",
                  {std::string(5000, 'x') + "\n", "y\n"}},
        Line_case{"LineOfExactBufferSize", std::string(1023, 'a') + "\n" + std::string(2047, 'b'),
                  {std::string(1023, 'a') + "\n", std::string(2047, 'b')}}),
    [](const testing::TestParamInfo<Line_case>& info) { return info.param.name; });

TEST(ReadLine, NulByteIsKeptAndReported) {
  const std::string bytes("1 2:3\0 4:5\n6\n", 13);
  std::FILE* file = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::rewind(file);
  ASSERT_NE(read_line(file), nullptr);
  EXPECT_EQ(line_length, 11u);  // the whole first line, not a merge with the next
  EXPECT_TRUE(line_has_nul());
  const char* next = read_line(file);
  ASSERT_NE(next, nullptr);
  EXPECT_STREQ(next, "6\n");
  EXPECT_FALSE(line_has_nul());
  std::fclose(file);
}

TEST(ReportInputError, PrintsLineNumberAndExits) {
  EXPECT_EXIT(report_input_error(17), testing::ExitedWithCode(1),
              "^Wrong input format at line 17\n$");
}

}  // namespace
}  // namespace tevra
