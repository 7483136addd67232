// The model file: a text header of keyword lines, the line "SV", then one
// line per support vector (its coefficients, then its entries).
//
// The writer emits exactly what the reader accepts, and replaces a file only
// once the new one is complete: it writes a temporary file beside the target,
// syncs it and renames it over the target, so that a failed or interrupted
// save leaves the old model as it was.
//
// The reader goes beyond a reader of well-formed files only: it refuses
// every file it cannot turn into a consistent model (a header cut short, a
// missing or malformed number, a token holding a NUL byte, arrays sized
// before nr_class is known, counts that disagree with the support-vector
// section, malformed entries, a last support-vector line without its
// newline, a precomputed support vector without a usable serial number),
// always with one message on standard error unless the stream itself failed,
// and it never writes beyond the node block it sized. Tokens may be of any
// length, and blank lines between support-vector lines are skipped. Fields
// of the loaded model's param that the file does not carry are zero.
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "learn/tevra.h"

namespace tevra {

namespace {

// Puts the calling thread, and only it, in the "C" locale for the life of
// the object, so that numbers are written and read with a decimal point
// while other threads (a Python program may train or print in several) keep
// the locale they rely on; the thread's previous locale, per-thread or
// global, comes back on every path out of the routine. ok() is false when
// the C locale object could not be made (no memory); nothing is switched
// then.
class Locale_guard {
 public:
  Locale_guard() : c_locale_(newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0))) {
    if (c_locale_ != static_cast<locale_t>(0)) previous_ = uselocale(c_locale_);
  }
  ~Locale_guard() {
    if (c_locale_ == static_cast<locale_t>(0)) return;
    uselocale(previous_);
    freelocale(c_locale_);
  }
  Locale_guard(const Locale_guard&) = delete;
  Locale_guard& operator=(const Locale_guard&) = delete;

  bool ok() const { return c_locale_ != static_cast<locale_t>(0); }

