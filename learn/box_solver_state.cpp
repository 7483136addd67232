#include "learn/box_solver_state.h"

namespace tevra {

Box_solver_state& box_solver_state() {
  static Box_solver_state state;
  return state;
}

}  // namespace tevra
