// Micro-benchmarks of the two inner costs of kernel training: computing one
// kernel column (the Q-matrix fill) and solving one working-set sub-problem.
// The data are synthetic and fixed, so runs are comparable across builds.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "learn/box/box_solver.h"
#include "learn/kernel.h"
#include "learn/parallel.h"
#include "learn/q_matrices.h"
#include "learn/tevra.h"

namespace {

using tevra::Node;

// A deterministic sparse set shaped like scaled image data: `features`
// columns, about `density` of them nonzero, values in (0, 1].
// All nodes live in one store, one sample after the other, as the training
// reader lays them out: a kernel column then streams through memory in order.
struct Sample_set {
  std::vector<Node> store;
  std::vector<Node*> pointers;
  std::vector<double> labels;
  tevra::Problem problem{};

  Sample_set(int count, int features, double density) {
    std::uint64_t state = 88172645463325252ull;
    auto next = [&state]() {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      return state;
    };
    std::vector<size_t> starts;
    for (int i = 0; i < count; ++i) {
      starts.push_back(store.size());
      for (int k = 1; k <= features; ++k) {
        if (static_cast<double>(next() % 1000000) < density * 1e6) {
          store.push_back(Node{k, static_cast<double>(next() % 255 + 1) / 255.0});
        }
      }
      store.push_back(Node{-1, 0});
      labels.push_back(i % 2 == 0 ? 1 : -1);
    }
    for (size_t start : starts) pointers.push_back(store.data() + start);
    problem.sample_count = count;
    problem.max_index = features;
    problem.labels = labels.data();
    problem.samples = pointers.data();
  }
};

const Sample_set& image_like() {
  static const Sample_set set(4000, 784, 0.5);
  return set;
}

// Large enough that the samples do not fit in the processor caches.
const Sample_set& image_like_large() {
  static const Sample_set set(16000, 784, 0.5);
  return set;
}

tevra::Parameter parameter(int kernel_type, double cache_mb) {
  tevra::Parameter p = tevra::default_parameter();
  p.kernel_type = kernel_type;
  p.gamma = 1.0 / 784;
  p.coef0 = 0;
  p.cache_size = cache_mb;
  return p;
}

// Exposes the raw column computation of the Kernel base, without a cache.
class Column_probe : public tevra::Kernel {
 public:
  Column_probe(const tevra::Problem& problem, const tevra::Parameter& param)
      : Kernel(problem.sample_count, problem.samples, param), out(problem.sample_count) {}
  void get_columns(const int* positions, int count, int len, const float** columns) override {
    float* data = out.data();
    for (int k = 0; k < count; ++k) {
      kernel_column(positions[k], 0, len,
                    [data](int j, double value) { data[j] = static_cast<float>(value); });
      columns[k] = data;
    }
  }

 private:
  std::vector<float> out;
};

// Column 0, 1, 2, ... of length l, one per iteration; items are entries.
void fetch_columns_in_turn(benchmark::State& state, tevra::Kernel& q, int l) {
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(q.get_column(i, l));
    i = (i + 1) % l;
  }
  state.SetItemsProcessed(state.iterations() * l);
}

// Columns of a batch computed together, as a working set's missing columns
// are; items are kernel entries.
class Batch_probe : public tevra::Kernel {
 public:
  Batch_probe(const tevra::Problem& problem, const tevra::Parameter& param)
      : Kernel(problem.sample_count, problem.samples, param),
        out(static_cast<size_t>(tevra::kMaxBatchWidth) * problem.sample_count),
        l(problem.sample_count) {}
  void get_columns(const int*, int, int, const float**) override {}
  void compute(const int* rows, const int* begins, int count) {
    float* data = out.data();
    const size_t stride = l;
    kernel_columns(rows, begins, count, l, [data, stride](int k, int j, double v) {
      data[k * stride + j] = static_cast<float>(v);
    });
  }

 private:
  std::vector<float> out;
  int l;
};

void BM_KernelColumns(benchmark::State& state) {
  const Sample_set& set = image_like();
  Batch_probe probe(set.problem, parameter(tevra::rbf, 1));
  const int l = set.problem.sample_count;
  const int width = static_cast<int>(state.range(0));
  std::vector<int> rows(width), begins(width, 0);
  int i = 0;
  for (auto _ : state) {
    for (int k = 0; k < width; ++k) rows[k] = (i + 37 * k) % l;
    probe.compute(rows.data(), begins.data(), width);
    i = (i + 1) % l;
  }
  state.SetItemsProcessed(state.iterations() * l * width);
}
BENCHMARK(BM_KernelColumns)->Arg(1)->Arg(2)->Arg(3)->Arg(5)->Arg(10)->Arg(16)->ArgName("width");

