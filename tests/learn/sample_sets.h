// Samples built in memory or read from the test data, for the kernel and
// Q-matrix tests.
#ifndef TEVRA_TESTS_LEARN_SAMPLE_SETS_H_
#define TEVRA_TESTS_LEARN_SAMPLE_SETS_H_

#include <fstream>
#include <initializer_list>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "learn/tevra.h"

namespace tevra {
namespace testing_samples {

using Entries = std::vector<Node>;

// A terminated sample from (index, value) pairs.
inline Entries sample(std::initializer_list<Node> nodes) {
  Entries out(nodes);
  out.push_back({-1, 0});
  return out;
}

// Owns the nodes of a set of samples and offers them as a Problem.
struct Sample_set {
  std::vector<Entries> rows;
  std::vector<Node*> pointers;
  std::vector<double> labels;

  // Call after changing rows: the pointers follow the rows' storage.
  void finish() {
    pointers.clear();
    for (Entries& row : rows) pointers.push_back(row.data());
    labels.resize(rows.size(), 0);
  }
  int count() const { return static_cast<int>(rows.size()); }
  Problem problem() {
    Problem problem{};
    problem.sample_count = count();
    problem.labels = labels.data();
    problem.samples = pointers.data();
    return problem;
  }
};

inline Sample_set make_set(std::initializer_list<Entries> rows) {
  Sample_set set;
  set.rows = rows;
  set.finish();
  return set;
}

// Reads the samples and labels of a sparse data file of the test data.
inline Sample_set read_samples(const std::string& name) {
  Sample_set set;
  std::ifstream in(std::string(TEVRA_TEST_DATA_DIR) + "/" + name);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream tokens(line);
    std::string token;
    tokens >> token;
    set.labels.push_back(std::stod(token));
    Entries row;
    while (tokens >> token) {
      const size_t colon = token.find(':');
      row.push_back({std::stoi(token.substr(0, colon)), std::stod(token.substr(colon + 1))});
    }
    row.push_back({-1, 0});
    set.rows.push_back(row);
  }
  set.finish();
  return set;
}

// Random sparse samples with signed values of full precision, so that sums
// in different orders or with missing terms would show in the last bits.
inline Sample_set random_samples(int count, int max_index, double density, unsigned seed) {
  std::mt19937 engine(seed);
  std::uniform_real_distribution<double> value(-3, 3);
  std::bernoulli_distribution present(density);
  Sample_set set;
  for (int s = 0; s < count; ++s) {
    Entries row;
    for (int index = 0; index <= max_index; ++index)
      if (present(engine)) row.push_back({index, value(engine)});
    row.push_back({-1, 0});
    set.rows.push_back(row);
  }
  set.finish();
  return set;
}

inline Parameter kernel_parameter(int kernel_type, int degree = 3, double gamma = 0.5,
                                  double coef0 = 0.25) {
  Parameter param = default_parameter();
  param.kernel_type = kernel_type;
  param.degree = degree;
  param.gamma = gamma;
  param.coef0 = coef0;
  return param;
}

}  // namespace testing_samples
}  // namespace tevra

#endif  // TEVRA_TESTS_LEARN_SAMPLE_SETS_H_
