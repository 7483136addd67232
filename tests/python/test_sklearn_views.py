"""The scikit-learn view of a model: classes_ sorted, while the model keeps
tevra's order of first appearance. The attributes must describe the model
that predict uses, in classes_ order."""
import numpy as np
import pytest

import tevra


@pytest.fixture(scope="module")
def three_classes():
    # First appearance 7, 2, 4: neither sorted nor reversed.
    rng = np.random.default_rng(11)
    y = np.array([7, 2, 4])[rng.integers(0, 3, 90)]
    y[:3] = [7, 2, 4]
    centers = {7: (0, 0), 2: (1.2, 0), 4: (0.6, 1.0)}
    X = rng.normal(scale=0.6, size=(90, 2)) + np.array([centers[v] for v in y])
    X_test = rng.normal(scale=1.5, size=(2000, 2)) + 0.6
    return X, y.astype(float), X_test


def _kernel(fitted, A, B, shifted):
    distances = ((A[:, None, :] - B[None, :, :]) ** 2).sum(axis=2)
    return np.exp(-fitted.gamma_ * distances) + (1.0 if shifted else 0.0)


def _pair_sums(fitted, X):
    """Pairwise decision values (i, j) from dual_coef_ in classes_ order,
    positive for class i, as scikit-learn lays out one-against-one."""
    K = _kernel(fitted, X, fitted.support_vectors_, shifted=True)
    start = np.concatenate([[0], np.cumsum(fitted.n_support_)])
    sums = {}
    k = len(fitted.classes_)
    for i in range(k):
        for j in range(i + 1, k):
            si, sj = slice(start[i], start[i + 1]), slice(start[j], start[j + 1])
            sums[i, j] = K[:, si] @ fitted.dual_coef_[j - 1, si] + K[:, sj] @ fitted.dual_coef_[i, sj]
    return sums


def test_support_attributes_name_the_training_samples(three_classes):
    X, y, _ = three_classes
    for svm_type in ["c_svc", "kbb", "spoc", "spoc_l2"]:
        fitted = tevra.SVC(svm_type=svm_type).fit(X, y)
        np.testing.assert_array_equal(fitted.classes_, [2, 4, 7])
        np.testing.assert_array_equal(fitted.support_vectors_, X[fitted.support_])
        grouped = np.repeat(fitted.classes_, fitted.n_support_)
        np.testing.assert_array_equal(y[fitted.support_], grouped)


def test_c_svc_dual_coef_gives_its_votes(three_classes):
    X, y, X_test = three_classes
    fitted = tevra.SVC(C=4).fit(X, y)
    votes = np.zeros((len(X_test), 3))
    for (i, j), value in _pair_sums(fitted, X_test).items():
        votes[:, i] += value > 0
        votes[:, j] += value <= 0
    np.testing.assert_array_equal(np.floor(fitted.decision_function(X_test)), votes)


def test_binary_decision_is_positive_for_the_second_class(three_classes):
    X, y, X_test = three_classes
    keep = y != 4  # first appearance 7, then 2: the reverse of classes_
    fitted = tevra.SVC().fit(X[keep], y[keep])
    decision = fitted.decision_function(X_test)
    np.testing.assert_allclose(decision, -_pair_sums(fitted, X_test)[0, 1], rtol=1e-12, atol=1e-12)
    np.testing.assert_array_equal(fitted.predict(X_test), np.where(decision > 0, 7, 2))


def test_kbb_and_spoc_dual_coef_give_the_decision_values(three_classes):
    X, y, X_test = three_classes
    kbb = tevra.SVC(svm_type="kbb").fit(X, y)
    K = _kernel(kbb, X_test, kbb.support_vectors_, shifted=True)
    owner = np.repeat(np.arange(3), kbb.n_support_)
    expected = np.zeros((len(X_test), 3))
    for s, c in enumerate(owner):
        for other in range(3):
            if other == c:
                expected[:, c] += K[:, s] * kbb.dual_coef_[:, s].sum()
            else:
                expected[:, other] -= K[:, s] * kbb.dual_coef_[other if other < c else other - 1, s]
    np.testing.assert_allclose(kbb.decision_function(X_test), expected, rtol=1e-10, atol=1e-12)

    spoc = tevra.SVC(svm_type="spoc").fit(X, y)
    K = _kernel(spoc, X_test, spoc.support_vectors_, shifted=False)
    np.testing.assert_allclose(spoc.decision_function(X_test), K @ spoc.dual_coef_.T, rtol=1e-10, atol=1e-12)


def test_svr_dual_coef_gives_the_prediction(diabetes):
    X, y = diabetes
    fitted = tevra.SVR(C=4).fit(X, y)
    K = _kernel(fitted, X[:50], fitted.support_vectors_, shifted=True)
    np.testing.assert_allclose(fitted.predict(X[:50]), K @ fitted.dual_coef_[0], rtol=1e-10)
    np.testing.assert_array_equal(fitted.support_vectors_, X[fitted.support_])


@pytest.mark.parametrize("svm_type", ["c_svc", "kbb", "spoc", "spoc_l2"])
def test_decision_function_agrees_with_predict(three_classes, svm_type):
    X, y, X_test = three_classes
    fitted = tevra.SVC(svm_type=svm_type, C=4).fit(X, y)
    decision = fitted.decision_function(X_test)
    np.testing.assert_array_equal(fitted.classes_[decision.argmax(axis=1)], fitted.predict(X_test))
    if svm_type == "c_svc":
        # Tied votes happen here, and predict gives them to the class seen
        # first in y (7), not the first of classes_.
        votes = np.floor(decision)
        tied = (votes == votes.max(axis=1, keepdims=True)).sum(axis=1) > 1
        assert tied.any()


def test_verbose_decides_whether_progress_is_printed(three_classes, capfd):
    X, y, _ = three_classes
    tevra.SVC().fit(X, y)
    assert capfd.readouterr().out == ""
    tevra.SVC(verbose=True).fit(X, y)
    assert "Total nSV = " in capfd.readouterr().out
