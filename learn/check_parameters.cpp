// Parameter validation: the text of the first rule the parameters break.
//
// The basic rules come first, in their fixed order, with the qpsize rule
// applied to every formulation (the regression solvers divide by qpsize and
// size their working set with it). After them come the checks that keep a
// run from hanging or producing numbers that are not finite: real values that
// are not finite, the solver family of -a and what it can train, a working
// set whose sub-problem matrix cannot be indexed, class weights below 0 (or 0
// where the formulation divides by the class cost), an empty training set,
// and a largest feature index that the linear path's weight vector (one entry
// per index, then the bias) cannot index.
#include <climits>
#include <cmath>

#include "learn/tevra.h"

namespace tevra {

namespace {

// Largest working set whose qpsize x qpsize sub-problem matrix has an
// element count that fits a 32-bit int.
constexpr int largest_qpsize = 46340;

const char* check_basic_rules(const Parameter& param) {
  const int svm_type = param.svm_type;
  const int kernel_type = param.kernel_type;
  if (svm_type != c_svc && svm_type != kbb && svm_type != spoc && svm_type != epsilon_svr &&
      svm_type != spoc_l2)
    return "unknown svm type";
  if (kernel_type != linear && kernel_type != polynomial && kernel_type != rbf &&
      kernel_type != sigmoid && kernel_type != precomputed)
    return "unknown kernel type";
  if (param.gamma < 0) return "gamma < 0";
  if (param.degree < 0) return "degree of polynomial kernel < 0";
  if (kernel_type != linear && param.cache_size <= 0) return "cache_size <= 0";
  if (param.eps <= 0) return "eps <= 0";
  if (param.C <= 0) return "C <= 0";
  if (svm_type == epsilon_svr && param.p < 0) return "p < 0";
  if (param.shrinking != 0 && param.shrinking != 1) return "shrinking != 0 and shrinking != 1";
  if (param.qpsize < 2) return "qpsize < 2";
  if (kernel_type == linear && param.Cbegin <= 0) return "Cbegin <= 0";
  if (kernel_type == linear && param.Cstep <= 1) return "Cstep <= 1";
  return nullptr;
}

// NaN passes every comparison above, and an infinity makes training hang or
// convert out of range, so each real value must be finite.
const char* check_finite_values(const Parameter& param) {
  if (!std::isfinite(param.gamma)) return "gamma is not a finite number";
  if (!std::isfinite(param.coef0)) return "coef0 is not a finite number";
  if (!std::isfinite(param.cache_size)) return "cache_size is not a finite number";
  if (!std::isfinite(param.eps)) return "eps is not a finite number";
  if (!std::isfinite(param.C)) return "C is not a finite number";
  if (!std::isfinite(param.p)) return "p is not a finite number";
  if (!std::isfinite(param.Cbegin)) return "Cbegin is not a finite number";
  if (!std::isfinite(param.Cstep)) return "Cstep is not a finite number";
  return nullptr;
}

// Whether a class cost of 0 would be divided by: spoc_l2 puts 0.5 / C on
// its diagonal, and the alpha seeding of the linear kernel under c_svc
// scales by the class cost.
bool divides_by_class_cost(const Parameter& param) {
  return param.svm_type == spoc_l2 || (param.svm_type == c_svc && param.kernel_type == linear);
}

const char* check_weights(const Parameter& param) {
  for (int i = 0; i < param.weight_count; ++i) {
    if (!std::isfinite(param.weights[i])) return "weight is not a finite number";
    if (param.weights[i] < 0) return "weight < 0";
  }
  if (param.svm_type == epsilon_svr) return nullptr;  // regression has no classes
  // The class cost is C times every factor given for the label, in turn.
  for (int i = 0; i < param.weight_count; ++i) {
    double class_cost = param.C;
    bool first = true;
    for (int k = 0; k < param.weight_count; ++k) {
      if (param.weight_labels[k] != param.weight_labels[i]) continue;
      if (k < i) first = false;
      class_cost *= param.weights[k];
    }
    if (!first) continue;  // label already judged
    if (!std::isfinite(class_cost)) return "C times weight is not a finite number";
    if (class_cost == 0 && divides_by_class_cost(param)) {
      return param.svm_type == spoc_l2
                 ? "weight gives a class cost of 0, which spoc_l2 cannot train (it divides by "
                   "the class cost)"
                 : "weight gives a class cost of 0, which c_svc with the linear kernel cannot "
                   "train (alpha seeding divides by the class cost)";
    }
  }
  return nullptr;
}

}  // namespace

// The coordinate-descent solvers work on an explicit weight vector, so
// they exist for the linear kernel only, and not for kbb.
const char* check_algorithm(const Parameter& param) {
  if (param.algorithm != 0 && param.algorithm != 1) return "unknown algorithm (-a takes 0 or 1)";
  if (param.algorithm == 1 && param.kernel_type != linear) return "-a 1 needs the linear kernel";
  if (param.algorithm == 1 && param.svm_type == kbb)
    return "-a 1 is not available for kbb (-s 1); use -a 0";
  return nullptr;
}

const char* check_parameters(const Problem* problem, const Parameter* param) {
  if (const char* message = check_basic_rules(*param)) return message;
  if (const char* message = check_finite_values(*param)) return message;
  if (const char* message = check_algorithm(*param)) return message;
  if (param->qpsize > largest_qpsize)
    return "qpsize too large: the qpsize x qpsize sub-problem matrix cannot be held";
  if (const char* message = check_weights(*param)) return message;
  if (problem != nullptr && problem->sample_count <= 0) return "no training data";
  if (problem != nullptr && problem->max_index == INT_MAX && param->kernel_type == linear &&
      (param->svm_type == c_svc || param->svm_type == epsilon_svr || param->algorithm == 1))
    return "feature index 2147483647 is too large for the weight vector of the linear kernel";
  return nullptr;
}

}  // namespace tevra
