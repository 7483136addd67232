// Test lines follow the training set's line rules: a label, then index:value
// entries with strictly increasing indices from 0 up. Beyond those rules a
// line is refused when it holds a NUL byte, a label or value that is not a
// finite number or converts out of range, an index outside the int range,
// or an entry whose value is missing after its colon; a carriage return
// before the newline is white space, so files with CRLF line ends read as
// with LF.
#include "tools/predict/test_line.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tevra {

namespace {

bool is_label_delimiter(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_value_delimiter(char c) { return c == ' ' || c == '\t'; }

}  // namespace

Sample_buffer make_sample_buffer() {
  Sample_buffer buffer;
  buffer.capacity = 64;
  buffer.nodes = static_cast<Node*>(std::malloc(sizeof(Node) * buffer.capacity));
  return buffer;
}

void release_sample_buffer(Sample_buffer* buffer) {
  std::free(buffer->nodes);
  buffer->nodes = nullptr;
  buffer->capacity = 0;
}

bool parse_test_line(const char* line, std::size_t length, Sample_buffer* buffer, double* target,
                     int* entry_count) {
  if (std::strlen(line) != length) return false;  // a NUL byte would hide the rest

  // The label: the first token.
  const char* p = line;
  while (*p != '\0' && is_label_delimiter(*p)) ++p;
  if (*p == '\0') return false;
  const char* q = p;
  while (*q != '\0' && !is_label_delimiter(*q)) ++q;
  char* end;
  errno = 0;
  const double label = std::strtod(p, &end);
  if (end != q || errno == ERANGE || !std::isfinite(label)) return false;
  const char* cursor = *q != '\0' ? q + 1 : q;

  int i = 0;
  int last_index = -1;
  for (;;) {
    // Room for this entry and the terminator after it.
    if (i >= buffer->capacity - 1) {
      buffer->capacity *= 2;
      buffer->nodes = static_cast<Node*>(std::realloc(buffer->nodes, sizeof(Node) * buffer->capacity));
    }
    // Index text: up to the next colon. Without a colon the entries are
    // complete and a trailing word is ignored.
    while (*cursor == ':') ++cursor;
    const char* index_text = cursor;
    const char* colon = std::strchr(index_text, ':');
    if (colon == nullptr) break;
    // Value text: up to the next space or tab; an empty one is malformed.
    const char* value_text = colon + 1;
    while (is_value_delimiter(*value_text)) ++value_text;
    if (*value_text == '\0') return false;
    const char* value_end = value_text;
    while (*value_end != '\0' && !is_value_delimiter(*value_end)) ++value_end;

    errno = 0;
    const long index = std::strtol(index_text, &end, 10);
    if (end == index_text || errno == ERANGE || end != colon || index > INT_MAX || index <= last_index)
      return false;
    last_index = static_cast<int>(index);

    errno = 0;
    const double value = std::strtod(value_text, &end);
    if (end == value_text || errno == ERANGE ||
        (*end != '\0' && !std::isspace(static_cast<unsigned char>(*end))) || !std::isfinite(value))
      return false;

    buffer->nodes[i].index = last_index;
    buffer->nodes[i].value = value;
    ++i;
    cursor = *value_end != '\0' ? value_end + 1 : value_end;
  }
  buffer->nodes[i].index = -1;
  buffer->nodes[i].value = 0;
  *target = label;
  *entry_count = i;
  return true;
}

}  // namespace tevra
