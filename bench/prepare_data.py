#!/usr/bin/python3
"""Writes the benchmark data sets in the sparse text format.

Sources are Debian packages only: the small sets bundled with python3-sklearn
and Fashion-MNIST from dataset-fashion-mnist.  Every set is split into a
training and a test file with a fixed seed, features are scaled on the
training part (min-max to [-1, 1], or pixels to [0, 1]), and zero features
are left out.

Synthetic sets shaped like well-known benchmarks (same sample, feature and
class counts; made with scikit-learn's generators and a fixed seed) stand in
for those that no Debian package ships: letter_sized (15000 x 16, 26
classes), satimage_sized (4435 x 36, 6 classes), vehicle_sized (600 x 18, 4
classes) and sparse20k (20000 x 20000, two classes, about 50 features a
sample).  They are written with --shaped.

usage: prepare_data.py OUT_DIR [--fashion-train N] [--fashion-test N] [--shaped]
"""
import argparse
import gzip
import os
import struct
import sys

import numpy as np

FASHION_DIR = "/usr/share/datasets/fashion-mnist"


def write_sparse(path, X, y, integer_labels):
    with open(path, "w") as f:
        for row, label in zip(X, y):
            parts = [str(int(label)) if integer_labels else repr(float(label))]
            for k in np.flatnonzero(row):
                parts.append("%d:%.6g" % (k + 1, row[k]))
            f.write(" ".join(parts) + "\n")


def scale_minmax(train, test, lo, hi):
    mn = train.min(axis=0)
    mx = train.max(axis=0)
    span = np.where(mx > mn, mx - mn, 1.0)
    f = lambda A: lo + (hi - lo) * (A - mn) / span
    # Constant features become lo; drop them to 0 so they add nothing.
    keep = mx > mn
    return f(train) * keep, f(test) * keep


def split(n, test_fraction, seed):
    rng = np.random.RandomState(seed)
    order = rng.permutation(n)
    n_test = int(round(n * test_fraction))
    return order[n_test:], order[:n_test]


def sklearn_sets(out):
    from sklearn import datasets

    made = []
    for name, loader, lo, hi, integer_labels in [
        ("breast_cancer", datasets.load_breast_cancer, -1.0, 1.0, True),
        ("digits", datasets.load_digits, 0.0, 1.0, True),
        ("wine", datasets.load_wine, -1.0, 1.0, True),
        ("diabetes", datasets.load_diabetes, -1.0, 1.0, False),
    ]:
        d = loader()
        X = d.data.astype(float)
        y = d.target.astype(float)
        if name == "breast_cancer":
            y = np.where(y > 0, 1, -1)
        if not integer_labels:
            # Regression targets to [0, 1] as well, so MSE is comparable
            # across sets and the default epsilon 0.1 is meaningful.
            y = (y - y.min()) / (y.max() - y.min())
        tr, te = split(len(y), 1.0 / 3.0, 1)
        Xtr, Xte = scale_minmax(X[tr], X[te], lo, hi)
        write_sparse(os.path.join(out, name + ".train"), Xtr, y[tr], integer_labels)
        write_sparse(os.path.join(out, name + ".test"), Xte, y[te], integer_labels)
        made.append(name)
    return made


def read_idx(path):
    with gzip.open(path, "rb") as f:
        data = f.read()
    magic, = struct.unpack(">I", data[:4])
    dims = magic & 0xFF
    shape = struct.unpack(">" + "I" * dims, data[4:4 + 4 * dims])
    return np.frombuffer(data, dtype=np.uint8, offset=4 + 4 * dims).reshape(shape)


