// Every index text runs from the end of the previous token to the next
// colon, so an empty one (":0.5", "1:1 :2") is refused instead of being
// skipped over, which would silently drop or shift an entry.
#include "tools/common/sample_line.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "tools/common/line_reader.h"

namespace tevra {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool is_value_delimiter(char c) { return c == ' ' || c == '\t'; }

// A carriage return right before the line end, left over from a CR LF file
// handed over without read_line's clean-up.
bool is_final_carriage_return(const char* p) {
  return p[0] == '\r' && (p[1] == '\0' || (p[1] == '\n' && p[2] == '\0'));
}

bool ends_label(const char* p) { return is_blank(*p) || is_final_carriage_return(p); }

}  // namespace

Sample_buffer make_sample_buffer() {
  Sample_buffer buffer;
  buffer.capacity = 64;
  buffer.nodes = static_cast<Node*>(std::malloc(sizeof(Node) * buffer.capacity));
  if (buffer.nodes == nullptr) report_out_of_memory();
  return buffer;
}

void release_sample_buffer(Sample_buffer* buffer) {
  std::free(buffer->nodes);
  buffer->nodes = nullptr;
  buffer->capacity = 0;
}

bool parse_sample_line(const char* line, std::size_t length, Sample_buffer* buffer, double* label,
                       int* entry_count) {
  if (std::strlen(line) != length) return false;  // a NUL byte would hide the rest

  // The label: the first token.
  const char* p = line;
  while (*p != '\0' && ends_label(p)) ++p;
  if (*p == '\0') return false;
  const char* q = p;
  while (*q != '\0' && !ends_label(q)) ++q;
  char* end;
  errno = 0;
  const double target = std::strtod(p, &end);
  if (end != q || errno == ERANGE || !std::isfinite(target)) return false;
  const char* cursor = *q != '\0' ? q + 1 : q;

  int i = 0;
  int last_index = -1;
  for (;;) {
    // Room for this entry and the terminator after it.
    if (i >= buffer->capacity - 1) {
      // 2^30 entries take 16 GiB; beyond them the int count would overflow.
      Node* grown = buffer->capacity <= INT_MAX / 2
                        ? static_cast<Node*>(std::realloc(
                              buffer->nodes, sizeof(Node) * 2 * static_cast<std::size_t>(buffer->capacity)))
                        : nullptr;
      if (grown == nullptr) report_out_of_memory();
      buffer->nodes = grown;
      buffer->capacity *= 2;
    }
    // Index text: up to the next colon. Without a colon the entries are
    // complete and a trailing word is ignored.
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
  *label = target;
  *entry_count = i;
  return true;
}

}  // namespace tevra
