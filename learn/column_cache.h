// Least-recently-used cache of single-precision Q-matrix columns.
#ifndef TEVRA_LEARN_COLUMN_CACHE_H_
#define TEVRA_LEARN_COLUMN_CACHE_H_

namespace tevra {

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
  // The column becomes the most recently used.
  float* fetch(int i, int len, int* filled);

  // Exchanges positions i and j in the slots and in every cached column.
  void swap_positions(int i, int j);

  // TODO(cache owner): slots, recency list, budget.
};

}  // namespace tevra

#endif  // TEVRA_LEARN_COLUMN_CACHE_H_
