// parallel_for: every entry exactly once, small loops on the calling thread,
// and a failure on any thread handed back to the caller.
#include "learn/parallel.h"

#include <atomic>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace tevra {
namespace {

TEST(ParallelFor, VisitsEveryEntryOnceInContiguousStretches) {
  for (int threads : {1, 2, 3, 7}) {
    Split_every_loop split(threads);
    for (int n : {0, 1, 2, 5, 1000}) {
      std::vector<int> visits(n, 0);
      std::atomic<int> stretches{0};
      parallel_for(n, 0, [&](int begin, int end) {
        ASSERT_LT(begin, end);
        ++stretches;
        for (int i = begin; i < end; ++i) ++visits[i];
      });
      EXPECT_EQ(visits, std::vector<int>(n, 1)) << n << " entries, " << threads << " threads";
      EXPECT_LE(stretches.load(), std::max(1, std::min(n, threads)));
    }
  }
}

TEST(ParallelFor, WorkBelowTheThresholdStaysOnTheCallingThread) {
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<int> elsewhere{0};
  parallel_for(1000, kParallelWorkThreshold - 1, [&](int, int) {
    if (std::this_thread::get_id() != caller) ++elsewhere;
  });
  EXPECT_EQ(elsewhere.load(), 0);
  EXPECT_EQ(threads_for(1000, kParallelWorkThreshold - 1), 1);
}

TEST(ParallelFor, AFailureOnAnyThreadReachesTheCaller) {
  Split_every_loop split(3);
  for (int failing = 0; failing < 3; ++failing) {
    std::atomic<int> finished{0};
    EXPECT_THROW(parallel_for(3, 0,
                              [&](int begin, int) {
                                if (begin == failing) throw std::bad_alloc();
                                ++finished;
                              }),
                 std::bad_alloc);
    // The other stretches ran to their end before the failure was passed on.
    EXPECT_EQ(finished.load(), 2);
  }
  // Several failures: one of them is passed on, the run goes on afterwards.
  EXPECT_THROW(parallel_for(3, 0, [](int, int) { throw std::runtime_error("each"); }),
               std::runtime_error);
  int after = 0;
  parallel_for(3, 0, [&](int begin, int end) {
    if (begin == 0) after = end;
  });
  EXPECT_GT(after, 0);
}

TEST(ParallelFor, LoopsStartedInsideALoopStayOnTheirThread) {
  Split_every_loop split(3);
  std::atomic<int> nested_split{0};
  parallel_for(3, 0, [&](int, int) {
    if (threads_for(1000, 1LL << 40) != 1) ++nested_split;
  });
  EXPECT_EQ(nested_split.load(), 0);
}

}  // namespace
}  // namespace tevra
