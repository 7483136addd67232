"""What fit and predict accept: dense and sparse layouts train one model, and
bad input raises a clear exception instead of crashing the interpreter."""
import pickle

import numpy as np
import pytest
import scipy.sparse as sp

import tevra


@pytest.fixture(scope="module")
def blobs():
    rng = np.random.default_rng(3)
    y = rng.integers(0, 3, 60).astype(float)
    X = rng.normal(size=(60, 5)) + y[:, None]
    X[rng.random(X.shape) < 0.4] = 0
    return X, y


def _messy_csr(X):
    """The same matrix as CSR with explicit zeros, unsorted and repeated
    column indices (a repeated entry sums to the value)."""
    rows, cols, values = [], [], []
    for i, row in enumerate(X):
        for j in range(X.shape[1])[::-1]:
            if row[j] != 0:
                rows += [i, i]
                cols += [j, j]
                values += [row[j] / 4, row[j] * 3 / 4]
            else:
                rows.append(i)
                cols.append(j)
                values.append(0.0)
    matrix = sp.coo_matrix((values, (rows, cols)), shape=X.shape).tocsr()
    # tocsr sums repeats; rebuild the raw arrays so that they stay in.
    order = np.lexsort((np.arange(len(rows)), rows))
    raw = sp.csr_matrix(
        (np.array(values)[order], np.array(cols)[order], matrix.indptr * 0 + np.searchsorted(
            np.array(rows)[order], np.arange(X.shape[0] + 1))),
        shape=X.shape,
    )
    assert not raw.has_canonical_format
    return raw


@pytest.mark.parametrize(
    "layout",
    [
        pytest.param(lambda X: sp.csr_matrix(X), id="csr"),
        pytest.param(lambda X: sp.csc_matrix(X), id="csc"),
        pytest.param(_messy_csr, id="csr-zeros-unsorted-repeated"),
        pytest.param(lambda X: np.asfortranarray(X), id="fortran-order"),
        pytest.param(lambda X: X.astype(np.float32).astype(np.float64), id="float32-exact"),
    ],
)
@pytest.mark.parametrize("estimator", [tevra.SVC(), tevra.SVC(svm_type="spoc"), tevra.SVR()],
                         ids=["c_svc", "spoc", "svr"])
def test_every_layout_trains_the_dense_model(blobs, layout, estimator, tmp_path):
    X, y = blobs
    X = X.astype(np.float32).astype(np.float64)  # exact in every layout
    dense = pickle.dumps(estimator.fit(X, y)._model)
    other = estimator.fit(layout(X), y)
    assert pickle.dumps(other._model) == dense
    np.testing.assert_array_equal(other.predict(layout(X)), estimator.fit(X, y).predict(X))


def test_the_callers_sparse_matrix_is_left_alone(blobs):
    X, y = blobs
    messy = _messy_csr(X)
    before = (messy.indptr.copy(), messy.indices.copy(), messy.data.copy())
    tevra.SVC().fit(messy, y).predict(messy)
    for kept, now in zip(before, (messy.indptr, messy.indices, messy.data)):
        np.testing.assert_array_equal(kept, now)


def _fitted(X, y):
    return tevra.SVC().fit(X, y)


BAD_FITS = [
    ("nan in X", lambda X, y: (np.where(X == X[0, 0], np.nan, X), y), ValueError, "NaN"),
    ("infinity in sparse X", lambda X, y: (sp.csr_matrix(np.where(X == X[1, 1], np.inf, X)), y),
     ValueError, "infinity"),
    ("nan in y", lambda X, y: (X, np.where(np.arange(len(y)) == 2, np.nan, y)), ValueError, "NaN"),
    ("mismatched lengths", lambda X, y: (X, y[:-1]), ValueError, "inconsistent numbers of samples"),
    ("empty set", lambda X, y: (X[:0], y[:0]), ValueError, "0 sample"),
    ("no features", lambda X, y: (X[:, :0], y), ValueError, "0 feature"),
    ("1-d X", lambda X, y: (X[:, 0], y), ValueError, "2D array"),
    ("continuous labels", lambda X, y: (X, y + 0.5), ValueError, "Unknown label type"),
    ("string X", lambda X, y: (np.full(X.shape, "a"), y), ValueError, "could not convert"),
]


@pytest.mark.parametrize("name,damage,error,text", BAD_FITS, ids=[c[0] for c in BAD_FITS])
def test_bad_training_data_is_refused(blobs, name, damage, error, text):
    X, y = damage(*blobs)
    with pytest.raises(error, match=text):
        tevra.SVC().fit(X, y)


