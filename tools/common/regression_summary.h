// The regression summary both tools print: the mean squared error and the
// squared correlation coefficient of predictions against targets.
#ifndef TEVRA_TOOLS_COMMON_REGRESSION_SUMMARY_H_
#define TEVRA_TOOLS_COMMON_REGRESSION_SUMMARY_H_

namespace tevra {

// Running sums over predictions v of targets y, in the order added.
struct Regression_sums {
  double sum_v = 0;   // predictions
  double sum_y = 0;   // targets
  double sum_vv = 0;  // squared predictions
  double sum_yy = 0;  // squared targets
  double sum_vy = 0;  // products

  void add(double v, double y) {
    sum_v += v;
    sum_y += y;
    sum_vv += v * v;
    sum_yy += y * y;
    sum_vy += v * y;
  }
};

// ((n Svy - Sv Sy)^2) / ((n Svv - Sv^2) (n Syy - Sy^2)) over n predictions,
// as floating-point division gives it (0/0 and x/0 included).
double squared_correlation(const Regression_sums& sums, double n);

}  // namespace tevra

#endif  // TEVRA_TOOLS_COMMON_REGRESSION_SUMMARY_H_
