#include "tools/common/regression_summary.h"

namespace tevra {

double squared_correlation(const Regression_sums& s, double n) {
  const double covariance = n * s.sum_vy - s.sum_v * s.sum_y;
  return (covariance * covariance) /
         ((n * s.sum_vv - s.sum_v * s.sum_v) * (n * s.sum_yy - s.sum_y * s.sum_y));
}

}  // namespace tevra
