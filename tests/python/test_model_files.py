"""Python and the tools agree: the same training writes the same model file,
and a model file from tevra-train predicts in Python what tevra-predict
predicts."""
import numpy as np
import pytest
import scipy.sparse as sp

import tevra
from conftest import run, write_sparse


def _class_set(rng, n):
    # Labels in an order whose first appearance (3, 5, -2) differs from the
    # sorted one; the last two columns are zero everywhere, so the largest
    # feature index present (5) is not the column count (7).
    labels = np.array([3, 5, -2])
    y = labels[rng.integers(0, 3, n)]
    y[:3] = labels
    centers = {3: 0.0, 5: 1.0, -2: -1.0}
    X = rng.normal(size=(n, 7)) * 0.6 + np.array([centers[v] for v in y])[:, None]
    X[rng.random(X.shape) < 0.3] = 0
    X[:, 5:] = 0
    return X, y.astype(float)


def _regression_set(rng, n):
    X = rng.normal(size=(n, 7))
    X[rng.random(X.shape) < 0.3] = 0
    X[:, 5:] = 0
    y = X[:, 0] - 0.5 * X[:, 1] + 0.1 * rng.normal(size=n)
    return X, y


@pytest.fixture(scope="module")
def sets():
    rng = np.random.default_rng(7)
    return {"class": (_class_set(rng, 90), _class_set(rng, 40)),
            "regression": (_regression_set(rng, 80), _regression_set(rng, 30))}


# name, kind of set, tevra-train options, the same training as an estimator
CASES = [
    ("c_svc_rbf", "class", "", lambda: tevra.SVC()),
    ("c_svc_linear_seeded", "class", "-t 0 -c 4", lambda: tevra.SVC(kernel="linear", C=4)),
    ("c_svc_poly_weights", "class", "-t 1 -d 2 -g 0.5 -r 1 -w3 2 -w-2 0.5",
     lambda: tevra.SVC(kernel="poly", degree=2, gamma=0.5, coef0=1, class_weight={3: 2, -2: 0.5})),
    ("c_svc_small_cache_loose_tol", "class", "-m 0.01 -e 0.01",
     lambda: tevra.SVC(cache_size=0.01, tol=0.01)),
    ("kbb_small_working_set", "class", "-s 1 -q 4 -c 2",
     lambda: tevra.SVC(svm_type="kbb", qpsize=4, C=2)),
    ("spoc_rbf", "class", "-s 2 -c 10", lambda: tevra.SVC(svm_type="spoc", C=10)),
    ("spoc_l2_sigmoid_no_shrinking", "class", "-s 4 -t 3 -g 0.1 -h 0",
     lambda: tevra.SVC(svm_type="spoc_l2", kernel="sigmoid", gamma=0.1, shrinking=False)),
    ("svr_rbf", "regression", "-s 3 -c 10 -p 0.05", lambda: tevra.SVR(C=10, epsilon=0.05)),
    ("svr_linear_seeded", "regression", "-s 3 -t 0 -c 8 -b 0.5 -i 4",
     lambda: tevra.SVR(kernel="linear", C=8, Cbegin=0.5, Cstep=4)),
    ("c_svc_linear_coordinate_descent", "class", "-t 0 -a 1 -c 4",
     lambda: tevra.SVC(kernel="linear", C=4, algorithm=1)),
    ("spoc_linear_coordinate_descent", "class", "-s 2 -t 0 -a 1",
     lambda: tevra.SVC(svm_type="spoc", kernel="linear", algorithm=1)),
    ("svr_linear_coordinate_descent", "regression", "-s 3 -t 0 -a 1 -c 2",
     lambda: tevra.SVR(kernel="linear", C=2, algorithm=1)),
]
IDS = [case[0] for case in CASES]


