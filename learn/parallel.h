// Loops of independent entries, split between the threads of the machine.
//
// The thread count is OpenMP's: OMP_NUM_THREADS, or every core. A loop
// hands each thread one contiguous stretch of its entries, and every entry
// is computed exactly as one thread computes it, so results do not depend
// on the thread count: nothing here reduces across entries. A loop whose
// work is below a threshold runs on the calling thread, where starting the
// other threads would cost more than they save.
//
// Only parallel.cpp is compiled with OpenMP; this header is plain C++.
#ifndef TEVRA_LEARN_PARALLEL_H_
#define TEVRA_LEARN_PARALLEL_H_

namespace tevra {

// Work below which a loop stays on one thread, in units of one
// multiply-add over a double (a gradient entry times one column, one node
// of a dot product). Measured on the loops that use it: see
// bench/micro_bench.cpp (the ParallelThreshold benchmarks).
constexpr long long kParallelWorkThreshold = 20000;

// Threads a loop started here may use: 1 inside a parallel region (loops
// do not nest), else OpenMP's current thread count.
int available_threads();

// Runs body(begin, end) on [0, n): on the calling thread alone when the
// loop's work (in the units above) is below the threshold or one thread is
// available, else on each thread of a team for its own contiguous stretch.
// An exception thrown by body on any thread is caught there and the first
// one is rethrown on the calling thread once every stretch has ended.
template <typename Body>
void parallel_for(int n, long long work, const Body& body);

// Threads parallel_for would use for a loop of n entries and this work.
int threads_for(int n, long long work);

// parallel_for for entries of unequal cost: entry i costs
// cumulative[i + 1] - cumulative[i] (cumulative has n + 1 non-decreasing
// entries from 0), and each stretch takes about an equal share of the
// whole cost cumulative[n] instead of an equal number of entries.
template <typename Cumulative, typename Body>
void parallel_for_balanced(int n, const Cumulative* cumulative, const Body& body);

// The stretch s of `stretches` over [0, n): [n*s/stretches, n*(s+1)/stretches).
inline int stretch_begin(int n, int stretches, int s) {
  return static_cast<int>(static_cast<long long>(n) * s / stretches);
}

// Runs body(s, begin, end) for every stretch s of `stretches` over [0, n)
// (empty ones too, when n < stretches), each on some thread of a team (on
// the calling thread alone when stretches is 1). For loops whose stretches each keep a partial result of
// their own, merged afterwards in stretch order: the split depends only on
// n and stretches, never on the threads that happen to run it. Exceptions
// as for parallel_for.
template <typename Body>
void for_each_stretch(int n, int stretches, const Body& body);

// For the tests: while an object lives, loops started from the thread that
// made it use `threads` threads, and every loop with at least two entries
// is split whatever its work, so that small fixtures exercise the threaded
// paths. The splitting applies to loops started from any thread; make one
// only where no other training runs meanwhile.
class Split_every_loop {
 public:
  explicit Split_every_loop(int threads);
  ~Split_every_loop();
  Split_every_loop(const Split_every_loop&) = delete;
  Split_every_loop& operator=(const Split_every_loop&) = delete;

 private:
  int previous_threads;  // the calling thread's count before
};

namespace internal {

using Stretch_function = void (*)(const void* body, int stretch, int begin, int end);

// Runs stretch(body, s, begin, end) for the `stretches` stretches of [0, n)
// on a team of that many threads.
void run_stretches(int n, int stretches, Stretch_function stretch, const void* body);

}  // namespace internal

template <typename Body>
void for_each_stretch(int n, int stretches, const Body& body) {
  if (stretches <= 1) {
    body(0, 0, n);
    return;
  }
  internal::run_stretches(
      n, stretches,
      [](const void* b, int s, int begin, int end) {
        (*static_cast<const Body*>(b))(s, begin, end);
      },
      &body);
}

template <typename Cumulative, typename Body>
void parallel_for_balanced(int n, const Cumulative* cumulative, const Body& body) {
  const long long work = n > 0 ? static_cast<long long>(cumulative[n]) : 0;
  const int threads = threads_for(n, work);
  if (threads <= 1) {
    if (n > 0) body(0, n);
    return;
  }
  // Stretch s ends at the first entry whose cumulative cost reaches its
  // share; the last one ends at n.
  auto end_of = [&](int s) {
    if (s == threads) return n;
    const long long share = work * s / threads;
    int lo = 0, hi = n;
    while (lo < hi) {
      const int mid = lo + (hi - lo) / 2;
      if (static_cast<long long>(cumulative[mid]) < share) lo = mid + 1; else hi = mid;
    }
    return lo;
  };
  for_each_stretch(threads, threads, [&](int s, int, int) {
    const int begin = end_of(s);
    const int end = end_of(s + 1);
    if (begin < end) body(begin, end);
  });
}

template <typename Body>
void parallel_for(int n, long long work, const Body& body) {
  const int threads = threads_for(n, work);
  if (threads <= 1) {
    if (n > 0) body(0, n);
    return;
  }
  for_each_stretch(n, threads, [&body](int, int begin, int end) { body(begin, end); });
}

}  // namespace tevra

#endif  // TEVRA_LEARN_PARALLEL_H_
