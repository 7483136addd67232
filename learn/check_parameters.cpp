// Parameter validation: the text of the first rule the parameters break.
//
// The basic rules come first, in their fixed order, with the qpsize rule
// applied to every formulation (the regression solvers divide by qpsize and
// size their working set with it). After them come the checks that keep a
// run from hanging or producing numbers that are not finite: real values that
// are not finite, the solver family of -a and what it can train, a working
// set whose sub-problem matrix cannot be indexed, class weights below 0 for a
// class that exists (or 0 where the formulation divides by the class cost),
// class costs whose derived constants are not finite or lie beyond the
// Crammer and Singer solver's accuracy, an empty training set, and a largest
// feature index that the linear path's weight vector (one entry per index,
// the bias, and one padding entry) cannot index.
#include <climits>
#include <cmath>
#include <cstddef>
#include <unordered_set>
#include <vector>

#include "learn/tevra.h"

namespace tevra {

namespace {

// Largest working set whose qpsize x qpsize sub-problem matrix has an
// element count that fits a 32-bit int.
constexpr int largest_qpsize = 46340;

// Largest feature index whose derived slots in the linear path's weight
// vector still fit an int.
constexpr int largest_linear_index = INT_MAX - 2;

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

// Above this class cost the Crammer and Singer update D_y += A * C_y swamps
// B_y, and the solver ends away from the optimum or not at all (measured
// against an independent solve by bench/crammer_singer_cost_limit.py).
constexpr double largest_crammer_singer_cost = 1e11;

// The class labels a weight can apply to, in order of first appearance as
// class discovery finds them. Without a problem every weighted label counts,
// and so does one class without weights (cost C).
std::vector<int> class_labels(const Problem* problem, const Parameter& param,
                              bool* unweighted_class) {
  std::vector<int> labels;
  std::unordered_set<int> seen;
  if (problem == nullptr) {
    for (int w = 0; w < param.weight_count; ++w)
      if (seen.insert(param.weight_labels[w]).second) labels.push_back(param.weight_labels[w]);
    *unweighted_class = true;
    return labels;
  }
  for (int i = 0; i < problem->sample_count; ++i) {
    const int label = static_cast<int>(problem->labels[i]);
    if (seen.insert(label).second) labels.push_back(label);
  }
  *unweighted_class = false;
  return labels;
}

// C times every factor given for the label, in turn, as train_model derives it.
double class_cost(const Parameter& param, int label) {
  double cost = param.C;
  for (int w = 0; w < param.weight_count; ++w)
    if (param.weight_labels[w] == label) cost *= param.weights[w];
  return cost;
}

const char* check_class_cost(const Parameter& param, double cost) {
  if (!std::isfinite(cost)) return "C times weight is not a finite number";
  if (cost == 0 && divides_by_class_cost(param)) {
    return param.svm_type == spoc_l2
               ? "weight gives a class cost of 0, which spoc_l2 cannot train (it divides by "
                 "the class cost)"
               : "weight gives a class cost of 0, which c_svc with the linear kernel cannot "
                 "train (alpha seeding divides by the class cost)";
  }
  if (param.svm_type == spoc_l2 && (!std::isfinite(0.5 / cost) || !std::isfinite(2 * cost)))
    return "a class cost is too small or too large for spoc_l2 (0.5 / cost or 2 * cost is not a "
           "finite number)";
  if ((param.svm_type == spoc || param.svm_type == spoc_l2) && cost > largest_crammer_singer_cost)
    return "a class cost is above 1e+11, where the Crammer and Singer solver loses its accuracy";
  return nullptr;
}

// Weights apply only to the classes that exist: a weight for a label no
// class bears is ignored (train_model warns about it), whatever its value.
// Regression has no classes and ignores every weight.
const char* check_weights(const Problem* problem, const Parameter& param) {
  if (param.svm_type == epsilon_svr) return nullptr;
  bool unweighted_class;
  const std::vector<int> labels = class_labels(problem, param, &unweighted_class);
  const std::unordered_set<int> classes(labels.begin(), labels.end());
  for (int w = 0; w < param.weight_count; ++w) {
    if (classes.count(param.weight_labels[w]) == 0) continue;
    if (!std::isfinite(param.weights[w])) return "weight is not a finite number";
    if (param.weights[w] < 0) return "weight < 0";
  }
  std::vector<double> costs;
  for (int label : labels) costs.push_back(class_cost(param, label));
  if (unweighted_class) costs.push_back(param.C);
  for (double cost : costs)
    if (const char* message = check_class_cost(param, cost)) return message;
  // Alpha seeding starts the negative class of each pair at
  // Cbegin * C_neg / C_pos, when it runs at all (C_pos above Cbegin).
  if (param.svm_type == c_svc && param.kernel_type == linear) {
    for (std::size_t i = 0; i < costs.size(); ++i)
      for (std::size_t j = 0; j < costs.size(); ++j) {
        if (i == j || (!unweighted_class && i > j)) continue;
        if (costs[i] > param.Cbegin && !std::isfinite(param.Cbegin * costs[j] / costs[i]))
          return "class costs too far apart for alpha seeding (Cbegin * C_neg / C_pos is not a "
                 "finite number)";
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
  if (const char* message = check_weights(problem, *param)) return message;
  if (problem != nullptr && problem->sample_count <= 0) return "no training data";
  // The bias slot is max_index + 1 and the padding slot after it
  // max_index + 2, which is also the weight vector's length as an int.
  if (problem != nullptr && problem->max_index > largest_linear_index &&
      param->kernel_type == linear &&
      (param->svm_type == c_svc || param->svm_type == epsilon_svr || param->algorithm == 1))
    return "feature index too large for the weight vector of the linear kernel (2147483645 at "
           "most)";
  return nullptr;
}

}  // namespace tevra
