#!/usr/bin/python3
"""Measures up to which class cost the Crammer and Singer solver keeps its accuracy.

For each data set and cost C, tevra-train -s 2 (spoc) and -s 4 (spoc_l2) are run
with the rbf kernel and the objective they print is compared with an
independent solve of the same dual: cyclic sweeps over the samples, each
sample's sub-problem solved exactly from its optimality conditions, in
60-digit decimal arithmetic, on the single-precision kernel matrix that
tevra computes. At large C the update D_y += A*C_y of the double-precision
solver swamps B_y, so the printed objective drifts from the true one, or
the run stops converging; the table shows where.

    bench/crammer_singer_cost_limit.py TEVRA_TRAIN [DATA ...]

Each DATA is a sparse data file; without any, three small sets are built
from tests/data/iris.all. Only the standard library is used.
"""
import decimal
import math
import os
import re
import struct
import subprocess
import sys
import tempfile

D = decimal.Decimal
decimal.getcontext().prec = 60
TIMEOUT_SECONDS = 60


def read_set(path):
    labels, samples = [], []
    with open(path) as f:
        for line in f:
            tokens = line.split()
            if not tokens:
                continue
            labels.append(int(float(tokens[0])))
            samples.append({int(i): float(v) for i, v in (t.split(":") for t in tokens[1:])})
    return labels, samples


def dot(x, y):
    return sum(v * y[i] for i, v in x.items() if i in y)


def float32(value):
    return struct.unpack("f", struct.pack("f", value))[0]


def rbf_matrix(samples, gamma):
    """The kernel entries as tevra caches them: rbf from squared norms, in float."""
    norms = [dot(x, x) for x in samples]
    n = len(samples)
    return [[D(float32(math.exp(-((norms[i] + norms[j] - 2 * dot(samples[i], samples[j])) * gamma))))
             for j in range(n)] for i in range(n)]


def solve_sample(A, B, y, U, d):
    """Exact minimiser over one sample's variables a of
    1/2 A sum a_m^2 + 1/2 d a_y^2 + sum B_m a_m, sum a_m = 0, a_m <= 0 (m != y), a_y <= U
    (U None: no bound): a_m = min(0, (beta - B_m)/A), a_y = min(U, (beta - B_y)/(A + d)),
    where beta is the root of their sum, an increasing piecewise-linear function."""
    k = len(B)

    def parts(beta):
        a = [min(D(0), (beta - B[m]) / A) for m in range(k)]
        label = (beta - B[y]) / (A + d)
        a[y] = label if U is None else min(U, label)
        return a

    breaks = sorted({B[m] for m in range(k) if m != y} |
                    ({B[y] + U * (A + d)} if U is not None else set()))
    values = [sum(parts(b)) for b in breaks]
    if values[0] >= 0:  # left of every break all terms are unclipped
        return parts(breaks[0] - values[0] / ((k - 1) / A + 1 / (A + d)))
    for t in range(len(breaks) - 1):
        if values[t] <= 0 <= values[t + 1]:
            if values[t + 1] == values[t]:
                return parts(breaks[t])
            return parts(breaks[t] + (breaks[t + 1] - breaks[t]) * (-values[t]) /
                         (values[t + 1] - values[t]))
    # Right of every break only an unbounded label term still grows.
    return parts(breaks[-1] - values[-1] * (A + d))