// One full kernel column per iteration, over all samples.
void BM_KernelColumn(benchmark::State& state) {
  const Sample_set& set = image_like();
  Column_probe probe(set.problem, parameter(static_cast<int>(state.range(0)), 1));
  const int l = set.problem.sample_count;
  fetch_columns_in_turn(state, probe, l);
}
BENCHMARK(BM_KernelColumn)->Arg(tevra::linear)->Arg(tevra::rbf)->Arg(tevra::polynomial)
    ->ArgName("kernel_type");

// The rbf column over a set that streams from memory.
void BM_KernelColumnLarge(benchmark::State& state) {
  const Sample_set& set = image_like_large();
  Column_probe probe(set.problem, parameter(tevra::rbf, 1));
  const int l = set.problem.sample_count;
  fetch_columns_in_turn(state, probe, l);
}
BENCHMARK(BM_KernelColumnLarge);

// A BSVC_Q column through a cache too small to keep it: fetch, eviction and
// the signed fill, as the two-class solver sees a cache miss.
void BM_BsvcColumnMiss(benchmark::State& state) {
  const Sample_set& set = image_like();
  const int l = set.problem.sample_count;
  std::vector<signed char> signs(l);
  for (int k = 0; k < l; ++k) signs[k] = set.labels[k] > 0 ? 1 : -1;
  tevra::BSVC_Q q(set.problem, parameter(tevra::rbf, 0.0001), signs.data());
  fetch_columns_in_turn(state, q, l);
}
BENCHMARK(BM_BsvcColumnMiss);

// One working-set sub-problem of size n taken from the rbf Q matrix of the
// set: linear term -1, bounds C = 1 (some variables end at the bound),
// start at 0, tolerance eps / 10 as the two-class solver uses.
void BM_BoxSubproblem(benchmark::State& state) {
  const Sample_set& set = image_like();
  const int n = static_cast<int>(state.range(0));
  const int stride = set.problem.sample_count / n;
  tevra::Parameter p = parameter(tevra::rbf, 1);
  std::vector<double> matrix(n * n);
  for (int a = 0; a < n; ++a)
    for (int b = 0; b < n; ++b) {
      const Node* x = set.pointers[a * stride];
      const Node* y = set.pointers[b * stride];
      const double sign = (a % 2 == b % 2) ? 1.0 : -1.0;
      matrix[a + b * n] =
          static_cast<double>(static_cast<float>(sign * (tevra::kernel_value(x, y, p) + 1)));
    }
  std::vector<double> upper(n, 1.0), linear(n, -1.0), x(n, 0.0);
  std::vector<double> m_copy(matrix), b_copy(linear);
  tevra::Box_solver solver;
  for (auto _ : state) {
    std::fill(x.begin(), x.end(), 0.0);
    m_copy = matrix;
    b_copy = linear;
    tevra::Box_subproblem problem{1e-4, n, x.data(), upper.data(), m_copy.data(), b_copy.data()};
    solver.solve(problem);
    benchmark::DoNotOptimize(x.data());
  }
}
BENCHMARK(BM_BoxSubproblem)->Arg(2)->Arg(10)->Arg(30)->ArgName("size");

// Where splitting a loop between threads starts to pay: the update of n
// gradient entries by `columns` single-precision columns (work: n * columns
// multiply-adds), on the calling thread (threads 1) or split in two
// (threads 2). The threshold of learn/parallel.h is the work where the two
// meet, with the threads already running, as they are between the loops of
// one training.
void BM_ParallelThreshold(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int columns = static_cast<int>(state.range(1));
  const int threads = static_cast<int>(state.range(2));
  std::vector<double> gradient(n, 0.0);
  std::vector<float> data(static_cast<size_t>(n) * columns, 0.5f);
  std::vector<double> delta(columns, 1e-3);
  auto update = [&](int begin, int end) {
    for (int k = 0; k < columns; ++k) {
      const float* col = data.data() + static_cast<size_t>(k) * n;
      const double d = delta[k];
      for (int t = begin; t < end; ++t) gradient[t] += col[t] * d;
    }
  };
  for (auto _ : state) {
    tevra::for_each_stretch(n, threads, [&update](int, int begin, int end) { update(begin, end); });
    benchmark::DoNotOptimize(gradient.data());
  }
  state.SetItemsProcessed(state.iterations() * n * columns);
}
BENCHMARK(BM_ParallelThreshold)
    ->ArgsProduct({{250, 500, 1000, 2000, 4000, 8000, 16000}, {1, 10}, {1, 2}})
    ->ArgNames({"n", "columns", "threads"});

}  // namespace

BENCHMARK_MAIN();
