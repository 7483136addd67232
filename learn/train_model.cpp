// The training driver: turns a training set into a Model.
//
// Regression trains one problem over all samples. Classification discovers
// the classes in order of first appearance, groups the samples class by
// class (pointers only, in training order within a class), derives one cost
// per class from C and the weight entries, and hands the grouped set to the
// formulation's routine: c_svc trains one two-class problem per pair of
// classes, kbb and the Crammer and Singer formulations one problem over all
// classes. Samples with a nonzero coefficient become the support vectors, in
// grouped order, and their coefficients are laid out in the model's rows.
//
// A training set with a single class is not handed to kbb's routine (its
// solver cannot lay out one class): the model has that class and no support
// vectors, as under c_svc. The Crammer and Singer routine does take it, and
// reports its run of one variable per sample, which can only stay 0. An
// empty training set yields a model without classes, or under regression
// without support vectors; no routine is called for it.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "learn/model_layout.h"
#include "learn/progress.h"
#include "learn/tevra.h"
#include "learn/training_routines.h"
#include "learn/training_run.h"

namespace tevra {

namespace {

// malloc for an array the model will own; never asks for 0 bytes, so that
// an empty array is still a distinct, freeable block.
template <typename T>
T* allocate(long long count) {
  return static_cast<T*>(std::malloc(sizeof(T) * (count > 0 ? count : 1)));
}

// Classes of a training set and the samples grouped by class.
struct Class_grouping {
  int nr_class = 0;                 // number of distinct class labels
  std::vector<int> label;           // label of each class, first appearance first
  std::vector<int> count;           // samples of each class
  std::vector<int> start;           // grouped position of each class's first sample
  std::vector<Node*> grouped;       // samples, class 0 first, training order within a class
};

// Class discovery: labels are truncated toward zero; the label and count
// lists start with room for 16 classes and double when full.
Class_grouping group_by_class(const Problem& problem) {
  const int l = problem.sample_count;
  int room = 16;
  int nr_class = 0;
  int* label = static_cast<int*>(std::malloc(sizeof(int) * room));
  int* count = static_cast<int*>(std::malloc(sizeof(int) * room));
  std::vector<int> class_of(l);
  for (int i = 0; i < l; ++i) {
    const int this_label = static_cast<int>(problem.labels[i]);
    int k = 0;
    while (k < nr_class && label[k] != this_label) ++k;
    if (k < nr_class) {
      ++count[k];
    } else {
      if (nr_class == room) {
        room *= 2;
        label = static_cast<int*>(std::realloc(label, sizeof(int) * room));
        count = static_cast<int*>(std::realloc(count, sizeof(int) * room));
      }
      label[nr_class] = this_label;
      count[nr_class] = 1;
      ++nr_class;
    }
    class_of[i] = k;
  }

  Class_grouping grouping;
  grouping.nr_class = nr_class;
  grouping.label.assign(label, label + nr_class);
  grouping.count.assign(count, count + nr_class);
  std::free(label);
  std::free(count);

  grouping.start = group_starts(grouping.count.data(), nr_class);
  grouping.grouped.resize(l);
  std::vector<int> next = grouping.start;
  for (int i = 0; i < l; ++i) grouping.grouped[next[class_of[i]]++] = problem.samples[i];
  return grouping;
}

// C for every class, multiplied by each weight entry of its label in turn.
std::vector<double> class_costs(const Parameter& param, const Class_grouping& grouping) {
  std::vector<double> class_C(grouping.nr_class, param.C);
  for (int w = 0; w < param.weight_count; ++w) {
    int k = 0;
    while (k < grouping.nr_class && grouping.label[k] != param.weight_labels[w]) ++k;
    if (k == grouping.nr_class) {
      std::fprintf(stderr, "warning: class label %d specified in weight is not found\n",
                   param.weight_labels[w]);
      continue;
    }
    class_C[k] *= param.weights[w];
  }
  return class_C;
}

// The grouped samples with each one's class index as its label, the form the
// multi-class routines take.
struct Multiclass_problem {
  std::vector<double> labels;  // class index of each grouped sample
  Problem problem;             // points into labels and the grouping
};

void build_multiclass_problem(const Problem& training, Class_grouping& grouping,
                              Multiclass_problem* out) {
  out->labels.resize(training.sample_count);
  for (int k = 0; k < grouping.nr_class; ++k)
    for (int g = grouping.start[k]; g < grouping.start[k] + grouping.count[k]; ++g) out->labels[g] = k;
  out->problem.sample_count = training.sample_count;
  out->problem.max_index = training.max_index;
  out->problem.labels = out->labels.data();
  out->problem.samples = grouping.grouped.data();
}

// What the formulation's routine gave back, kept until the rows are filled.
struct Trained_coefficients {
  std::vector<double*> pair_coef;  // c_svc: one array per pair, in pair order
  double* coef = nullptr;          // kbb, spoc, spoc_l2: the routine's array
  ~Trained_coefficients() {
    for (double* c : pair_coef) std::free(c);
    std::free(coef);
  }
};

void train_pairs(Training_run& run, const Problem& training, const Parameter& param,
                 const Class_grouping& grouping, const std::vector<double>& class_C,
                 std::vector<char>* flags, Trained_coefficients* trained) {
  const int nr_class = grouping.nr_class;
  std::vector<double> labels(training.sample_count);
  std::vector<Node*> samples(training.sample_count);
  // Room first: a coefficient array is never left without an owner.
  trained->pair_coef.reserve(static_cast<size_t>(nr_class) * (nr_class - 1) / 2);
  for (int i = 0; i < nr_class; ++i) {
    for (int j = i + 1; j < nr_class; ++j) {
      const int si = grouping.start[i], ci = grouping.count[i];
      const int sj = grouping.start[j], cj = grouping.count[j];
      for (int k = 0; k < ci; ++k) {
        samples[k] = grouping.grouped[si + k];
        labels[k] = +1;
      }
      for (int k = 0; k < cj; ++k) {
        samples[ci + k] = grouping.grouped[sj + k];
        labels[ci + k] = -1;
      }
      Problem pair;
      pair.sample_count = ci + cj;
      pair.max_index = training.max_index;
      pair.labels = labels.data();
      pair.samples = samples.data();
      double* coef = train_bounded_problem(run, pair, param, class_C[i], class_C[j]);
      for (int k = 0; k < ci; ++k)
        if (std::fabs(coef[k]) > 0) (*flags)[si + k] = 1;
      for (int k = 0; k < cj; ++k)
        if (std::fabs(coef[ci + k]) > 0) (*flags)[sj + k] = 1;
      trained->pair_coef.push_back(coef);
    }
  }
}

// Grouped position of the first variable of each kbb block: block k lists
// every sample not of class k.
std::vector<long long> kbb_block_starts(const Problem& training, const Class_grouping& grouping) {
  std::vector<long long> block_start(grouping.nr_class, 0);
  for (int k = 1; k < grouping.nr_class; ++k)
    block_start[k] = block_start[k - 1] + training.sample_count - grouping.count[k - 1];
  return block_start;
}

// Variable of grouped sample g, of class c, for the other class k.
double kbb_variable(const double* alpha, const std::vector<long long>& block_start,
                    const Class_grouping& grouping, int g, int c, int k) {
  return c < k ? alpha[block_start[k] + g] : alpha[block_start[k] + g - grouping.count[k]];
}

void flag_kbb(const double* alpha, const std::vector<long long>& block_start,
              const Class_grouping& grouping, std::vector<char>* flags) {
  for (int c = 0; c < grouping.nr_class; ++c) {
    for (int g = grouping.start[c]; g < grouping.start[c] + grouping.count[c]; ++g) {
      for (int k = 0; k < grouping.nr_class; ++k) {
        if (k != c && kbb_variable(alpha, block_start, grouping, g, c, k) > 0) {
          (*flags)[g] = 1;
          break;
        }
      }
    }
  }
}

void flag_crammer_singer(const double* alpha, int l, int nr_class, std::vector<char>* flags) {
  for (int g = 0; g < l; ++g) {
    for (int m = 0; m < nr_class; ++m) {
      if (std::fabs(alpha[static_cast<long long>(g) * nr_class + m]) > 0) {
        (*flags)[g] = 1;
        break;
      }
    }
  }
}

void fill_pair_rows(const Class_grouping& grouping, const std::vector<char>& flags,
                    const std::vector<int>& sv_start, const Trained_coefficients& trained,
                    double** rows) {
  const int nr_class = grouping.nr_class;
  int p = 0;
  for (int i = 0; i < nr_class; ++i) {
    for (int j = i + 1; j < nr_class; ++j) {
      const double* coef = trained.pair_coef[p++];
      const int si = grouping.start[i], ci = grouping.count[i];
      const int sj = grouping.start[j], cj = grouping.count[j];
      double* const row_of_i = rows[other_class_row(i, j)];
      double* const row_of_j = rows[other_class_row(j, i)];
      int q = sv_start[i];
      for (int k = 0; k < ci; ++k)
        if (flags[si + k]) row_of_i[q++] = coef[k];
      q = sv_start[j];
      for (int k = 0; k < cj; ++k)
        if (flags[sj + k]) row_of_j[q++] = coef[ci + k];
    }
  }
}

void fill_kbb_rows(const Class_grouping& grouping, const std::vector<char>& flags, const double* alpha,
                   const std::vector<long long>& block_start, double** rows) {
  int q = 0;
  for (int c = 0; c < grouping.nr_class; ++c) {
    for (int g = grouping.start[c]; g < grouping.start[c] + grouping.count[c]; ++g) {
      if (!flags[g]) continue;
      for (int k = 0; k < grouping.nr_class; ++k) {
        if (k != c)
          rows[other_class_row(c, k)][q] = kbb_variable(alpha, block_start, grouping, g, c, k);
      }
      ++q;
    }
  }
}

void fill_crammer_singer_rows(const std::vector<char>& flags, const double* alpha, int nr_class,
                              double** rows) {
  int q = 0;
  for (int g = 0; g < static_cast<int>(flags.size()); ++g) {
    if (!flags[g]) continue;
    for (int m = 0; m < nr_class; ++m) rows[m][q] = alpha[static_cast<long long>(g) * nr_class + m];
    ++q;
  }
}

void train_regression(Training_run& run, const Problem& problem, const Parameter& param,
                      Model* model) {
  const int l = problem.sample_count;
  double* coef = l > 0 ? train_bounded_problem(run, problem, param, 0, 0) : nullptr;
  model->nr_class = 2;
  model->coefficients = allocate<double*>(1);
  int total_sv = 0;
  for (int i = 0; i < l; ++i)
    if (std::fabs(coef[i]) > 0) ++total_sv;
  model->total_sv = total_sv;
  model->SV = allocate<Node*>(total_sv);
  model->coefficients[0] = allocate<double>(total_sv);
  int q = 0;
  for (int i = 0; i < l; ++i) {
    if (std::fabs(coef[i]) > 0) {
      model->SV[q] = problem.samples[i];
      model->coefficients[0][q] = coef[i];
      ++q;
    }
  }
  std::free(coef);
}

void train_classification(Training_run& run, const Problem& problem, const Parameter& param,
                          Model* model) {
  const int l = problem.sample_count;
  Class_grouping grouping = group_by_class(problem);
  const int nr_class = grouping.nr_class;
  const std::vector<double> class_C = class_costs(param, grouping);
  std::vector<char> flags(l, 0);

  Trained_coefficients trained;
  std::vector<long long> block_start;
  const int svm_type = param.svm_type;
  if (svm_type == c_svc) {
    train_pairs(run, problem, param, grouping, class_C, &flags, &trained);
  } else if (nr_class >= (svm_type == kbb ? 2 : 1)) {
    Multiclass_problem multiclass;
    build_multiclass_problem(problem, grouping, &multiclass);
    if (svm_type == kbb) {
      trained.coef = train_single_multiclass(run, multiclass.problem, param, nr_class,
                                             class_C.data(), grouping.count.data());
      block_start = kbb_block_starts(problem, grouping);
      flag_kbb(trained.coef, block_start, grouping, &flags);
    } else {
      trained.coef = train_crammer_singer(run, multiclass.problem, param, nr_class,
                                          class_C.data(), svm_type);
      flag_crammer_singer(trained.coef, l, nr_class, &flags);
    }
  }

  model->nr_class = nr_class;
  model->label = allocate<int>(nr_class);
  model->nr_sv = allocate<int>(nr_class);
  int total_sv = 0;
  for (int k = 0; k < nr_class; ++k) {
    model->label[k] = grouping.label[k];
    int n = 0;
    for (int g = grouping.start[k]; g < grouping.start[k] + grouping.count[k]; ++g) n += flags[g];
    model->nr_sv[k] = n;
    total_sv += n;
  }
  log_info(run.progress, "Total nSV = %d\n", total_sv);
  model->total_sv = total_sv;
  model->SV = allocate<Node*>(total_sv);
  for (int g = 0, q = 0; g < l; ++g)
    if (flags[g]) model->SV[q++] = grouping.grouped[g];
  const std::vector<int> sv_start = group_starts(model->nr_sv, nr_class);

  const int rows = coefficient_row_count(svm_type, nr_class);
  model->coefficients = allocate<double*>(rows);
  for (int r = 0; r < rows; ++r) model->coefficients[r] = allocate<double>(total_sv);
  if (total_sv == 0) return;
  if (svm_type == c_svc)
    fill_pair_rows(grouping, flags, sv_start, trained, model->coefficients);
  else if (svm_type == kbb)
    fill_kbb_rows(grouping, flags, trained.coef, block_start, model->coefficients);
  else
    fill_crammer_singer_rows(flags, trained.coef, nr_class, model->coefficients);
}

}  // namespace

Model* train_model(Training_run* run, const Problem* problem, const Parameter* param) {
  run->error = nullptr;
  Model* model = static_cast<Model*>(std::calloc(1, sizeof(Model)));
  model->param = *param;
  model->owns_sv_nodes = 0;
  // Working arrays grow with the data (the linear kernel's weight vector
  // with the largest feature index), so running out of memory is a failure
  // of this training, not of the process. Each field of the model stays
  // null until its array exists, so a partial model releases cleanly.
  try {
    if (param->svm_type == epsilon_svr)
      train_regression(*run, *problem, *param, model);
    else
      train_classification(*run, *problem, *param, model);
  } catch (const std::bad_alloc&) {
    destroy_model(&model);
    run->error = "not enough memory to train";
  } catch (const Training_failure& failure) {
    destroy_model(&model);
    run->error = failure.message;
  }
  return model;
}

Model* train_model(const Problem* problem, const Parameter* param) {
  Training_run run(nullptr, nullptr);
  return train_model(&run, problem, param);
}

}  // namespace tevra
