// The maximum and minimum of two doubles with the tie behaviour the box
// sub-problem solver is defined by: on equality (and whenever the
// comparison is false, as with a NaN) the second argument is returned.
// std::max and std::min return the first argument on ties, which differs
// for signed zeros and NaN, so they are not used there.
#ifndef TEVRA_LEARN_BOX_TIE_RULES_H_
#define TEVRA_LEARN_BOX_TIE_RULES_H_

namespace tevra {

inline double max(double a, double b) { return a > b ? a : b; }
inline double min(double a, double b) { return a < b ? a : b; }

}  // namespace tevra

#endif  // TEVRA_LEARN_BOX_TIE_RULES_H_
