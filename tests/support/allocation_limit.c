/* Preloaded into a tool run by the tests: every allocation of more than
   TEVRA_ALLOCATION_LIMIT bytes fails, as allocations fail once memory runs
   out, so that the handling of a failed allocation can be tested without
   exhausting the machine. Smaller allocations go to the C library. */
#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);

static size_t limit(void) {
  static size_t value = 0;
  if (value == 0) {
    const char* text = getenv("TEVRA_ALLOCATION_LIMIT");
    value = text != NULL ? (size_t)strtoull(text, NULL, 10) : 0;
    if (value == 0) value = SIZE_MAX;
  }
  return value;
}

void* malloc(size_t size) {
  if (size > limit()) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
  if (size != 0 && count > limit() / size) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size) {
  if (size > limit()) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_realloc(block, size);
}
