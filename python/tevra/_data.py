"""Input matrices in tevra's sparse form.

Column j of X is feature index j + 1, as in the data files that
sklearn.datasets.load_svmlight_file(zero_based=False) reads, and a zero is an
absent feature, as a file written from X leaves it out; dense and sparse X
therefore train the same model. With the precomputed kernel X is the kernel
matrix and every entry is kept.
"""
import numpy as np
import scipy.sparse as sp

from . import _core


def _canonical_csr(X):
    # Sorted, distinct column indices within each row, without touching the
    # caller's matrix.
    if not X.has_canonical_format:
        X = X.copy()
        X.sum_duplicates()
    return X


def samples(X, precomputed):
    """_core.Samples of a validated matrix (float64, C order or CSR)."""
    if precomputed:
        return _core.Samples.kernel(X.toarray() if sp.issparse(X) else X)
    if sp.issparse(X):
        X = _canonical_csr(X)
        return _core.Samples.csr(X.indptr, X.indices, X.data, X.shape[1])
    return _core.Samples.dense(X)


def dataset(X, y, precomputed):
    """_core.Dataset of a validated matrix and float64 labels."""
    y = np.ascontiguousarray(y, dtype=np.float64)
    if precomputed:
        return _core.Dataset.kernel(X.toarray() if sp.issparse(X) else X, y)
    if sp.issparse(X):
        X = _canonical_csr(X)
        return _core.Dataset.csr(X.indptr, X.indices, X.data, X.shape[1], y)
    return _core.Dataset.dense(X, y)


def node_matrix(indptr, indices, values, n_columns):
    """CSR matrix of node arrays: feature index k becomes column k - 1.

    Index 0 has no column and is left out.
    """
    indptr = np.asarray(indptr, dtype=np.int64)
    indices = np.asarray(indices, dtype=np.int64)
    values = np.asarray(values, dtype=np.float64)
    keep = indices > 0
    row_of = np.repeat(np.arange(len(indptr) - 1), np.diff(indptr))
    return sp.csr_matrix(
        (values[keep], (row_of[keep], indices[keep] - 1)), shape=(len(indptr) - 1, n_columns)
    )
