// The model file: a text header of keyword lines, the line "SV", then one
// line per support vector (its coefficients, then its entries).
//
// The writer emits exactly what the reader accepts. The reader goes beyond a
// reader of well-formed files only: it refuses every file it cannot turn into
// a consistent model (a header cut short, a missing or malformed number,
// arrays sized before nr_class is known, counts that disagree with the
// support-vector section, malformed entries, a precomputed support vector
// without a usable serial number), always with one message on standard
// error, and it never writes beyond the node block it sized. Fields of the
// loaded model's param that the file does not carry are zero.
#include <cerrno>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "learn/tevra.h"

namespace tevra {

namespace {

// Switches every locale category to "C" for the life of the object, so that
// numbers are written and read with a decimal point, and puts the previous
// locale back on every path out of the routine.
class Locale_guard {
 public:
  Locale_guard() {
    const char* current = std::setlocale(LC_ALL, nullptr);
    saved_ = current != nullptr ? strdup(current) : nullptr;
    std::setlocale(LC_ALL, "C");
  }
  ~Locale_guard() {
    if (saved_ != nullptr) std::setlocale(LC_ALL, saved_);
    std::free(saved_);
  }
  Locale_guard(const Locale_guard&) = delete;
  Locale_guard& operator=(const Locale_guard&) = delete;

