// Least-recently-used cache of single-precision Q-matrix columns.
#ifndef TEVRA_LEARN_COLUMN_CACHE_H_
#define TEVRA_LEARN_COLUMN_CACHE_H_

#include <memory>
#include <vector>

namespace tevra {

// Keeps partial columns (their leading rows) within a budget of floats and
// evicts whole columns, least recently used first. It knows nothing about
// kernels: it hands out storage and says how much of it already holds values.
//
// An exchange of two positions moves the two slots at once but only notes
// the exchange of rows; the rows of every cached column follow in one pass
// at the next fetch or peek. A shrinking step exchanges many positions in a
// row, and one pass over each column then costs about what a single
// exchange did when each walked every column. A column that holds a row
// whose partner lies beyond its end cannot follow that exchange: it keeps
// the rows before the first such row and gives the rest back to the budget.
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
  const float* peek(int i, int len) {
    if (!touched.empty()) settle();
    return slots[i].filled >= len ? slots[i].data : nullptr;
  }

  // Exchanges positions i and j in the slots and (from the next fetch or
  // peek on) in every cached column.
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
  // Moves the rows of every cached column as the exchanges noted since the
  // last call ask.
  void settle();
  // Shortens slot's column to its first len rows (releases it for len 0).
  void truncate(Column_slot* slot, int len);

  int column_count;                      // columns, equal to rows
  long long free_floats_;                // budget not held by any column
  std::unique_ptr<Column_slot[]> slots;  // one per position
  // Sentinel of the circular recency list: next is the least recently used
  // slot, prev the most recently used.
  Column_slot recency_list;

  // Noted row exchanges: the row at position p of every cached column is
  // the one now stored at row_source[p]; touched lists (unordered, once
  // each) the positions where that is not p itself.
  std::vector<int> row_source;
  std::vector<int> touched;
  std::vector<char> is_touched;  // per position: listed in touched
  std::vector<float> moved_rows;  // one column's rows in transit, reused
};

}  // namespace tevra

#endif  // TEVRA_LEARN_COLUMN_CACHE_H_
