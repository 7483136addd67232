// Least-recently-used cache of single-precision Q-matrix columns.
#ifndef TEVRA_LEARN_COLUMN_CACHE_H_
#define TEVRA_LEARN_COLUMN_CACHE_H_

#include <memory>

namespace tevra {

// Keeps partial columns (their leading rows) within a budget of floats and
// evicts whole columns, least recently used first. It knows nothing about
// kernels: it hands out storage and says how much of it already holds values.
//
// The budget is max(bytes / 4 - 8 * count, count * min_columns) floats,
// computed and kept in 64 bits, so that min_columns complete columns always
// fit (the solvers hold that many at once) whatever count and min_columns
// are; a min_columns below 1 still keeps one complete column. A 32-bit float
// count could not hold that floor for large problems. Storage that cannot
// be had raises std::bad_alloc.
class Column_cache {
 public:
  // count columns of count rows; the budget is derived from bytes and keeps
  // room for at least min_columns complete columns.
  Column_cache(int count, long long bytes, int min_columns);
  ~Column_cache();
  Column_cache(const Column_cache&) = delete;
  Column_cache& operator=(const Column_cache&) = delete;

  // Storage of column i holding at least len entries; *filled tells how many
  // leading entries already hold values (>= len: all requested ones do).
  // The column becomes the most recently used. len must be at least 1.
  float* fetch(int i, int len, int* filled);

  // Storage of column i if it holds at least len entries, else null. Only
  // a look: the column's recency is left alone.
  const float* peek(int i, int len) const {
    return slots[i].filled >= len ? slots[i].data : nullptr;
  }

  // Exchanges positions i and j in the slots and in every cached column.
  void swap_positions(int i, int j);

  // Budget still available, in floats.
  long long free_floats() const { return free_floats_; }

 private:
  // One column position.
  struct Column_slot {
    Column_slot* prev;  // neighbours on the recency list, meaningful only
    Column_slot* next;  // while the slot holds data
    float* data;        // malloc'ed storage of exactly filled floats, or null
    int filled;         // leading rows of data that hold values; 0: empty
  };

  static void unlink(Column_slot* slot);
  // Links slot at the most recently used end.
  void link_last(Column_slot* slot);
  // Takes slot off the list, frees its storage and returns it to the budget.
  void release(Column_slot* slot);

  int column_count;                      // columns, equal to rows
  long long free_floats_;                // budget not held by any column
  std::unique_ptr<Column_slot[]> slots;  // one per position
  // Sentinel of the circular recency list: next is the least recently used
  // slot, prev the most recently used.
  Column_slot recency_list;
};

}  // namespace tevra

#endif  // TEVRA_LEARN_COLUMN_CACHE_H_