 private:
  locale_t c_locale_;                     // owned
  locale_t previous_ = LC_GLOBAL_LOCALE;  // the thread's locale before
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

// Writes the whole model to the stream; false when the stream reports an
// error.
bool write_model(std::FILE* file, const Model& model) {
  {
    Locale_guard guard;
    if (!guard.ok()) return false;
    write_header(file, model);
    write_support_vectors(file, model);
  }
  return std::fflush(file) == 0 && std::ferror(file) == 0;
}

// A device or a pipe cannot be replaced, only written.
int save_in_place(const char* file_name, const Model& model) {
  std::FILE* file = std::fopen(file_name, "w");
  if (file == nullptr) return -1;
  const bool written = write_model(file, model);
  const bool closed = std::fclose(file) == 0;
  return written && closed ? 0 : -1;
}

// Creates a new file in directory ("" or ending in '/') under a name no
// other file has, with the mode the umask leaves of 0666 as fopen would
// give it. Returns its descriptor and sets *path, or returns -1.
int create_temporary(const std::string& directory, std::string* path) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    *path = directory + ".tevra-" + std::to_string(getpid()) + "-" + std::to_string(counter++) +
            ".tmp";
    const int fd = open(path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Makes a rename in directory durable. A failure here changes nothing that
// the caller could act on: the new file is in place already.
void sync_directory(const std::string& directory) {
  const int fd = open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// ---------------------------------------------------------------------------
// Reading

// Allocation of the loaded model's arrays; running out of memory unwinds to
// load_model_file, which refuses the file.
template <typename T>
T* allocate(long long count, bool zeroed = false) {
  const std::size_t n = static_cast<std::size_t>(count > 0 ? count : 1);
  void* block = zeroed ? std::calloc(n, sizeof(T)) : std::malloc(n * sizeof(T));
  if (block == nullptr) throw std::bad_alloc();
  return static_cast<T*>(block);
}

// Refuses a file: prints the message and makes the caller return none. A
// stream that failed to read says nothing about the content, so the message
// is left out then (load_model_file returns none all the same).
bool refuse(std::FILE* file, const char* message) {
  if (!std::ferror(file)) std::fputs(message, stderr);
  return false;
}

bool refuse_support_vector(std::FILE* file, const char* format, int i) {
  if (!std::ferror(file)) std::fprintf(stderr, format, i);
  return false;
}

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool is_line_blank(int c) { return c != '\n' && is_space(c); }

// Collects into token the characters from c, the first one after the
// blanks, up to the next white space or EOF, which is left in the stream.
// Returns c when the token is empty (c ended it at once), else 0.
int collect_token(std::FILE* file, int c, std::string* token) {
  const int first = c;
  token->clear();
  while (c != EOF && !is_space(c)) {
    token->push_back(static_cast<char>(c));
    c = std::getc(file);
  }
  if (c != EOF) std::ungetc(c, file);
  return token->empty() ? first : 0;
}

// Reads the next white-space delimited token, of any length, leaving the
// character that ended it in the stream. False when the file ends first.
bool read_token(std::FILE* file, std::string* token) {
  int c;
  do c = std::getc(file);
  while (is_space(c));
  collect_token(file, c, token);
  return !token->empty();
}

// A token counts only when its conversion ends exactly at its end: a NUL
// byte inside it, or any other left-over character, refuses it.
bool whole_token(const std::string& token, const char* end) {
  return end != token.c_str() && end == token.c_str() + token.size();
}

// One integer token that fits an int.
bool read_int(std::FILE* file, int* out) {
  std::string token;
  if (!read_token(file, &token)) return false;
  char* end;
  errno = 0;
  const long value = std::strtol(token.c_str(), &end, 10);
  if (!whole_token(token, end) || errno == ERANGE || value < INT_MIN || value > INT_MAX) return false;
  *out = static_cast<int>(value);
  return true;
}

// One finite real token.
bool read_double(std::FILE* file, double* out) {
  std::string token;
  if (!read_token(file, &token)) return false;
  char* end;
  const double value = std::strtod(token.c_str(), &end);
  if (!whole_token(token, end) || !std::isfinite(value)) return false;
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
  int* array = allocate<int>(count);
  for (int k = 0; k < count; ++k) array[k] = values[k];
  std::free(*out);  // a repeated key replaces the earlier array
  *out = array;
  return true;
}

// Position of name in a table ended by a null entry, or -1. The whole token
// is compared, so one holding a NUL byte matches no name.
int find_name(const char* const* names, const std::string& name) {
  for (int k = 0; names[k] != nullptr; ++k)
    if (name == names[k]) return k;
  return -1;
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
  std::string word;
  for (;;) {
    if (!read_token(file, &word)) return refuse(file, "model file ends before SV\n");
    if (word == "svm_type") {
      const int k = read_token(file, &word) ? find_name(svm_type_names, word) : -1;
      if (k < 0) return refuse(file, "unknown svm type.\n");
      param.svm_type = k;
      have_svm_type = true;
    } else if (word == "kernel_type") {
      const int k = read_token(file, &word) ? find_name(kernel_type_names, word) : -1;
      if (k < 0) return refuse(file, "unknown kernel function.\n");
      param.kernel_type = k;
      have_kernel_type = true;
    } else if (word == "degree") {
      if (!read_int(file, &param.degree)) return refuse(file, "malformed degree in model file\n");
    } else if (word == "gamma") {
      if (!read_double(file, &param.gamma)) return refuse(file, "malformed gamma in model file\n");
    } else if (word == "coef0") {
      if (!read_double(file, &param.coef0)) return refuse(file, "malformed coef0 in model file\n");
    } else if (word == "nr_class") {
      if (!read_int(file, &model->nr_class) || model->nr_class < 1)
        return refuse(file, "malformed nr_class in model file\n");
      have_nr_class = true;
    } else if (word == "total_sv") {
      if (!read_int(file, &model->total_sv) || model->total_sv < 0)
        return refuse(file, "malformed total_sv in model file\n");
      have_total_sv = true;
    } else if (word == "label") {
      if (!have_nr_class) return refuse(file, "label before nr_class in model file\n");
      if (!read_int_array(file, model->nr_class, &model->label))
        return refuse(file, "malformed label in model file\n");
      label_count = model->nr_class;
    } else if (word == "nr_sv") {
      if (!have_nr_class) return refuse(file, "nr_sv before nr_class in model file\n");
      if (!read_int_array(file, model->nr_class, &model->nr_sv))
        return refuse(file, "malformed nr_sv in model file\n");
      nr_sv_count = model->nr_class;
    } else if (word == "SV") {
      break;
    } else {
      return refuse(file, "unknown text in model file\n");
    }
  }

  if (!have_svm_type) return refuse(file, "svm_type missing in model file\n");
  if (!have_kernel_type) return refuse(file, "kernel_type missing in model file\n");
  if (!have_nr_class) return refuse(file, "nr_class missing in model file\n");
  if (!have_total_sv) return refuse(file, "total_sv missing in model file\n");
  if (model->label != nullptr && label_count != model->nr_class)
    return refuse(file, "label does not match nr_class in model file\n");
  if (model->nr_sv != nullptr && nr_sv_count != model->nr_class)
    return refuse(file, "nr_sv does not match nr_class in model file\n");
  if (is_classification(param.svm_type)) {
    // Prediction walks the support vectors class by class with these.
    if (model->label == nullptr) return refuse(file, "label missing in model file\n");
    if (model->nr_sv == nullptr) return refuse(file, "nr_sv missing in model file\n");
    long long sum = 0;
    for (int k = 0; k < model->nr_class; ++k) {
      if (model->nr_sv[k] < 0) return refuse(file, "malformed nr_sv in model file\n");
      sum += model->nr_sv[k];
    }
    if (sum != model->total_sv) return refuse(file, "nr_sv does not add up to total_sv in model file\n");
  } else if (model->nr_class != 2) {
    return refuse(file, "malformed nr_class in model file\n");
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
    if (!is_space(c) && !in_token) ++size.tokens;
    in_token = !is_space(c);
  }
  if (line_open) {  // the last line has no newline: it still needs a terminator
    ++size.nodes;
    ++size.lines;
  }
  return size;
}

// Reads the next word of the current line into token. Returns 0, or the
// newline or EOF met before any word (left in the stream), with an empty
// token.
int read_word(std::FILE* file, std::string* token) {
  int c;
  do c = std::getc(file);
  while (is_line_blank(c));
  return collect_token(file, c, token);
}

// Skips white space, blank lines included; false when the file ends first.
bool skip_space(std::FILE* file) {
  int c;
  do c = std::getc(file);
  while (is_space(c));
  if (c == EOF) return false;
  std::ungetc(c, file);
  return true;
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
  if (start < 0 || std::ferror(file) || std::fseek(file, start, SEEK_SET) != 0)
    return refuse(file, "can't read support vectors of model file\n");

  const int total_sv = model->total_sv;
  const int rows = coefficient_row_count(model->param.svm_type, model->nr_class);
  if (total_sv > size.lines)
    return refuse(file, "model file has fewer support vectors than total_sv\n");
  if (static_cast<long long>(rows) * total_sv > size.tokens)
    return refuse(file, "model file has fewer coefficients than its support vectors need\n");

  // Rows stay null until allocated, so that a failure part-way releases
  // exactly what exists.
  model->coefficients = allocate<double*>(rows, true);
  for (int r = 0; r < rows; ++r) model->coefficients[r] = allocate<double>(total_sv);
  model->SV = allocate<Node*>(total_sv);
  const long long node_count = size.nodes > 0 ? size.nodes : 1;
  Node* block = allocate<Node>(node_count);
  // Until the first SV pointer is set, the block belongs to this routine.
  if (total_sv > 0) {
    model->SV[0] = block;
  } else {
    std::free(block);
  }
  model->owns_sv_nodes = 1;

  const bool precomputed_kernel = model->param.kernel_type == precomputed;
  std::string token;
  long long next = 0;
  for (int i = 0; i < total_sv; ++i) {
    model->SV[i] = block + next;
    // A blank line between two support vectors is white space before the
    // first coefficient.
    if (rows > 0 && !skip_space(file))
      return refuse(file, "model file has fewer support vectors than total_sv\n");
    for (int r = 0; r < rows; ++r) {
      const int ended = read_word(file, &token);
      char* end = nullptr;
      const double value = ended == 0 ? std::strtod(token.c_str(), &end) : 0;
      if (ended != 0 || !whole_token(token, end) || !std::isfinite(value))
        return refuse_support_vector(file, "malformed support vector %d in model file\n", i + 1);
      model->coefficients[r][i] = value;
    }
    int last_index = -1;
    for (;;) {
      const int ended = read_word(file, &token);
      if (ended == '\n') {
        std::getc(file);  // the newline itself
        break;
      }
      // The writer ends every line with a newline: without it the file was
      // cut short, possibly inside this very support vector.
      if (ended == EOF)
        return refuse_support_vector(file, "model file is cut short in support vector %d\n", i + 1);
      const std::size_t colon = token.find(':');
      bool ok = colon != std::string::npos && next < node_count - 1;
      long index = 0;
      double value = 0;
      if (ok) {
        char* end;
        errno = 0;
        index = std::strtol(token.c_str(), &end, 10);
        ok = end != token.c_str() && end == token.c_str() + colon && errno != ERANGE &&
             index > last_index && index <= INT_MAX;
        const char* value_text = token.c_str() + colon + 1;
        value = std::strtod(value_text, &end);
        ok = ok && end != value_text && end == token.c_str() + token.size() && std::isfinite(value);
      }
      if (!ok) return refuse_support_vector(file, "malformed support vector %d in model file\n", i + 1);
      block[next].index = static_cast<int>(index);
      block[next].value = value;
      ++next;
      last_index = static_cast<int>(index);
    }
    if (next >= node_count)
      return refuse_support_vector(file, "malformed support vector %d in model file\n", i + 1);
    block[next].index = -1;
    block[next].value = 0;
    ++next;
    if (precomputed_kernel) {
      // Prediction looks up the test sample at the position this serial
      // number names: it must be a usable position.
      const Node* sv = model->SV[i];
      if (sv->index != 0 || !(sv->value >= 1) || !(sv->value < INT_MAX))
        return refuse_support_vector(
            file, "support vector %d of precomputed model file lacks 0:serial_number\n", i + 1);
    }
  }
  // Nothing but white space may follow: more lines mean total_sv is wrong.
  if (skip_space(file)) return refuse(file, "model file has more support vectors than total_sv\n");
  return true;
}

}  // namespace

int save_model_file(const char* file_name, const Model* model) {
  struct stat link, target;
  const bool is_link = lstat(file_name, &link) == 0 && S_ISLNK(link.st_mode);
  const bool exists = stat(file_name, &target) == 0;
  // A device or a pipe is written as it is, and so is a link to nowhere,
  // which names no old model to keep.
  if ((exists && !S_ISREG(target.st_mode)) || (is_link && !exists)) return save_in_place(file_name, *model);
  // A model the user may not write stays, as it would with a plain write.
  if (exists && access(file_name, W_OK) != 0) return -1;

  // Through a link, the file it names is replaced, not the link.
  std::string path = file_name;
  if (is_link) {
    char* real = realpath(file_name, nullptr);
    if (real == nullptr) return -1;
    path = real;
    std::free(real);
  }
  const std::string directory = path.substr(0, path.rfind('/') + 1);
  std::string temporary;
  const int fd = create_temporary(directory, &temporary);
  if (fd < 0) return -1;
  // The new file keeps the permissions of the one it replaces.
  std::FILE* file = !exists || fchmod(fd, target.st_mode & 0777) == 0 ? fdopen(fd, "w") : nullptr;
  if (file == nullptr) {
    close(fd);
    unlink(temporary.c_str());
    return -1;
  }
  bool ok = write_model(file, *model) && fsync(fileno(file)) == 0;
  ok = std::fclose(file) == 0 && ok;
  ok = ok && std::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) {
    unlink(temporary.c_str());
    return -1;
  }
  sync_directory(directory);
  return 0;
}

Model* load_model_file(const char* file_name) {
  std::FILE* file = std::fopen(file_name, "rb");
  if (file == nullptr) return nullptr;
  Model* model = static_cast<Model*>(std::calloc(1, sizeof(Model)));
  bool ok = model != nullptr;
  if (ok) {
    try {
      Locale_guard guard;
      if (!guard.ok()) throw std::bad_alloc();
      ok = read_header(file, model) && read_support_vectors(file, model);
    } catch (const std::bad_alloc&) {
      std::fputs("not enough memory to read model file\n", stderr);
      ok = false;
    }
  } else {
    std::fputs("not enough memory to read model file\n", stderr);
  }
  const bool read_failed = std::ferror(file) != 0;
  const bool close_failed = std::fclose(file) != 0;
  if (ok && (read_failed || close_failed)) ok = false;
  if (!ok) {
    if (model != nullptr) release_model_contents(model);
    std::free(model);
    return nullptr;
  }
  index_support_vectors(model);
  return model;
}

}  // namespace tevra