@pytest.mark.parametrize("layout", ["dense", "csr"])
@pytest.mark.parametrize("name,kind,options,estimator", CASES, ids=IDS)
def test_python_writes_the_model_file_of_tevra_train(
    tmp_path, train_tool, sets, name, kind, options, estimator, layout
):
    (X, y), _ = sets[kind]
    write_sparse(tmp_path / "train", X, y)
    run([train_tool, *options.split(), tmp_path / "train", tmp_path / "tool.model"])
    estimator().fit(X if layout == "dense" else sp.csr_matrix(X), y).save_model(tmp_path / "py.model")
    assert (tmp_path / "py.model").read_bytes() == (tmp_path / "tool.model").read_bytes()


@pytest.mark.parametrize("name,kind,options,estimator", CASES, ids=IDS)
def test_a_tool_model_predicts_in_python_as_in_tevra_predict(
    tmp_path, train_tool, predict_tool, sets, name, kind, options, estimator
):
    (X, y), (X_test, y_test) = sets[kind]
    write_sparse(tmp_path / "train", X, y)
    write_sparse(tmp_path / "test", X_test, y_test)
    run([train_tool, *options.split(), tmp_path / "train", tmp_path / "m"])
    run([predict_tool, tmp_path / "test", tmp_path / "m", tmp_path / "out"])
    loaded = tevra.load_model(tmp_path / "m")
    assert type(loaded) is type(estimator())
    predicted = ["%g" % v for v in loaded.predict(X_test)]
    assert predicted == (tmp_path / "out").read_text().split()


def _kernel_file(path, K, y):
    with open(path, "w") as f:
        for i, (row, label) in enumerate(zip(K, y)):
            values = " ".join(f"{j + 1}:{v!r}" for j, v in enumerate(row))
            f.write(f"{int(label)} 0:{i + 1} {values}\n")


def test_precomputed_kernel_in_both_directions(tmp_path, train_tool, predict_tool, sets):
    (X, y), (X_test, y_test) = sets["class"]
    K, K_test = X @ X.T, X_test @ X.T
    _kernel_file(tmp_path / "train", K, y)
    _kernel_file(tmp_path / "test", K_test, y_test)
    run([train_tool, "-t", "4", "-c", "2", tmp_path / "train", tmp_path / "tool.model"])
    fitted = tevra.SVC(kernel="precomputed", C=2).fit(K, y)
    fitted.save_model(tmp_path / "py.model")
    assert (tmp_path / "py.model").read_bytes() == (tmp_path / "tool.model").read_bytes()
    run([predict_tool, tmp_path / "test", tmp_path / "tool.model", tmp_path / "out"])
    expected = (tmp_path / "out").read_text().split()
    assert ["%g" % v for v in tevra.load_model(tmp_path / "tool.model").predict(K_test)] == expected
    assert ["%g" % v for v in fitted.predict(K_test)] == expected


def test_model_file_reads_back_to_the_same_estimator(tmp_path, sets):
    (X, y), (X_test, _) = sets["class"]
    fitted = tevra.SVC(svm_type="kbb", kernel="poly", degree=2, coef0=1).fit(X, y)
    fitted.save_model(tmp_path / "m")
    loaded = tevra.load_model(tmp_path / "m")
    assert loaded.get_params()["svm_type"] == "kbb"
    assert (loaded.kernel, loaded.degree, loaded.coef0) == ("poly", 2, 1.0)
    np.testing.assert_array_equal(loaded.classes_, fitted.classes_)
    np.testing.assert_array_equal(loaded.n_support_, fitted.n_support_)
    # Coefficients are written with 16 significant digits.
    np.testing.assert_allclose(loaded.dual_coef_, fitted.dual_coef_, rtol=1e-15)
    np.testing.assert_array_equal(loaded.predict(X_test), fitted.predict(X_test))
    # Written again, the loaded model gives the same file.
    loaded.save_model(tmp_path / "again")
    assert (tmp_path / "again").read_bytes() == (tmp_path / "m").read_bytes()