 private:
  char* saved_;  // name of the locale in force before, owned copy
};

bool is_classification(int svm_type) { return svm_type != epsilon_svr; }

// ---------------------------------------------------------------------------
// Writing

void write_header(std::FILE* file, const Model& model) {
  const Parameter& param = model.param;
  std::fprintf(file, "svm_type %s\n", svm_type_names[param.svm_type]);
  std::fprintf(file, "kernel_type %s\n", kernel_type_names[param.kernel_type]);
  if (param.kernel_type == polynomial) std::fprintf(file, "degree %d\n", param.degree);
  if (param.kernel_type == polynomial || param.kernel_type == rbf || param.kernel_type == sigmoid)
    std::fprintf(file, "gamma %g\n", param.gamma);
  if (param.kernel_type == polynomial || param.kernel_type == sigmoid)
    std::fprintf(file, "coef0 %g\n", param.coef0);
  std::fprintf(file, "nr_class %d\n", model.nr_class);
  std::fprintf(file, "total_sv %d\n", model.total_sv);
  if (model.label != nullptr) {
    std::fprintf(file, "label");
    for (int k = 0; k < model.nr_class; ++k) std::fprintf(file, " %d", model.label[k]);
    std::fprintf(file, "\n");
  }
  if (model.nr_sv != nullptr) {
    std::fprintf(file, "nr_sv");
    for (int k = 0; k < model.nr_class; ++k) std::fprintf(file, " %d", model.nr_sv[k]);
    std::fprintf(file, "\n");
  }
  std::fprintf(file, "SV\n");
}

void write_support_vectors(std::FILE* file, const Model& model) {
  const int rows = coefficient_row_count(model.param.svm_type, model.nr_class);
  for (int i = 0; i < model.total_sv; ++i) {
    for (int r = 0; r < rows; ++r) std::fprintf(file, "%.16g ", model.coefficients[r][i]);
    const Node* node = model.SV[i];
    if (model.param.kernel_type == precomputed) {
      std::fprintf(file, "0:%d ", static_cast<int>(node->value));
    } else {
      for (; node->index != -1; ++node) std::fprintf(file, "%d:%.8g ", node->index, node->value);
    }
    std::fprintf(file, "\n");
  }
}

// ---------------------------------------------------------------------------
// Reading

// Index of word in a name table ended by a null entry, or -1.
int find_name(const char* const* names, const char* word) {
  for (int k = 0; names[k] != nullptr; ++k)
    if (std::strcmp(names[k], word) == 0) return k;
  return -1;
}

// Refuses a file: prints the message and makes the caller return none.
bool refuse(const char* message) {
  std::fputs(message, stderr);
  return false;
}

// Reads one integer token that must be consumed whole and fit an int.
bool read_int(std::FILE* file, int* out) {
  char token[81];
  if (std::fscanf(file, "%80s", token) != 1) return false;
  char* end;
  errno = 0;
  const long value = std::strtol(token, &end, 10);
  if (end == token || *end != '\0' || errno == ERANGE || value < INT_MIN || value > INT_MAX)
    return false;
  *out = static_cast<int>(value);
  return true;
}

// Reads one finite real token that must be consumed whole.
bool read_double(std::FILE* file, double* out) {
  char token[81];
  if (std::fscanf(file, "%80s", token) != 1) return false;
  char* end;
  const double value = std::strtod(token, &end);
  if (end == token || *end != '\0' || !std::isfinite(value)) return false;
  *out = value;
  return true;
}

// Reads count integers into a fresh malloc'ed array, growing a scratch
// vector as it goes so that a huge count in a short file cannot demand a
// huge allocation up front.
bool read_int_array(std::FILE* file, int count, int** out) {
  std::vector<int> values;
  for (int k = 0; k < count; ++k) {
    int value;
    if (!read_int(file, &value)) return false;
    values.push_back(value);
  }
  std::free(*out);  // a repeated key replaces the earlier array
  *out = static_cast<int*>(std::malloc(sizeof(int) * (count > 0 ? count : 1)));
  for (int k = 0; k < count; ++k) (*out)[k] = values[k];
  return true;
}

// Reads the header up to and including the keyword "SV". Returns false after
// printing a message when the header cannot be used.
bool read_header(std::FILE* file, Model* model) {
  Parameter& param = model->param;
  bool have_svm_type = false, have_kernel_type = false;
  bool have_nr_class = false, have_total_sv = false;
  // nr_class at the time label and nr_sv were read: a later nr_class line
  // must not leave them shorter than the model claims.
  int label_count = -1, nr_sv_count = -1;
  char word[81];
  for (;;) {
    if (std::fscanf(file, "%80s", word) != 1) return refuse("model file ends before SV\n");
    if (std::strcmp(word, "svm_type") == 0) {
      if (std::fscanf(file, "%80s", word) != 1) return refuse("unknown svm type.\n");
      param.svm_type = find_name(svm_type_names, word);
      if (param.svm_type < 0) return refuse("unknown svm type.\n");
      have_svm_type = true;
    } else if (std::strcmp(word, "kernel_type") == 0) {
      if (std::fscanf(file, "%80s", word) != 1) return refuse("unknown kernel function.\n");
      param.kernel_type = find_name(kernel_type_names, word);
      if (param.kernel_type < 0) return refuse("unknown kernel function.\n");
      have_kernel_type = true;
    } else if (std::strcmp(word, "degree") == 0) {
      if (!read_int(file, &param.degree)) return refuse("malformed degree in model file\n");
    } else if (std::strcmp(word, "gamma") == 0) {
      if (!read_double(file, &param.gamma)) return refuse("malformed gamma in model file\n");
    } else if (std::strcmp(word, "coef0") == 0) {
      if (!read_double(file, &param.coef0)) return refuse("malformed coef0 in model file\n");
    } else if (std::strcmp(word, "nr_class") == 0) {
      if (!read_int(file, &model->nr_class) || model->nr_class < 1)
        return refuse("malformed nr_class in model file\n");
      have_nr_class = true;
    } else if (std::strcmp(word, "total_sv") == 0) {
      if (!read_int(file, &model->total_sv) || model->total_sv < 0)
        return refuse("malformed total_sv in model file\n");
      have_total_sv = true;
    } else if (std::strcmp(word, "label") == 0) {
      if (!have_nr_class) return refuse("label before nr_class in model file\n");
      if (!read_int_array(file, model->nr_class, &model->label))
        return refuse("malformed label in model file\n");
      label_count = model->nr_class;
    } else if (std::strcmp(word, "nr_sv") == 0) {
      if (!have_nr_class) return refuse("nr_sv before nr_class in model file\n");
      if (!read_int_array(file, model->nr_class, &model->nr_sv))
        return refuse("malformed nr_sv in model file\n");
      nr_sv_count = model->nr_class;
    } else if (std::strcmp(word, "SV") == 0) {
      break;
    } else {
      return refuse("unknown text in model file\n");
    }
  }

  if (!have_svm_type) return refuse("svm_type missing in model file\n");
  if (!have_kernel_type) return refuse("kernel_type missing in model file\n");
  if (!have_nr_class) return refuse("nr_class missing in model file\n");
  if (!have_total_sv) return refuse("total_sv missing in model file\n");
  if (model->label != nullptr && label_count != model->nr_class)
    return refuse("label does not match nr_class in model file\n");
  if (model->nr_sv != nullptr && nr_sv_count != model->nr_class)
    return refuse("nr_sv does not match nr_class in model file\n");
  if (is_classification(param.svm_type)) {
    // Prediction walks the support vectors class by class with these.
    if (model->label == nullptr) return refuse("label missing in model file\n");
    if (model->nr_sv == nullptr) return refuse("nr_sv missing in model file\n");
    long long sum = 0;
    for (int k = 0; k < model->nr_class; ++k) {
      if (model->nr_sv[k] < 0) return refuse("malformed nr_sv in model file\n");
      sum += model->nr_sv[k];
    }
    if (sum != model->total_sv) return refuse("nr_sv does not add up to total_sv in model file\n");
  } else if (model->nr_class != 2) {
    return refuse("malformed nr_class in model file\n");
  }
  return true;
}

// What the support-vector section can hold at most, from one counting pass.
struct Section_size {
  long long nodes;   // one per ":" plus one terminator per line
  long long lines;   // lines, a last line without newline included
  long long tokens;  // white-space delimited words
};

Section_size measure_section(std::FILE* file) {
  Section_size size{0, 0, 0};
  bool in_token = false, line_open = false;
  int c;
  while ((c = std::getc(file)) != EOF) {
    if (c == ':') ++size.nodes;
    if (c == '\n') {
      ++size.nodes;
      ++size.lines;
      line_open = false;
    } else {
      line_open = true;
    }
    const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    if (!blank && !in_token) ++size.tokens;
    in_token = !blank;
  }
  if (line_open) {  // the last line has no newline: it still needs a terminator
    ++size.nodes;
    ++size.lines;
  }
  return size;
}

bool is_line_blank(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// Reads the next word of the current line into token (at most size - 1
// characters). Returns the character that ended it (pushed back), or the
// newline/EOF met before any word, with an empty token.
int read_word(std::FILE* file, char* token, int size) {
  int c;
  do c = std::getc(file);
  while (is_line_blank(c));
  int n = 0;
  while (c != EOF && c != '\n' && !is_line_blank(c)) {
    if (n == size - 1) {  // longer than any number the writer produces
      token[0] = '\0';
      return -2;
    }
    token[n++] = static_cast<char>(c);
    c = std::getc(file);
  }
  token[n] = '\0';
  if (c != EOF) std::ungetc(c, file);
  return n > 0 ? 0 : c;
}

// Skips the rest of the line holding the keyword "SV".
void skip_rest_of_line(std::FILE* file) {
  int c;
  while ((c = std::getc(file)) != EOF && c != '\n') {
  }
}

// Reads the support-vector section into freshly allocated arrays of the
// model. Returns false after printing a message.
bool read_support_vectors(std::FILE* file, Model* model) {
  skip_rest_of_line(file);
  const long start = std::ftell(file);
  const Section_size size = measure_section(file);
  if (start < 0 || std::fseek(file, start, SEEK_SET) != 0)
    return refuse("can't read support vectors of model file\n");

  const int total_sv = model->total_sv;
  const int rows = coefficient_row_count(model->param.svm_type, model->nr_class);
  if (total_sv > size.lines)
    return refuse("model file has fewer support vectors than total_sv\n");
  if (static_cast<long long>(rows) * total_sv > size.tokens)
    return refuse("model file has fewer coefficients than its support vectors need\n");

  model->coefficients = static_cast<double**>(std::malloc(sizeof(double*) * (rows > 0 ? rows : 1)));
  for (int r = 0; r < rows; ++r)
    model->coefficients[r] = static_cast<double*>(std::malloc(sizeof(double) * (total_sv > 0 ? total_sv : 1)));
  model->SV = static_cast<Node**>(std::malloc(sizeof(Node*) * (total_sv > 0 ? total_sv : 1)));
  const long long node_count = size.nodes > 0 ? size.nodes : 1;
  Node* block = static_cast<Node*>(std::malloc(sizeof(Node) * node_count));
  // Until the first SV pointer is set, the block belongs to this routine.
  if (total_sv > 0) {
    model->SV[0] = block;
  } else {
    std::free(block);
  }
  model->owns_sv_nodes = 1;

  const bool precomputed_kernel = model->param.kernel_type == precomputed;
  char token[128];
  long long next = 0;
  for (int i = 0; i < total_sv; ++i) {
    model->SV[i] = block + next;
    for (int r = 0; r < rows; ++r) {
      const int ended = read_word(file, token, sizeof token);
      if (ended == EOF && r == 0 && i > 0) {
        // Fewer lines than total_sv (a final blank is not a support vector).
        return refuse("model file has fewer support vectors than total_sv\n");
      }
      char* end;
      const double value = std::strtod(token, &end);
      if (ended != 0 || end == token || *end != '\0' || !std::isfinite(value)) {
        std::fprintf(stderr, "malformed support vector %d in model file\n", i + 1);
        return false;
      }
      model->coefficients[r][i] = value;
    }
    int last_index = -1;
    for (;;) {
      const int ended = read_word(file, token, sizeof token);
      if (ended == '\n' || ended == EOF) {
        std::getc(file);  // the newline itself
        break;
      }
      char* colon = ended == 0 ? std::strchr(token, ':') : nullptr;
      bool ok = colon != nullptr && next < node_count - 1;
      long index = 0;
      double value = 0;
      if (ok) {
        char* end;
        errno = 0;
        index = std::strtol(token, &end, 10);
        ok = end != token && end == colon && errno != ERANGE && index > last_index &&
             index <= INT_MAX;
        value = std::strtod(colon + 1, &end);
        ok = ok && end != colon + 1 && *end == '\0' && std::isfinite(value);
      }
      if (!ok) {
        std::fprintf(stderr, "malformed support vector %d in model file\n", i + 1);
        return false;
      }
      block[next].index = static_cast<int>(index);
      block[next].value = value;
      ++next;
      last_index = static_cast<int>(index);
    }
    if (next >= node_count) {
      std::fprintf(stderr, "malformed support vector %d in model file\n", i + 1);
      return false;
    }
    block[next].index = -1;
    block[next].value = 0;
    ++next;
    if (precomputed_kernel) {
      // Prediction looks up the test sample at the position this serial
      // number names: it must be a usable position.
      const Node* sv = model->SV[i];
      if (sv->index != 0 || !(sv->value >= 1) || !(sv->value < INT_MAX)) {
        std::fprintf(stderr, "support vector %d of precomputed model file lacks 0:serial_number\n",
                     i + 1);
        return false;
      }
    }
  }
  // Nothing but white space may follow: more lines mean total_sv is wrong.
  int c;
  while ((c = std::getc(file)) != EOF) {
    if (!is_line_blank(c) && c != '\n')
      return refuse("model file has more support vectors than total_sv\n");
  }
  return true;
}

}  // namespace

int save_model_file(const char* file_name, const Model* model) {
  std::FILE* file = std::fopen(file_name, "w");
  if (file == nullptr) return -1;
  {
    Locale_guard guard;
    write_header(file, *model);
    write_support_vectors(file, *model);
  }
  const bool write_failed = std::ferror(file) != 0;
  const bool close_failed = std::fclose(file) != 0;
  return write_failed || close_failed ? -1 : 0;
}

Model* load_model_file(const char* file_name) {
  std::FILE* file = std::fopen(file_name, "rb");
  if (file == nullptr) return nullptr;
  Model* model = static_cast<Model*>(std::calloc(1, sizeof(Model)));
  bool ok;
  {
    Locale_guard guard;
    ok = read_header(file, model) && read_support_vectors(file, model);
  }
  const bool read_failed = std::ferror(file) != 0;
  const bool close_failed = std::fclose(file) != 0;
  if (ok && (read_failed || close_failed)) ok = false;
  if (!ok) {
    // Coefficient rows are sized by nr_class, which may still change while
    // the header is read; they exist only once the header was accepted.
    release_model_contents(model);
    std::free(model);
    return nullptr;
  }
  return model;
}

}  // namespace tevra