def fashion(out, n_train, n_test):
    Xtr = read_idx(os.path.join(FASHION_DIR, "train-images-idx3-ubyte.gz"))
    ytr = read_idx(os.path.join(FASHION_DIR, "train-labels-idx1-ubyte.gz"))
    Xte = read_idx(os.path.join(FASHION_DIR, "t10k-images-idx3-ubyte.gz"))
    yte = read_idx(os.path.join(FASHION_DIR, "t10k-labels-idx1-ubyte.gz"))
    Xtr = Xtr.reshape(len(Xtr), -1)[:n_train] / 255.0
    Xte = Xte.reshape(len(Xte), -1)[:n_test] / 255.0
    ytr = ytr[:n_train]
    yte = yte[:n_test]
    name = "fashion%d" % n_train
    write_sparse(os.path.join(out, name + ".train"), Xtr, ytr, True)
    write_sparse(os.path.join(out, name + ".test"), Xte, yte, True)
    # Two-class view for the linear comparisons: tops (0 T-shirt, 2 pullover,
    # 4 coat, 6 shirt) against the rest.
    tops = np.isin(ytr, [0, 2, 4, 6])
    tops_te = np.isin(yte, [0, 2, 4, 6])
    name2 = "fashion2c%d" % n_train
    write_sparse(os.path.join(out, name2 + ".train"), Xtr, np.where(tops, 1, -1), True)
    write_sparse(os.path.join(out, name2 + ".test"), Xte, np.where(tops_te, 1, -1), True)
    return [name, name2]


def shaped_sets(out):
    from scipy import sparse
    from sklearn import datasets

    made = []
    # name, training size, test size, features, classes, informative features
    for name, n_train, n_test, n_features, n_classes, informative in [
        ("letter_sized", 15000, 5000, 16, 26, 14),
        ("satimage_sized", 4435, 2000, 36, 6, 20),
        ("vehicle_sized", 600, 246, 18, 4, 12),
    ]:
        X, y = datasets.make_classification(
            n_samples=n_train + n_test, n_features=n_features, n_informative=informative,
            n_redundant=n_features - informative, n_classes=n_classes,
            n_clusters_per_class=2, class_sep=1.5, flip_y=0.01, random_state=7)
        Xtr, Xte = scale_minmax(X[:n_train], X[n_train:], -1.0, 1.0)
        write_sparse(os.path.join(out, name + ".train"), Xtr, y[:n_train] + 1, True)
        write_sparse(os.path.join(out, name + ".test"), Xte, y[n_train:] + 1, True)
        made.append(name)

    # Text-like: sparse non-negative features, labels from a hidden linear
    # rule with 5% of them flipped.
    rng = np.random.RandomState(11)
    n_train, n_test, n_features = 20000, 5000, 20000
    X = sparse.random(n_train + n_test, n_features, density=0.0025, format="csr",
                      random_state=rng, data_rvs=lambda k: rng.uniform(0.05, 1.0, k))
    w = rng.normal(size=n_features)
    y = np.where(X @ w > 0, 1, -1)
    flip = rng.uniform(size=len(y)) < 0.05
    y[flip] = -y[flip]
    for part, rows in (("train", slice(0, n_train)), ("test", slice(n_train, None))):
        with open(os.path.join(out, "sparse20k." + part), "w") as f:
            block = X[rows]
            for r, label in enumerate(y[rows]):
                lo, hi = block.indptr[r], block.indptr[r + 1]
                order = np.argsort(block.indices[lo:hi])
                pairs = ["%d:%.6g" % (block.indices[lo + k] + 1, block.data[lo + k]) for k in order]
                f.write(" ".join([str(int(label))] + pairs) + "\n")
    made.append("sparse20k")
    return made


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--fashion-train", type=int, default=3000)
    ap.add_argument("--fashion-test", type=int, default=2000)
    ap.add_argument("--shaped", action="store_true", help="also write the synthetic sets")
    a = ap.parse_args()
    os.makedirs(a.out, exist_ok=True)
    made = sklearn_sets(a.out)
    made += fashion(a.out, a.fashion_train, a.fashion_test)
    if a.shaped:
        made += shaped_sets(a.out)
    print("prepared: " + " ".join(made))


if __name__ == "__main__":
    sys.exit(main())
