// Alpha seeding of the linear-kernel two-class and regression training:
// solves at growing costs, each starting from the previous solution.
#ifndef TEVRA_LEARN_ALPHA_SEEDING_H_
#define TEVRA_LEARN_ALPHA_SEEDING_H_

#include <functional>

#include "learn/tevra.h"

namespace tevra {

// The variables that seeding rescales between solves, all borrowed.
struct Seeding_state {
  int var_count;               // number of variables
  Node* const* samples;        // sample of each variable
  const signed char* signs;    // +1 or -1 per variable
  double* alpha;               // the variables; start and result of every solve
  double* w;                   // primal vector: feature k at w[k], bias at w[bias_slot]
  int w_size;                  // number of entries of w
  int bias_slot;               // index of the bias entry of w
};

// Runs solve(c_pos, c_neg) at the costs (c_pos, c_neg), (c_pos, c_neg) *
// Cstep, ... while the positive cost stays below C_pos, then once at
// (C_pos, C_neg). Between solves alpha and w are scaled by Cstep; before the
// last solve the variables at their bound move to the requested bound, the
// others are scaled by C_pos / c_pos, and w is rebuilt from them. Returns the
// summed iteration counts that solve reported.
int seed_alpha(const Seeding_state& state, double C_pos, double C_neg, double c_pos, double c_neg,
               double Cstep, const std::function<int(double, double)>& solve);

}  // namespace tevra

#endif  // TEVRA_LEARN_ALPHA_SEEDING_H_
