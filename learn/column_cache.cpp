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
  const int positions = count > 0 ? count : 0;
  row_source.resize(positions);
  for (int p = 0; p < positions; ++p) row_source[p] = p;
  is_touched.assign(positions, 0);
  // Reserved now so that noting an exchange never allocates.
  touched.reserve(positions);
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
  if (!touched.empty()) settle();
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

  std::swap(row_source[i], row_source[j]);
  for (const int p : {i, j}) {
    if (!is_touched[p]) {
      is_touched[p] = 1;
      touched.push_back(p);
    }
  }
}

void Column_cache::truncate(Column_slot* slot, int len) {
  if (len == 0) {
    release(slot);
    return;
  }
  // Giving memory back never fails in practice; if it did, the old block
  // simply stays, larger than the rows it is charged for.
  if (float* shorter = static_cast<float*>(std::realloc(slot->data, sizeof(float) * len)))
    slot->data = shorter;
  free_floats_ += slot->filled - len;
  slot->filled = len;
}

void Column_cache::settle() {
  if (moved_rows.size() < touched.size()) moved_rows.resize(touched.size());
  std::sort(touched.begin(), touched.end());
  const int* const moved = touched.data();
  const int moved_count = static_cast<int>(touched.size());
  for (Column_slot* v = recency_list.next; v != &recency_list;) {
    Column_slot* const next = v->next;
    const int filled = v->filled;
    // Rows before the first one whose source lies beyond the column can
    // follow; those from it on are dropped. Sources are read before any
    // row is written.
    float* const data = v->data;
    int keep = filled;
    int count = 0;
    for (; count < moved_count; ++count) {
      const int p = moved[count];
      if (p >= filled) break;
      const int source = row_source[p];
      if (source >= filled) {
        keep = p;
        break;
      }
      moved_rows[count] = data[source];
    }
    for (int t = 0; t < count; ++t) data[moved[t]] = moved_rows[t];
    if (keep < filled) truncate(v, keep);
    v = next;
  }
  for (const int p : touched) {
    row_source[p] = p;
    is_touched[p] = 0;
  }
  touched.clear();
}

}  // namespace tevra
