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

void run_stretches(int n, int threads, Stretch_function stretch, const void* body) {
  // No exception may leave a parallel region: a failing thread hands its
  // exception over here, and the one of the lowest thread number is
  // rethrown once the region has ended.
  std::exception_ptr failure;
  int failed_thread = threads;
#pragma omp parallel num_threads(threads)
  {
    // The team may be smaller than asked for (OMP_DYNAMIC, limits): the
    // stretches follow the team actually running.
    const int t = omp_get_thread_num();
    const int team = omp_get_num_threads();
    const int begin = static_cast<int>(static_cast<long long>(n) * t / team);
    const int end = static_cast<int>(static_cast<long long>(n) * (t + 1) / team);
    try {
      if (begin < end) stretch(body, begin, end);
    } catch (...) {
#pragma omp critical(tevra_parallel_failure)
      if (t < failed_thread) {
        failed_thread = t;
        failure = std::current_exception();
      }
    }
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace internal

}  // namespace tevra
