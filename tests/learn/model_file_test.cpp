#include <dirent.h>
#include <locale.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "learn/tevra.h"
#include "tests/tool_runner.h"
#include "tools/train/training_reader.h"

namespace tevra {
namespace {

using namespace std::string_literals;

// A model assembled by hand. Its nodes live in the fixture's storage, as a
// trained model's nodes live in the training problem.
struct Model_builder {
  std::vector<std::vector<Node>> samples;  // one terminated Node array each

  Model* build(int svm_type, int kernel_type, const std::vector<int>& labels,
               const std::vector<int>& nr_sv, const std::vector<std::vector<double>>& rows) {
    Model* model = static_cast<Model*>(std::calloc(1, sizeof(Model)));
    model->param = default_parameter();
    model->param.svm_type = svm_type;
    model->param.kernel_type = kernel_type;
    model->param.gamma = 0.5;
    model->param.coef0 = -1.25;
    model->param.degree = 4;
    model->nr_class = svm_type == epsilon_svr ? 2 : static_cast<int>(labels.size());
    model->total_sv = static_cast<int>(samples.size());
    model->SV = static_cast<Node**>(std::malloc(sizeof(Node*) * (samples.size() + 1)));
    for (std::size_t s = 0; s < samples.size(); ++s) model->SV[s] = samples[s].data();
    model->coefficients = static_cast<double**>(std::malloc(sizeof(double*) * (rows.size() + 1)));
    for (std::size_t r = 0; r < rows.size(); ++r) {
      model->coefficients[r] = static_cast<double*>(std::malloc(sizeof(double) * (rows[r].size() + 1)));
      for (std::size_t s = 0; s < rows[r].size(); ++s) model->coefficients[r][s] = rows[r][s];
    }
    if (svm_type != epsilon_svr) {
      model->label = static_cast<int*>(std::malloc(sizeof(int) * labels.size()));
      model->nr_sv = static_cast<int*>(std::malloc(sizeof(int) * labels.size()));
      for (std::size_t k = 0; k < labels.size(); ++k) {
        model->label[k] = labels[k];
        model->nr_sv[k] = nr_sv[k];
      }
    }
    return model;
  }
};

class ModelFile : public ::testing::Test {
 protected:
  std::string path(const char* name) { return work_path(name); }

  // Loads text as a model file; returns the model and what was printed.
  Model* load_text(const std::string& text, std::string* messages) {
    const std::string file_name = path("load");
    write_file(file_name, text);
    ::testing::internal::CaptureStderr();
    Model* model = load_model_file(file_name.c_str());
    *messages = ::testing::internal::GetCapturedStderr();
    return model;
  }

