// The OpenMP side of parallel_for.
#include "learn/parallel.h"

#include <omp.h>

#include <atomic>
#include <exception>

namespace tevra {

namespace {

// Split_every_loop objects alive.
std::atomic<int> split_every_loop{0};

}  // namespace

int available_threads() { return omp_in_parallel() ? 1 : omp_get_max_threads(); }

int threads_for(int n, long long work) {
  if (n < 2) return 1;
  if (work < kParallelWorkThreshold && split_every_loop.load(std::memory_order_relaxed) == 0)
    return 1;
  const int threads = available_threads();
  return threads < n ? threads : n;
}

Split_every_loop::Split_every_loop(int threads) : previous_threads(omp_get_max_threads()) {
  omp_set_num_threads(threads);
  split_every_loop.fetch_add(1);
}

Split_every_loop::~Split_every_loop() {
  split_every_loop.fetch_sub(1);
  omp_set_num_threads(previous_threads);
}

namespace internal {

void run_stretches(int n, int stretches, Stretch_function stretch, const void* body) {
  // No exception may leave a parallel region: a failing stretch hands its
  // exception over here, and the one of the lowest stretch is rethrown once
  // the region has ended.
  std::exception_ptr failure;
  int failed_stretch = stretches;
#pragma omp parallel num_threads(stretches)
  {
    // The team may be smaller than asked for (OMP_DYNAMIC, limits): its
    // threads then take the stretches in turn.
    const int team = omp_get_num_threads();
    for (int s = omp_get_thread_num(); s < stretches; s += team) {
      const int begin = stretch_begin(n, stretches, s);
      const int end = stretch_begin(n, stretches, s + 1);
      try {
        stretch(body, s, begin, end);
      } catch (...) {
#pragma omp critical(tevra_parallel_failure)
        if (s < failed_stretch) {
          failed_stretch = s;
          failure = std::current_exception();
        }
      }
    }
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace internal

}  // namespace tevra
