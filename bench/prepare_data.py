#!/usr/bin/python3
"""Writes the benchmark data sets in the sparse text format.

Sources are Debian packages only: the small sets bundled with python3-sklearn
and Fashion-MNIST from dataset-fashion-mnist.  Every set is split into a
training and a test file with a fixed seed, features are scaled on the
training part (min-max to [-1, 1], or pixels to [0, 1]), and zero features
are left out.

usage: prepare_data.py OUT_DIR [--fashion-train N] [--fashion-test N]
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


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--fashion-train", type=int, default=3000)
    ap.add_argument("--fashion-test", type=int, default=2000)
    a = ap.parse_args()
    os.makedirs(a.out, exist_ok=True)
    made = sklearn_sets(a.out)
    made += fashion(a.out, a.fashion_train, a.fashion_test)
    print("prepared: " + " ".join(made))


if __name__ == "__main__":
    sys.exit(main())
