#include "learn/box/cauchy_step.h"

#include <cmath>
#include <vector>

#include "gtest/gtest.h"

namespace tevra {
namespace {

// Diagonal A so the model is easy to follow by hand.
struct Cauchy_case {
  const char* name;
  std::vector<double> diagonal, g, x, l, u;
  double delta;
  double alpha_in;
  double alpha_out;  // computed by the same chain of products as the search
  std::vector<double> s;
};

class CauchyStep : public testing::TestWithParam<Cauchy_case> {};

TEST_P(CauchyStep, FindsTheSpecifiedLength) {
  const Cauchy_case c = GetParam();
  const int n = static_cast<int>(c.g.size());
  std::vector<double> A(n * n, 0);
  for (int i = 0; i < n; ++i) A[i + i * n] = c.diagonal[i];
  std::vector<double> s(n, -1);
  double alpha = c.alpha_in;
  cauchy_step(n, c.x.data(), c.l.data(), c.u.data(), A.data(), c.g.data(), c.delta, alpha,
              s.data());
  EXPECT_EQ(alpha, c.alpha_out);
  EXPECT_EQ(s, c.s);
}

INSTANTIATE_TEST_SUITE_P(
    Box, CauchyStep,
    testing::Values(
        // Length 1 leaves the region (1 > 0.05), 0.1 too; 0.01 fits and decreases.
        Cauchy_case{"contract_into_region", {1}, {-1}, {0}, {0}, {100}, 0.05, 1, 1 * 0.1 * 0.1,
                    {1 * 0.1 * 0.1}},
        // Inside the region but q = 49 >= mu*g's: contract until q <= mu*g's.
        Cauchy_case{"contract_for_decrease", {100}, {-1}, {0}, {0}, {100}, 1000, 1,
                    1 * 0.1 * 0.1, {1 * 0.1 * 0.1}},
        // The first trial is outside: no extrapolation although q would drop.
        Cauchy_case{"outside_never_extrapolates", {0}, {-1}, {0}, {0}, {100}, 0.5, 1, 0.1,
                    {0.1}},
        // Extrapolates 1 -> 10 -> 100; 1000 leaves the region, 100 is kept.
        Cauchy_case{"extrapolate_to_region", {0}, {-1}, {0}, {0}, {1e6}, 500, 1, 100, {100}},
        // 0.01 -> 0.1 -> 1 keep passing; 10 gives q = 40 > mu*g's: back to 1.
        Cauchy_case{"extrapolate_until_no_decrease", {1}, {-1}, {0}, {0}, {1e6}, 1e6, 0.01,
                    0.01 * 10 * 10, {0.01 * 10 * 10}},
        // 10 passes with 10 <= last = 50, and 100 (clipped to the bound) passes
        // too, but 100 > last ends the search: the length held before the last
        // extrapolation, 10, is returned.
        Cauchy_case{"extrapolation_ends_past_last_breakpoint", {0}, {-1}, {0}, {0}, {50}, 1e6, 1,
                    10, {10}},
        // Second coordinate blocked at its upper bound; first one moves.
        Cauchy_case{"blocked_coordinate_stays", {1, 1}, {-1, -2}, {0, 1}, {0, 0}, {10, 1}, 1e3, 1,
                    1, {1, 0}},
        // Nothing can move: s = 0 passes only the contraction tests.
        Cauchy_case{"nothing_can_move", {1, 1}, {-1, 1}, {1, 0}, {0, 0}, {1, 1}, 1e3, 1, 0.1,
                    {0, 0}}),
    [](const testing::TestParamInfo<Cauchy_case>& info) { return info.param.name; });

// The breakpoint 1 / 1e-309 of the second coordinate is +inf, so only the
// length itself can end the extrapolation: at the last finite power of 10,
// whose step is kept.
TEST(CauchyStep, ExtrapolationStopsBeforeAnInfiniteLength) {
  const std::vector<double> A = {0, 0, 0, 0}, g = {-1, -1e-309}, x = {0, 0}, l = {0, 0},
                            u = {1, 1};
  std::vector<double> s = {-1, -1};
  double alpha = 1;
  cauchy_step(2, x.data(), l.data(), u.data(), A.data(), g.data(), 10, alpha, s.data());
  double last_finite = 1;
  while (std::isfinite(last_finite * 10)) last_finite *= 10;
  EXPECT_EQ(alpha, last_finite);
  EXPECT_EQ(s, (std::vector<double>{1, -last_finite * g[1]}));
}

// A NaN radius fails every region test; the contraction must still end, at
// the zero step of alpha = 0.
TEST(CauchyStep, NanRadiusEndsAtTheZeroStep) {
  const std::vector<double> A = {100}, g = {-1}, x = {0}, l = {0}, u = {10};
  std::vector<double> s = {-1};
  double alpha = 1;
  cauchy_step(1, x.data(), l.data(), u.data(), A.data(), g.data(), NAN, alpha, s.data());
  EXPECT_EQ(alpha, 0);
  EXPECT_EQ(s[0], 0);
}

}  // namespace
}  // namespace tevra
