// Alpha seeding: cheap large costs from a sequence of warm-started solves.
#include "learn/alpha_seeding.h"

namespace tevra {

namespace {

// Moves the variables of a solve at (c_pos, c_neg) to the requested costs
// and rebuilds w from them, so the last solve starts consistent.
void switch_to_requested(const Seeding_state& s, double C_pos, double C_neg, double c_pos,
                         double c_neg) {
  for (int k = 0; k < s.w_size; ++k) s.w[k] = 0;
  for (int i = 0; i < s.var_count; ++i) {
    double& a = s.alpha[i];
    if (s.signs[i] == +1 && a >= c_pos) {
      a = C_pos;
    } else if (s.signs[i] == -1 && a >= c_neg) {
      a = C_neg;
    } else {
      a = a * (C_pos / c_pos);
    }
    const double step = s.signs[i] * a;
    s.w[s.bias_slot] += step;
    for (const Node* x = s.samples[i]; x->index != -1; ++x) s.w[x->index] += step * x->value;
  }
}

// Scaling alpha by Cstep is exact for variables at their bound and a warm
// start for the others; w scales with it, so it needs no rebuild.
void scale(const Seeding_state& s, double Cstep) {
  for (int i = 0; i < s.var_count; ++i) s.alpha[i] *= Cstep;
  for (int k = 0; k < s.w_size; ++k) s.w[k] *= Cstep;
}

}  // namespace

int seed_alpha(const Seeding_state& state, double C_pos, double C_neg, double c_pos, double c_neg,
               double Cstep, const std::function<int(double, double)>& solve) {
  int total = 0;
  while (C_pos > c_pos) {
    const int solved = solve(c_pos, c_neg);
    if (c_pos * Cstep >= C_pos) {
      switch_to_requested(state, C_pos, C_neg, c_pos, c_neg);
    } else {
      scale(state, Cstep);
    }
    total += solved;
    c_pos = c_pos * Cstep;
    c_neg = c_neg * Cstep;
  }
  return total + solve(C_pos, C_neg);
}

}  // namespace tevra