BAD_PARAMETERS = [
    (dict(svm_type="nu_svc"), ValueError, "unknown svm_type 'nu_svc'"),
    (dict(svm_type="epsilon_svr"), ValueError, "use tevra.SVR"),
    (dict(kernel="laplacian"), ValueError, "unknown kernel 'laplacian'"),
    (dict(C=-1.0), ValueError, r"^C <= 0$"),
    (dict(C=float("nan")), ValueError, "C is not a finite number"),
    (dict(C="1"), TypeError, "C must be a real number"),
    (dict(tol=0.0), ValueError, r"^tol <= 0$"),
    (dict(gamma=-0.5), ValueError, "gamma < 0"),
    (dict(degree=-1, kernel="poly"), ValueError, "degree of polynomial kernel < 0"),
    (dict(degree=2.5), TypeError, "degree must be an integer"),
    (dict(qpsize=1), ValueError, "qpsize < 2"),
    (dict(shrinking=2), ValueError, "shrinking must be True or False"),
    (dict(cache_size=0.0), ValueError, "cache_size <= 0"),
    (dict(kernel="linear", Cstep=1.0), ValueError, "Cstep <= 1"),
    (dict(class_weight={9: 2.0}), ValueError, r"class_weight names labels that are not classes of y: \[9\]"),
    (dict(class_weight={0: -1.0}), ValueError, "weight < 0"),
    (dict(algorithm=1), ValueError, "^algorithm=1 needs the linear kernel$"),
    (dict(algorithm=1, kernel="linear", svm_type="kbb"), ValueError, "use algorithm=0$"),
    (dict(algorithm=2, kernel="linear"), ValueError, "unknown algorithm"),
    (dict(algorithm=1.0), TypeError, "algorithm must be an integer"),
]


@pytest.mark.parametrize("parameters,error,text", BAD_PARAMETERS,
                         ids=[str(c[0]) for c in BAD_PARAMETERS])
def test_bad_parameters_are_refused_at_fit(blobs, parameters, error, text):
    estimator = tevra.SVC(**parameters)  # scikit-learn checks parameters in fit
    with pytest.raises(error, match=text):
        estimator.fit(*blobs)


@pytest.mark.parametrize("parameters,text", [
    (dict(epsilon=-0.1), r"^epsilon < 0$"),
    (dict(kernel="rbf", gamma=float("inf")), "gamma is not a finite number"),
])
def test_bad_regression_parameters_are_refused(blobs, parameters, text):
    with pytest.raises(ValueError, match=text):
        tevra.SVR(**parameters).fit(*blobs)


def test_prediction_input_is_checked(blobs):
    X, y = blobs
    fitted = _fitted(X, y)
    with pytest.raises(ValueError, match="features"):
        fitted.predict(X[:, :3])
    with pytest.raises(ValueError, match="NaN"):
        fitted.predict(np.full((1, X.shape[1]), np.nan))
    from sklearn.exceptions import NotFittedError

    with pytest.raises(NotFittedError):
        tevra.SVC().predict(X)


def test_precomputed_kernel_shapes_are_checked(blobs):
    X, y = blobs
    K = X @ X.T
    with pytest.raises(ValueError, match="square kernel matrix"):
        tevra.SVC(kernel="precomputed").fit(K[:, :10], y)
    fitted = tevra.SVC(kernel="precomputed").fit(K, y)
    with pytest.raises(ValueError, match="features"):
        fitted.predict(K[:, :10])


BAD_MODEL_FILES = [
    ("unknown key", "bias 0.5\n"),
    ("empty", ""),
    ("counts that do not add up",
     "svm_type c_svc\nkernel_type rbf\ngamma 1\nnr_class 2\ntotal_sv 1\nlabel 1 2\nnr_sv 3 0\nSV\n1 1:1 \n"),
    ("truncated", "svm_type c_svc\nkernel_type rbf\ngamma 1\nnr_class 2\ntotal_sv 4\nlabel 1 2\n"
                  "nr_sv 2 2\nSV\n1 1:1 \n"),
]


@pytest.mark.parametrize("name,text", BAD_MODEL_FILES, ids=[c[0] for c in BAD_MODEL_FILES])
def test_a_bad_model_file_is_refused(tmp_path, name, text):
    (tmp_path / "bad.model").write_text(text)
    with pytest.raises(ValueError, match="bad.model"):
        tevra.load_model(tmp_path / "bad.model")


def test_model_files_that_cannot_be_opened(tmp_path, blobs):
    with pytest.raises(FileNotFoundError):
        tevra.load_model(tmp_path / "missing.model")
    with pytest.raises(FileNotFoundError):
        _fitted(*blobs).save_model(tmp_path / "no" / "such" / "dir.model")


def test_string_classes_train_and_pickle_but_have_no_model_file(blobs, tmp_path):
    X, y = blobs
    names = np.array(["setosa", "versicolor", "virginica"])[y.astype(int)]
    fitted = tevra.SVC().fit(X, names)
    assert list(fitted.classes_) == ["setosa", "versicolor", "virginica"]
    table = np.array(["setosa", "versicolor", "virginica"])
    np.testing.assert_array_equal(fitted.predict(X), table[tevra.SVC().fit(X, y).predict(X).astype(int)])
    again = pickle.loads(pickle.dumps(fitted))
    np.testing.assert_array_equal(again.predict(X), fitted.predict(X))
    with pytest.raises(ValueError, match="integer class labels"):
        fitted.save_model(tmp_path / "m")
