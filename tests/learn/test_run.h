// A training run of the test's own whose progress output, and the
// sub-problem solver's messages, are kept in a string.
#ifndef TEVRA_TESTS_LEARN_TEST_RUN_H_
#define TEVRA_TESTS_LEARN_TEST_RUN_H_

#include <string>

#include "learn/training_run.h"

namespace tevra {
namespace testing_support {

class Test_run {
 public:
  Test_run() : run_(collect, this) {}
  Test_run(const Test_run&) = delete;
  Test_run& operator=(const Test_run&) = delete;

  Training_run& run() { return run_; }
  Box_solver& box_solver() { return run_.box_solver; }
  const Progress& progress() const { return run_.progress; }

  // Everything printed so far (since the last clear).
  const std::string& text() const { return text_; }
  void clear() { text_.clear(); }

  // Also appends every text to *events (null: stop), so that a test can
  // interleave the prints with what it logs there itself.
  void echo_into(std::string* events) { echo_ = events; }

 private:
  static void collect(const char* text, void* self) {
    Test_run& run = *static_cast<Test_run*>(self);
    run.text_ += text;
    if (run.echo_ != nullptr) *run.echo_ += text;
  }

  std::string text_;
  std::string* echo_ = nullptr;
  Training_run run_;
};

}  // namespace testing_support
}  // namespace tevra

#endif  // TEVRA_TESTS_LEARN_TEST_RUN_H_
