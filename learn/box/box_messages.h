// Where the box sub-problem solver's own messages go.
#ifndef TEVRA_LEARN_BOX_BOX_MESSAGES_H_
#define TEVRA_LEARN_BOX_BOX_MESSAGES_H_

#include "learn/box/box_solver.h"

namespace tevra {

// Hands text to options.message, or writes it to standard output when there
// is none.
void print_box_message(const Box_solver_options& options, const char* text);

}  // namespace tevra

#endif  // TEVRA_LEARN_BOX_BOX_MESSAGES_H_
