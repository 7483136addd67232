// Settings of the box sub-problem solver for tests: the defaults, with the
// solver's messages appended to a string of the test's own.
#ifndef TEVRA_TESTS_LEARN_BOX_RECORDED_MESSAGES_H_
#define TEVRA_TESTS_LEARN_BOX_RECORDED_MESSAGES_H_

#include <string>

#include "learn/box/box_solver.h"

namespace tevra {
namespace testing_support {

inline Box_solver_options recording_into(std::string* messages) {
  Box_solver_options options;
  options.message = [](const char* text, void* into) {
    static_cast<std::string*>(into)->append(text);
  };
  options.message_context = messages;
  return options;
}

}  // namespace testing_support
}  // namespace tevra

#endif  // TEVRA_TESTS_LEARN_BOX_RECORDED_MESSAGES_H_