  Model_builder builder;
};

// The example file of a three-class rbf model, exactly as it must appear.
const char kThreeClassRbf[] =
    "svm_type c_svc\n"
    "kernel_type rbf\n"
    "gamma 0.5\n"
    "nr_class 3\n"
    "total_sv 4\n"
    "label 1 2 3\n"
    "nr_sv 2 1 1\n"
    "SV\n"
    "0.75 0.5 1:0.25 3:1 \n"
    "1 0 2:-0.5 \n"
    "-0.75 1 1:1 2:1 3:1 \n"
    "-1 -1 3:0.125 \n";

TEST_F(ModelFile, WritesTheDocumentedLayout) {
  builder.samples = {{{1, 0.25}, {3, 1}, {-1, 0}},
                     {{2, -0.5}, {-1, 0}},
                     {{1, 1}, {2, 1}, {3, 1}, {-1, 0}},
                     {{3, 0.125}, {-1, 0}}};
  Model* model = builder.build(c_svc, rbf, {1, 2, 3}, {2, 1, 1},
                               {{0.75, 1, -0.75, -1}, {0.5, 0, 1, -1}});
  const std::string file_name = path("layout");
  ASSERT_EQ(save_model_file(file_name.c_str(), model), 0);
  EXPECT_EQ(read_file(file_name), kThreeClassRbf);
  destroy_model(&model);
}

struct Header_case {
  int kernel_type;
  const char* parameter_lines;  // what follows the kernel_type line
};
void PrintTo(const Header_case& c, std::ostream* os) {
  *os << "kernel " << c.kernel_type;
}

class ModelFileHeader : public ModelFile, public ::testing::WithParamInterface<Header_case> {};

TEST_P(ModelFileHeader, WritesOnlyTheKernelsOwnParameters) {
  builder.samples = {{{0, 3}, {-1, 0}}};
  Model* model = builder.build(epsilon_svr, GetParam().kernel_type, {}, {}, {{2.5}});
  const std::string file_name = path("header");
  ASSERT_EQ(save_model_file(file_name.c_str(), model), 0);
  const std::string expected = std::string("svm_type epsilon_svr\nkernel_type ") +
                               kernel_type_names[GetParam().kernel_type] + "\n" +
                               GetParam().parameter_lines + "nr_class 2\ntotal_sv 1\nSV\n2.5 0:3 \n";
  EXPECT_EQ(read_file(file_name), expected);

  Model* loaded = load_model_file(file_name.c_str());
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->param.kernel_type, GetParam().kernel_type);
  EXPECT_EQ(loaded->label, nullptr);
  EXPECT_EQ(loaded->nr_sv, nullptr);
  destroy_model(&loaded);
  destroy_model(&model);
}

INSTANTIATE_TEST_SUITE_P(
    EveryKernel, ModelFileHeader,
    ::testing::Values(Header_case{linear, ""}, Header_case{polynomial, "degree 4\ngamma 0.5\ncoef0 -1.25\n"},
                      Header_case{rbf, "gamma 0.5\n"}, Header_case{sigmoid, "gamma 0.5\ncoef0 -1.25\n"},
                      Header_case{precomputed, ""}));

// Writes a model of each formulation and reads it back: the same numbers,
// the same grouping, a node block owned by the loaded model.
struct Round_trip_case {
  int svm_type;
  int kernel_type;
  std::vector<int> labels;
  std::vector<int> nr_sv;
  std::vector<std::vector<double>> rows;
};
void PrintTo(const Round_trip_case& c, std::ostream* os) {
  *os << "svm_type " << c.svm_type << ", kernel " << c.kernel_type;
}

class ModelFileRoundTrip : public ModelFile, public ::testing::WithParamInterface<Round_trip_case> {};

TEST_P(ModelFileRoundTrip, ReadsBackWhatWasWritten) {
  const Round_trip_case& c = GetParam();
  if (c.kernel_type == precomputed) {
    builder.samples = {{{0, 7.9}, {1, 0.5}, {-1, 0}}, {{0, 2}, {-1, 0}}, {{0, 1}, {-1, 0}}};
  } else {
    builder.samples = {{{1, 0.1}, {5, -2e-7}, {-1, 0}}, {{-1, 0}}, {{0, 123456.78}, {-1, 0}}};
  }
  builder.samples.resize(c.rows.empty() ? 0 : c.rows[0].size());
  Model* model = builder.build(c.svm_type, c.kernel_type, c.labels, c.nr_sv, c.rows);
  const std::string file_name = path("round_trip");
  ASSERT_EQ(save_model_file(file_name.c_str(), model), 0);
  Model* loaded = load_model_file(file_name.c_str());
  ASSERT_NE(loaded, nullptr);

  EXPECT_EQ(loaded->param.svm_type, c.svm_type);
  EXPECT_EQ(loaded->nr_class, model->nr_class);
  EXPECT_EQ(loaded->total_sv, model->total_sv);
  EXPECT_EQ(loaded->owns_sv_nodes, 1);
  for (std::size_t k = 0; k < c.labels.size(); ++k) {
    EXPECT_EQ(loaded->label[k], c.labels[k]);
    EXPECT_EQ(loaded->nr_sv[k], c.nr_sv[k]);
  }
  for (std::size_t r = 0; r < c.rows.size(); ++r)
    for (std::size_t s = 0; s < c.rows[r].size(); ++s)
      EXPECT_EQ(loaded->coefficients[r][s], c.rows[r][s]) << "row " << r << " sv " << s;
  for (int s = 0; s < model->total_sv; ++s) {
    const Node* written = model->SV[s];
    const Node* read = loaded->SV[s];
    if (c.kernel_type == precomputed) {
      EXPECT_EQ(read[0].index, 0);
      EXPECT_EQ(read[0].value, static_cast<int>(written[0].value));
      EXPECT_EQ(read[1].index, -1);
      continue;
    }
    for (; written->index != -1; ++written, ++read) {
      EXPECT_EQ(read->index, written->index);
      EXPECT_EQ(read->value, written->value);
    }
    EXPECT_EQ(read->index, -1);
  }
  // The support vectors share one block, one after the other.
  if (loaded->total_sv > 1 && c.kernel_type != precomputed) {
    EXPECT_EQ(loaded->SV[1], loaded->SV[0] + 3);
    EXPECT_EQ(loaded->SV[2], loaded->SV[1] + 1);
  }
  destroy_model(&loaded);
  destroy_model(&model);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormulation, ModelFileRoundTrip,
    ::testing::Values(
        Round_trip_case{c_svc, rbf, {4, -2, 9}, {1, 1, 1}, {{0.5, -1, 0.25}, {1e-300, 0, -3}}},
        Round_trip_case{kbb, linear, {1, 2, 3}, {2, 0, 1}, {{0.5, 1, 2}, {0, 0.125, 8}}},
        Round_trip_case{spoc, polynomial, {0, 1, 2}, {1, 1, 1}, {{1, -0.5, 0}, {-1, 1, 0.5}, {0, -0.5, -0.5}}},
        Round_trip_case{spoc_l2, sigmoid, {7, 8}, {3, 0}, {{1, 2, 3}, {-1, -2, -3}}},
        Round_trip_case{epsilon_svr, rbf, {}, {}, {{0.75, -0.375, 1.5}}},
        Round_trip_case{c_svc, precomputed, {1, -1}, {2, 1}, {{0.5, -0.5, 0.25}}},
        Round_trip_case{c_svc, rbf, {3}, {0}, {}},
        Round_trip_case{epsilon_svr, linear, {}, {}, {{}}}));

TEST_F(ModelFile, CoefficientsKeepSixteenDigitsValuesEightAndGammaSix) {
  builder.samples = {{{2, 1.0 / 3}, {-1, 0}}};
  Model* model = builder.build(epsilon_svr, rbf, {}, {}, {{2.0 / 3}});
  model->param.gamma = 1.0 / 7;
  const std::string file_name = path("precision");
  ASSERT_EQ(save_model_file(file_name.c_str(), model), 0);
  EXPECT_NE(read_file(file_name).find("gamma 0.142857\n"), std::string::npos);
  EXPECT_NE(read_file(file_name).find("0.6666666666666666 2:0.33333333 \n"), std::string::npos);
  destroy_model(&model);
}

TEST_F(ModelFile, PrecomputedSupportVectorIsWrittenAsItsSerialNumber) {
  builder.samples = {{{0, 7}, {1, 0.5}, {2, 0.25}, {-1, 0}}};
  Model* model = builder.build(epsilon_svr, precomputed, {}, {}, {{1}});
  const std::string file_name = path("precomputed");
  ASSERT_EQ(save_model_file(file_name.c_str(), model), 0);
  EXPECT_EQ(read_file(file_name),
            "svm_type epsilon_svr\nkernel_type precomputed\nnr_class 2\ntotal_sv 1\nSV\n1 0:7 \n");
  destroy_model(&model);
}

TEST_F(ModelFile, ModelWithoutSupportVectorsEndsWithSV) {
  Model* model = builder.build(c_svc, linear, {5}, {0}, {});
  const std::string file_name = path("empty");
  ASSERT_EQ(save_model_file(file_name.c_str(), model), 0);
  EXPECT_EQ(read_file(file_name),
            "svm_type c_svc\nkernel_type linear\nnr_class 1\ntotal_sv 0\nlabel 5\nnr_sv 0\nSV\n");
  destroy_model(&model);
}

TEST_F(ModelFile, WriterReportsFilesItCannotWrite) {
  builder.samples = {{{1, 1}, {-1, 0}}};
  Model* model = builder.build(epsilon_svr, linear, {}, {}, {{1}});
  EXPECT_EQ(save_model_file("/nonexistent-directory/model", model), -1);
  EXPECT_EQ(save_model_file("/dev/full", model), -1);  // the write itself fails
  destroy_model(&model);
}

// Saving over a model replaces it only once the new file is complete.
class ModelFileSave : public ModelFile {
 protected:
  void SetUp() override {
    directory = path("save");
    ASSERT_EQ(std::system(("rm -rf '" + directory + "' && mkdir '" + directory + "'").c_str()), 0);
    target = directory + "/model";
    builder.samples = {{{1, 0.25}, {-1, 0}}};
    model = builder.build(epsilon_svr, linear, {}, {}, {{1.5}});
  }
  void TearDown() override { destroy_model(&model); }

