// Column_cache: LRU cache of partial single-precision columns.
#include "learn/column_cache.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>

namespace tevra {

Column_cache::Column_cache(int count, long long bytes, int min_columns)
    : column_count(count),
      free_floats_(0),
      slots(new Column_slot[count > 0 ? count : 1]()),
      recency_list{&recency_list, &recency_list, nullptr, 0} {
  // 8 floats (32 bytes) per column charge its bookkeeping record.
  const long long requested = bytes / 4 - 8LL * count;
  const long long floor = static_cast<long long>(count) * std::max(min_columns, 1);
  free_floats_ = std::max(requested, floor);
}

Column_cache::~Column_cache() {
  for (Column_slot* v = recency_list.next; v != &recency_list; v = v->next) std::free(v->data);
}

void Column_cache::unlink(Column_slot* slot) {
  slot->prev->next = slot->next;
  slot->next->prev = slot->prev;
}

void Column_cache::link_last(Column_slot* slot) {
  slot->next = &recency_list;
  slot->prev = recency_list.prev;
  slot->prev->next = slot;
  slot->next->prev = slot;
}

void Column_cache::release(Column_slot* slot) {
  unlink(slot);
  std::free(slot->data);
  slot->data = nullptr;
  free_floats_ += slot->filled;
  slot->filled = 0;
}

float* Column_cache::fetch(int i, int len, int* filled) {
  Column_slot* s = &slots[i];
  if (s->filled > 0) unlink(s);

  const int more = len - s->filled;
  if (more > 0) {
    // s is off the list, so it is never evicted to make room for itself.
    while (free_floats_ < more) release(recency_list.next);
    float* grown = static_cast<float*>(std::realloc(s->data, sizeof(float) * len));
    if (grown == nullptr) {
      // Keep the invariants (s is off the list, so it must hold nothing).
      std::free(s->data);
      s->data = nullptr;
      free_floats_ += s->filled;
      s->filled = 0;
      throw std::bad_alloc();
    }
    s->data = grown;
    free_floats_ -= more;
    *filled = s->filled;
    s->filled = len;
  } else {
    *filled = len;
  }

  link_last(s);
  return s->data;
}

void Column_cache::swap_positions(int i, int j) {
  if (i == j) return;

  Column_slot* si = &slots[i];
  Column_slot* sj = &slots[j];
  if (si->filled > 0) unlink(si);
  if (sj->filled > 0) unlink(sj);
  std::swap(si->data, sj->data);
  std::swap(si->filled, sj->filled);
  if (si->filled > 0) link_last(si);
  if (sj->filled > 0) link_last(sj);

  const int lo = std::min(i, j);
  const int hi = std::max(i, j);
  for (Column_slot* v = recency_list.next; v != &recency_list;) {
    Column_slot* const next = v->next;
    if (v->filled > lo) {
      if (v->filled > hi) {
        std::swap(v->data[lo], v->data[hi]);
      } else {
        // Holds row lo but not row hi: it cannot be made consistent.
        release(v);
      }
    }
    v = next;
  }
}

}  // namespace tevra