def independent_objective(K, labels, C, l2):
    """Cyclic block-coordinate descent to a violation below 1e-30 (relative)."""
    classes = sorted(set(labels))
    index = {c: n for n, c in enumerate(classes)}
    y = [index[c] for c in labels]
    n, k = len(labels), len(classes)
    C = D(C)
    d = D("0.5") / C if l2 else D(0)
    U = None if l2 else C
    alpha = [[D(0)] * k for _ in range(n)]
    # G_i^m = sum_j K_ij a_j^m + e_i^m (+ d a_i^y for m = y_i)
    G = [[D(0) if m == y[i] else D(1) for m in range(k)] for i in range(n)]
    for sweep in range(200000):
        worst = D(0)
        for i in range(n):
            A = K[i][i]
            B = [G[i][m] - A * alpha[i][m] for m in range(k)]
            B[y[i]] -= d * alpha[i][y[i]]
            new = solve_sample(A, B, y[i], U, d)
            for m in range(k):
                delta = new[m] - alpha[i][m]
                if delta == 0:
                    continue
                worst = max(worst, abs(delta))
                alpha[i][m] = new[m]
                if m == y[i]:
                    G[i][m] += d * delta
                for j in range(n):
                    G[j][m] += K[i][j] * delta
        scale = max(abs(a) for row in alpha for a in row) or D(1)
        if worst <= scale * D("1e-30"):
            break
    # With G = Q a + d a_y + e, the objective 1/2 a'Qa + 1/2 d sum a_y^2 + e'a is
    # 1/2 sum (G + e) a.
    objective = D(0)
    for i in range(n):
        for m in range(k):
            e = D(0) if m == y[i] else D(1)
            objective += (G[i][m] + e) * alpha[i][m]
    return objective / 2, sweep


def tevra_objective(train, path, svm_type, C, gamma):
    with tempfile.TemporaryDirectory() as work:
        try:
            run = subprocess.run([train, "-s", str(svm_type), "-t", "2", "-g", repr(gamma), "-c", repr(C),
                                  path, os.path.join(work, "model")],
                                 capture_output=True, text=True, timeout=TIMEOUT_SECONDS)
        except subprocess.TimeoutExpired:
            return None, None
    match = re.search(r"#iter = (\d+), obj = (\S+)", run.stdout)
    if run.returncode != 0 or match is None:
        return "refused: " + run.stderr.strip(), None
    return float(match.group(2)), int(match.group(1))


def sample_sets(work):
    """Three small sets from iris: 6, 30 and 60 samples of the three classes."""
    with open(os.path.join(os.path.dirname(__file__), "..", "tests", "data", "iris.all")) as f:
        lines = f.readlines()
    sets = []
    for per_class in (2, 10, 20):
        chosen = [lines[c * 50 + (50 // per_class) * t] for c in range(3) for t in range(per_class)]
        path = os.path.join(work, "iris%d" % (3 * per_class))
        with open(path, "w") as f:
            f.writelines(chosen)
        sets.append(path)
    return sets


def main():
    train = sys.argv[1]
    work = tempfile.mkdtemp()
    paths = sys.argv[2:] or sample_sets(work)
    costs = [1.0, 1e2, 1e4, 1e6, 1e8, 1e10, 1e11, 1e12, 3e12, 1e13, 3e13, 1e14, 3e14, 1e15, 4e15,
             1e16]
    print("| set | svm_type | C | tevra obj | #iter | independent obj | relative error |")
    print("|---|---|---|---|---|---|---|")
    for path in paths:
        labels, samples = read_set(path)
        gamma = 1.0 / max(max(x) if x else 0 for x in samples)
        K = rbf_matrix(samples, gamma)
        for svm_type in (2, 4):
            for C in costs:
                obj, iters = tevra_objective(train, path, svm_type, C, gamma)
                reference, _ = independent_objective(K, labels, C, svm_type == 4)
                if obj is None:
                    shown, error = "no end in %ds" % TIMEOUT_SECONDS, "-"
                elif isinstance(obj, str):
                    shown, error = obj, "-"
                else:
                    shown = "%.6f" % obj
                    error = "%.2e" % (abs(D(obj) - reference) / abs(reference)) if reference != 0 else "-"
                print("| %s | %d | %g | %s | %s | %.9g | %s |" %
                      (os.path.basename(path), svm_type, C, shown, iters if iters is not None else "-",
                       reference, error), flush=True)


if __name__ == "__main__":
    main()