  // The names in the directory, sorted.
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    DIR* dir = opendir(directory.c_str());
    while (const dirent* entry = readdir(dir))
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
        names.push_back(entry->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
  }

  const std::string expected_text =
      "svm_type epsilon_svr\nkernel_type linear\nnr_class 2\ntotal_sv 1\nSV\n1.5 1:0.25 \n";
  std::string directory, target;
  Model* model = nullptr;
};

TEST_F(ModelFileSave, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
  write_file(target, "the old model\n");
  // A file-size limit below the model's size makes the write fail as a
  // full disk would.
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 16;
  void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int result = save_model_file(target.c_str(), model);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(read_file(target), "the old model\n");
  EXPECT_EQ(entries(), std::vector<std::string>{"model"});
}

TEST_F(ModelFileSave, ReplacesTheOldFileKeepingItsPermissions) {
  write_file(target, "the old model\n");
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  ASSERT_EQ(save_model_file(target.c_str(), model), 0);
  EXPECT_EQ(read_file(target), expected_text);
  struct stat status;
  ASSERT_EQ(stat(target.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0640u);
  EXPECT_EQ(entries(), std::vector<std::string>{"model"});
}

TEST_F(ModelFileSave, ThroughALinkReplacesTheFileItNames) {
  write_file(target, "the old model\n");
  const std::string link = directory + "/link";
  ASSERT_EQ(symlink("model", link.c_str()), 0);
  ASSERT_EQ(save_model_file(link.c_str(), model), 0);
  EXPECT_EQ(read_file(target), expected_text);
  struct stat status;
  ASSERT_EQ(lstat(link.c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  EXPECT_EQ(entries(), (std::vector<std::string>{"link", "model"}));
}

TEST_F(ModelFile, ReaderReturnsNoneSilentlyForAMissingFile) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(load_model_file("/nonexistent-directory/model"), nullptr);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(ModelFile, CarriageReturnLineEndsLoadTheSame) {
  std::string crlf;
  for (const char* c = kThreeClassRbf; *c != '\0'; ++c) {
    if (*c == '\n') crlf += '\r';
    crlf += *c;
  }
  std::string messages;
  Model* plain = load_text(kThreeClassRbf, &messages);
  Model* with_cr = load_text(crlf, &messages);
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(with_cr, nullptr);
  ASSERT_EQ(with_cr->total_sv, 4);
  for (int s = 0; s < 4; ++s) {
    for (int r = 0; r < 2; ++r) EXPECT_EQ(with_cr->coefficients[r][s], plain->coefficients[r][s]);
    const Node* a = plain->SV[s];
    const Node* b = with_cr->SV[s];
    for (; a->index != -1; ++a, ++b) {
      EXPECT_EQ(b->index, a->index);
      EXPECT_EQ(b->value, a->value);
    }
    EXPECT_EQ(b->index, -1);
  }
  destroy_model(&plain);
  destroy_model(&with_cr);
}

// Ways of writing kThreeClassRbf that the reader takes for the same model:
// white space as the numeric reading skips it, and numbers of any length.
struct Layout_case {
  const char* name;
  std::string text;
};
void PrintTo(const Layout_case& c, std::ostream* os) { *os << c.name; }

class ModelFileLayout : public ModelFile, public ::testing::WithParamInterface<Layout_case> {};

TEST_P(ModelFileLayout, ReadsAsTheCompactFile) {
  std::string messages;
  Model* plain = load_text(kThreeClassRbf, &messages);
  Model* variant = load_text(GetParam().text, &messages);
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(variant, nullptr) << messages;
  EXPECT_EQ(variant->param.gamma, plain->param.gamma);
  ASSERT_EQ(variant->total_sv, 4);
  for (int s = 0; s < 4; ++s) {
    for (int r = 0; r < 2; ++r) EXPECT_EQ(variant->coefficients[r][s], plain->coefficients[r][s]);
    const Node* a = plain->SV[s];
    const Node* b = variant->SV[s];
    for (; a->index != -1; ++a, ++b) {
      EXPECT_EQ(b->index, a->index);
      EXPECT_EQ(b->value, a->value);
    }
    EXPECT_EQ(b->index, -1) << "support vector " << s;
  }
  destroy_model(&plain);
  destroy_model(&variant);
}

// kThreeClassRbf with `from` replaced by `to` at its first occurrence.
std::string three_class_with(const std::string& from, const std::string& to) {
  std::string text = kThreeClassRbf;
  return text.replace(text.find(from), from.size(), to);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModelFileLayout,
    ::testing::Values(
        Layout_case{"BlankLinesBetweenSupportVectors",
                    three_class_with("1 0 2:-0.5 \n", "\n\n1 0 2:-0.5 \n\n \t\n")},
        Layout_case{"BlankLineAfterSV", three_class_with("SV\n", "SV\n\n")},
        Layout_case{"TrailingBlankLines", std::string(kThreeClassRbf) + "\n \n"},
        Layout_case{"LongCoefficient", three_class_with("0.75 ", "0.75" + std::string(300, '0') + " ")},
        Layout_case{"LongEntryValue", three_class_with("3:0.125", "3:0.125" + std::string(300, '0'))},
        Layout_case{"LongHeaderNumber", three_class_with("gamma 0.5", "gamma 0.5" + std::string(100, '0'))}),
    [](const ::testing::TestParamInfo<Layout_case>& info) { return std::string(info.param.name); });

TEST_F(ModelFile, SupportVectorWithoutEntriesReadsAsTerminatorOnly) {
  std::string messages;
  Model* model = load_text(
      "svm_type epsilon_svr\nkernel_type linear\nnr_class 2\ntotal_sv 2\nSV\n0.5 \n-1 4:2 \n",
      &messages);
  ASSERT_NE(model, nullptr) << messages;
  EXPECT_EQ(model->SV[0][0].index, -1);
  EXPECT_EQ(model->SV[1][0].index, 4);
  EXPECT_EQ(model->coefficients[0][1], -1);
  destroy_model(&model);
}

TEST_F(ModelFile, FieldsTheFileDoesNotCarryAreZero) {
  std::string messages;
  Model* model = load_text(kThreeClassRbf, &messages);
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(model->param.C, 0);
  EXPECT_EQ(model->param.eps, 0);
  EXPECT_EQ(model->param.cache_size, 0);
  EXPECT_EQ(model->param.degree, 0);
  EXPECT_EQ(model->param.coef0, 0);
  EXPECT_EQ(model->param.weight_count, 0);
  EXPECT_EQ(model->param.weight_labels, nullptr);
  EXPECT_EQ(model->param.weights, nullptr);
  EXPECT_EQ(model->param.gamma, 0.5);
  destroy_model(&model);
}

TEST_F(ModelFile, LaterKeyReplacesEarlierOne) {
  std::string messages;
  Model* model = load_text(
      "gamma 2\nsvm_type spoc\nkernel_type rbf\ngamma 0.25\nnr_class 1\nnr_class 2\ntotal_sv 0\n"
      "label 1 2\nnr_sv 0 0\nSV\n",
      &messages);
  ASSERT_NE(model, nullptr) << messages;
  EXPECT_EQ(model->param.gamma, 0.25);
  EXPECT_EQ(model->nr_class, 2);
  destroy_model(&model);
}

TEST_F(ModelFile, LocaleIsRestoredOnEveryPath) {
  const char* before = std::setlocale(LC_ALL, "C.UTF-8");
  if (before == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
  const std::string expected = before;
  std::string messages;

  Model* model = load_text(kThreeClassRbf, &messages);
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(std::setlocale(LC_ALL, nullptr), expected);
  const std::string file_name = path("locale");
  EXPECT_EQ(save_model_file(file_name.c_str(), model), 0);
  EXPECT_EQ(std::setlocale(LC_ALL, nullptr), expected);
  destroy_model(&model);

  EXPECT_EQ(load_text("svm_type c_svc\nbias 0\nSV\n", &messages), nullptr);
  EXPECT_EQ(std::setlocale(LC_ALL, nullptr), expected);
  EXPECT_EQ(load_text("svm_type epsilon_svr\nkernel_type linear\nnr_class 2\ntotal_sv 1\nSV\nx\n",
                      &messages),
            nullptr);
  EXPECT_EQ(std::setlocale(LC_ALL, nullptr), expected);
  std::setlocale(LC_ALL, "C");
}

// Under a locale whose decimal point is a comma, numbers are still written
// and read with a point, and the caller's locale is back afterwards. The
// comma locale is built for the test in a directory of its own, and is put
// in force either for the process (setlocale) or for the calling thread
// only (uselocale): a reader that switched the process's locale would write
// commas in the second case, since a thread's own locale overrides it.
class ModelFileCommaLocale : public ModelFile, public ::testing::WithParamInterface<bool> {
 protected:
  void TearDown() override {
    uselocale(LC_GLOBAL_LOCALE);
    if (thread_locale_ != static_cast<locale_t>(0)) freelocale(thread_locale_);
    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
  }

  locale_t thread_locale_ = static_cast<locale_t>(0);
};

TEST_P(ModelFileCommaLocale, NumbersKeepTheDecimalPoint) {
  const bool per_thread = GetParam();
  if (std::system("command -v localedef > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "localedef is not installed, so no comma locale can be built";
  const std::string locales = path("locales");
  ASSERT_EQ(std::system(("rm -rf '" + locales + "' && mkdir '" + locales + "' && localedef -c -i de_DE -f " +
                         "UTF-8 '" + locales + "/de_DE.UTF-8' > /dev/null 2>&1").c_str()),
            0)
      << "localedef could not build de_DE.UTF-8 (are the locale sources installed?)";
  setenv("LOCPATH", locales.c_str(), 1);
  if (per_thread) {
    thread_locale_ = newlocale(LC_ALL_MASK, "de_DE.UTF-8", static_cast<locale_t>(0));
    ASSERT_NE(thread_locale_, static_cast<locale_t>(0));
    uselocale(thread_locale_);
  } else {
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
  }
  const std::string global_before = std::setlocale(LC_ALL, nullptr);
  const locale_t thread_before = uselocale(static_cast<locale_t>(0));
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  const auto expect_locale_back = [&](const char* after) {
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), global_before) << after;
    EXPECT_EQ(uselocale(static_cast<locale_t>(0)), thread_before) << after;
    EXPECT_STREQ(std::localeconv()->decimal_point, ",") << after;
  };

  std::string messages;
  Model* model = load_text(kThreeClassRbf, &messages);
  ASSERT_NE(model, nullptr) << messages;
  expect_locale_back("load");
  EXPECT_EQ(model->param.gamma, 0.5);
  EXPECT_EQ(model->coefficients[0][0], 0.75);
  EXPECT_EQ(model->SV[3][0].value, 0.125);
  const std::string file_name = path("comma_locale");
  ASSERT_EQ(save_model_file(file_name.c_str(), model), 0);
  EXPECT_EQ(read_file(file_name), kThreeClassRbf);
  expect_locale_back("save");
  destroy_model(&model);
  EXPECT_EQ(load_text(std::string("svm_type epsilon_svr\nkernel_type linear\nnr_class 2\n") +
                          "total_sv 1\nSV\n0,5 1:1 \n",
                      &messages),
            nullptr);
  expect_locale_back("refused load");
}

INSTANTIATE_TEST_SUITE_P(Scope, ModelFileCommaLocale, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "Thread" : "Process";
                         });

// Files the reader must refuse: none returned, one message naming the fault.
struct Malformed_case {
  const char* name;
  std::string text;
  const char* message;
};
void PrintTo(const Malformed_case& c, std::ostream* os) {
  *os << c.name;
}

class ModelFileMalformed : public ModelFile, public ::testing::WithParamInterface<Malformed_case> {};

TEST_P(ModelFileMalformed, IsRefusedWithAMessage) {
  std::string messages;
  Model* model = load_text(GetParam().text, &messages);
  EXPECT_EQ(model, nullptr);
  EXPECT_EQ(messages, GetParam().message);
  destroy_model(&model);
}

const std::string kRbfHead = "svm_type c_svc\nkernel_type rbf\ngamma 0.5\n";
const std::string kSvrHead = "svm_type epsilon_svr\nkernel_type linear\nnr_class 2\n";
const std::string kPrecomputedHead =
    "svm_type epsilon_svr\nkernel_type precomputed\nnr_class 2\ntotal_sv 1\nSV\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, ModelFileMalformed,
    ::testing::Values(
        Malformed_case{"UnknownSvmType", "svm_type nu_svc\n", "unknown svm type.\n"},
        Malformed_case{"UnknownKernel", "svm_type c_svc\nkernel_type Rbf\n", "unknown kernel function.\n"},
        Malformed_case{"BiasKey", kRbfHead + "nr_class 2\ntotal_sv 0\nrho 0.5\nSV\n",
                       "unknown text in model file\n"},
        Malformed_case{"EmptyFile", "", "model file ends before SV\n"},
        Malformed_case{"EndsBeforeSV", kRbfHead + "nr_class 2\n", "model file ends before SV\n"},
        Malformed_case{"SvmTypeWithoutValue", "svm_type", "unknown svm type.\n"},
        Malformed_case{"MissingNumber", kRbfHead + "nr_class\n", "malformed nr_class in model file\n"},
        Malformed_case{"MalformedGamma", "gamma 0.5x\n", "malformed gamma in model file\n"},
        Malformed_case{"GammaNotFinite", "gamma nan\n", "malformed gamma in model file\n"},
        Malformed_case{"MalformedDegree", "degree 3.5\n", "malformed degree in model file\n"},
        Malformed_case{"NrClassOverflow", "nr_class 99999999999\n", "malformed nr_class in model file\n"},
        Malformed_case{"NegativeNrClass", "nr_class -1\n", "malformed nr_class in model file\n"},
        Malformed_case{"NegativeTotalSv", "total_sv -3\n", "malformed total_sv in model file\n"},
        Malformed_case{"LabelBeforeNrClass", kRbfHead + "label 1 2\n", "label before nr_class in model file\n"},
        Malformed_case{"NrSvBeforeNrClass", kRbfHead + "nr_sv 1 2\n", "nr_sv before nr_class in model file\n"},
        Malformed_case{"ShortLabelList", kRbfHead + "nr_class 3\nlabel 1 2\nSV\n",
                       "malformed label in model file\n"},
        Malformed_case{"AbsurdNrClass", kRbfHead + "nr_class 2000000000\nlabel 1 2\n",
                       "malformed label in model file\n"},
        Malformed_case{"NrClassChangedAfterLabel",
                       kRbfHead + "nr_class 2\nlabel 1 2\nnr_sv 0 0\nnr_class 3\ntotal_sv 0\nSV\n",
                       "label does not match nr_class in model file\n"},
        Malformed_case{"MissingSvmType", "kernel_type linear\nnr_class 2\ntotal_sv 0\nSV\n",
                       "svm_type missing in model file\n"},
        Malformed_case{"MissingKernelType", "svm_type epsilon_svr\nnr_class 2\ntotal_sv 0\nSV\n",
                       "kernel_type missing in model file\n"},
        Malformed_case{"MissingNrClass", "svm_type epsilon_svr\nkernel_type linear\ntotal_sv 0\nSV\n",
                       "nr_class missing in model file\n"},
        Malformed_case{"MissingTotalSv", kSvrHead + "SV\n", "total_sv missing in model file\n"},
        Malformed_case{"ClassificationWithoutLabel", kRbfHead + "nr_class 2\ntotal_sv 0\nnr_sv 0 0\nSV\n",
                       "label missing in model file\n"},
        Malformed_case{"ClassificationWithoutNrSv", kRbfHead + "nr_class 2\ntotal_sv 0\nlabel 1 2\nSV\n",
                       "nr_sv missing in model file\n"},
        Malformed_case{"NegativeNrSv", kRbfHead + "nr_class 2\ntotal_sv 0\nlabel 1 2\nnr_sv 1 -1\nSV\n",
                       "malformed nr_sv in model file\n"},
        Malformed_case{"NrSvSumDisagrees",
                       kRbfHead + "nr_class 2\ntotal_sv 2\nlabel 1 2\nnr_sv 1 2\nSV\n1 1:1 \n1 1:1 \n",
                       "nr_sv does not add up to total_sv in model file\n"},
        Malformed_case{"RegressionWithThreeClasses",
                       "svm_type epsilon_svr\nkernel_type linear\nnr_class 3\ntotal_sv 0\nSV\n",
                       "malformed nr_class in model file\n"},
        Malformed_case{"FewerLinesThanTotalSv", kSvrHead + "total_sv 3\nSV\n1 1:1 \n2 1:2 \n",
                       "model file has fewer support vectors than total_sv\n"},
        Malformed_case{"AbsurdTotalSv", kSvrHead + "total_sv 2000000000\nSV\n1 1:1 \n",
                       "model file has fewer support vectors than total_sv\n"},
        Malformed_case{"MoreLinesThanTotalSv", kSvrHead + "total_sv 1\nSV\n1 1:1 \n2 1:2 \n",
                       "model file has more support vectors than total_sv\n"},
        Malformed_case{"MissingCoefficient",
                       kRbfHead + "nr_class 3\ntotal_sv 1\nlabel 1 2 3\nnr_sv 1 0 0\nSV\n0.5 1:1 \n",
                       "malformed support vector 1 in model file\n"},
        Malformed_case{"CoefficientNotANumber", kSvrHead + "total_sv 1\nSV\nabc 1:1 \n",
                       "malformed support vector 1 in model file\n"},
        Malformed_case{"CoefficientNotFinite", kSvrHead + "total_sv 1\nSV\ninf 1:1 \n",
                       "malformed support vector 1 in model file\n"},
        Malformed_case{"EntryWithoutColon", kSvrHead + "total_sv 2\nSV\n1 1:1 \n1 2 \n",
                       "malformed support vector 2 in model file\n"},
        Malformed_case{"EntryWithTwoColons", kSvrHead + "total_sv 1\nSV\n1 1:2:3 \n",
                       "malformed support vector 1 in model file\n"},
        Malformed_case{"EntryValueMissing", kSvrHead + "total_sv 1\nSV\n1 1: \n",
                       "malformed support vector 1 in model file\n"},
        Malformed_case{"EntryIndexNegative", kSvrHead + "total_sv 1\nSV\n1 -2:1 \n",
                       "malformed support vector 1 in model file\n"},
        Malformed_case{"EntryIndicesNotIncreasing", kSvrHead + "total_sv 1\nSV\n1 3:1 3:2 \n",
                       "malformed support vector 1 in model file\n"},
        Malformed_case{"EntryIndexOverflow", kSvrHead + "total_sv 1\nSV\n1 4294967297:1 \n",
                       "malformed support vector 1 in model file\n"},
        // The writer ends every line with a newline: a file without the
        // last one was cut short, perhaps inside a number.
        Malformed_case{"LastLineWithoutNewline", kSvrHead + "total_sv 2\nSV\n1 1:1 \n2 1:2 ",
                       "model file is cut short in support vector 2\n"},
        Malformed_case{"CutInsideLastEntry", kSvrHead + "total_sv 2\nSV\n1 1:1 \n2 1:2",
                       "model file is cut short in support vector 2\n"},
        Malformed_case{"CutAfterLastCoefficient", kSvrHead + "total_sv 1\nSV\n1",
                       "model file is cut short in support vector 1\n"},
        // A NUL byte would end the token early for every string routine.
        Malformed_case{"NulInKeyword", "svm_type\0junk c_svc\n"s, "unknown text in model file\n"},
        Malformed_case{"NulInSvmTypeName", "svm_type c_svc\0x\n"s, "unknown svm type.\n"},
        Malformed_case{"NulInKernelName", "kernel_type rbf\0\n"s, "unknown kernel function.\n"},
        Malformed_case{"NulInHeaderNumber", "gamma 0.5\0" "7\n"s, "malformed gamma in model file\n"},
        Malformed_case{"NulInEntry", kSvrHead + "total_sv 1\nSV\n0.5 1:1\0" "2:3 \n"s,
                       "malformed support vector 1 in model file\n"},
        Malformed_case{"NulInCoefficient", kSvrHead + "total_sv 1\nSV\n0.5\0" "1 1:1 \n"s,
                       "malformed support vector 1 in model file\n"},
        Malformed_case{"PrecomputedWithoutSerial", kPrecomputedHead + "1 \n",
                       "support vector 1 of precomputed model file lacks 0:serial_number\n"},
        Malformed_case{"PrecomputedSerialNotFirst", kPrecomputedHead + "1 1:3 \n",
                       "support vector 1 of precomputed model file lacks 0:serial_number\n"},
        Malformed_case{"PrecomputedSerialNegative", kPrecomputedHead + "1 0:-4 \n",
                       "support vector 1 of precomputed model file lacks 0:serial_number\n"},
        Malformed_case{"PrecomputedSerialZero", kPrecomputedHead + "1 0:0 \n",
                       "support vector 1 of precomputed model file lacks 0:serial_number\n"},
        Malformed_case{"PrecomputedSerialHuge", kPrecomputedHead + "1 0:1e12 \n",
                       "support vector 1 of precomputed model file lacks 0:serial_number\n"}),
    [](const ::testing::TestParamInfo<Malformed_case>& info) { return std::string(info.param.name); });

// Real data: a set read by the training reader.
struct Data_set {
  Problem problem{};
  Node* store = nullptr;
  ~Data_set() {
    std::free(problem.labels);
    std::free(problem.samples);
    std::free(store);
  }
};

void read_data(const char* name, Parameter* param, Data_set* set) {
  const std::string file = std::string(TEVRA_TEST_DATA_DIR) + "/" + name;
  read_training_set(file.c_str(), param, &set->problem, &set->store);
}

void ignore_progress(const char*, void*) {}

// A model trained on real data, written and read back, predicts what the
// model in memory predicts from the same numbers.
TEST(ModelFileTrained, ReadBackPredictsLikeTheModelInMemory) {
  Training_run* run = create_training_run(ignore_progress, nullptr);
  Parameter param;
  struct Case {
    const char* data;
    int svm_type;
    int kernel_type;
  };
  for (const Case& c : {Case{"iris.all", c_svc, rbf}, Case{"wine.all", c_svc, polynomial},
                        Case{"diabetes.train", epsilon_svr, rbf}, Case{"iris.all", c_svc, linear},
                        Case{"wine.all", kbb, rbf}, Case{"iris.all", spoc, sigmoid},
                        Case{"glass.train", spoc_l2, rbf}, Case{"diabetes.train", epsilon_svr, linear}}) {
    param = default_parameter();
    param.svm_type = c.svm_type;
    param.kernel_type = c.kernel_type;
    Data_set set;
    read_data(c.data, &param, &set);
    // gamma of the file form, so that both models compute the same kernel.
    char text[64];
    std::snprintf(text, sizeof text, "%g", param.gamma);
    param.gamma = std::strtod(text, nullptr);
    Model* model = train_model(run, &set.problem, &param);
    ASSERT_NE(model, nullptr);
    const std::string file = work_path("train_model");
    ASSERT_EQ(save_model_file(file.c_str(), model), 0);
    Model* loaded = load_model_file(file.c_str());
    ASSERT_NE(loaded, nullptr);
    // The file keeps sixteen digits of each coefficient: give the model in
    // memory the same numbers, and the two must agree bit for bit.
    const int rows = coefficient_row_count(c.svm_type, model->nr_class);
    for (int r = 0; r < rows; ++r)
      for (int s = 0; s < model->total_sv; ++s) {
        std::snprintf(text, sizeof text, "%.16g", model->coefficients[r][s]);
        model->coefficients[r][s] = std::strtod(text, nullptr);
      }
    for (int i = 0; i < set.problem.sample_count; ++i) {
      const double in_memory = predict_value(model, set.problem.samples[i]);
      const double from_file = predict_value(loaded, set.problem.samples[i]);
      ASSERT_EQ(std::memcmp(&in_memory, &from_file, sizeof(double)), 0)
          << c.data << " sample " << i << ": " << in_memory << " vs " << from_file;
    }
    destroy_model(&loaded);
    destroy_model(&model);
    std::remove(file.c_str());
  }
  destroy_training_run(&run);
}

}  // namespace
}  // namespace tevra
