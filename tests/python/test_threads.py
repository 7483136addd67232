"""Estimators in several Python threads: the binding releases the GIL while
the library trains and predicts, and concurrent trainings share nothing."""
import pickle
import threading
import time

import numpy as np
import pytest
from sklearn.base import clone

import tevra


@pytest.fixture(scope="module")
def trainings(iris, diabetes):
    X, y = iris
    Xr, yr = diabetes
    # The small gammas make kernel matrices that the sub-problem solver
    # factorises only after growing its Cholesky shift: a shift shared
    # between threads would change the others' results.
    return [
        (tevra.SVC(C=8, gamma=2**-7), X, y),
        (tevra.SVC(svm_type="kbb", C=2, gamma=2**-7), X, y),
        (tevra.SVC(C=0.5, gamma=2**-5), X, y),
        (tevra.SVR(C=16, gamma=0.5), Xr, yr),
        (tevra.SVC(kernel="linear", C=64), X, y),
    ]


def _model_bytes(estimator, X, y):
    return pickle.dumps(estimator.fit(X, y)._model)


def test_concurrent_fits_give_the_serial_models(trainings):
    serial = [_model_bytes(e, X, y) for e, X, y in trainings]
    start = threading.Barrier(3)
    found = {}

    def train(thread, order):
        start.wait()
        for repeat in range(3):
            for k in order:
                estimator, X, y = trainings[k]
                found[thread, repeat, k] = _model_bytes(clone(estimator), X, y)

    orders = [[0, 1, 2, 3, 4], [4, 3, 2, 1, 0], [1, 0, 3, 2, 4]]
    threads = [threading.Thread(target=train, args=(t, order)) for t, order in enumerate(orders)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(found) == 3 * 3 * 5
    for (thread, repeat, k), model in found.items():
        assert model == serial[k], f"thread {thread}, round {repeat}: training {k} differs"


@pytest.fixture(scope="module")
def big_set():
    rng = np.random.default_rng(1)
    y = rng.integers(0, 2, 3000)
    X = rng.normal(size=(3000, 10)) + 0.3 * y[:, None]
    return X, y


def _largest_pause_of_the_main_thread(work):
    """Runs work in another thread; the longest the main thread went without
    running while work was inside the library, as a share of work's time."""
    marks = {}

    def timed():
        marks["start"] = time.monotonic()
        work()
        marks["end"] = time.monotonic()

    worker = threading.Thread(target=timed)
    ticks = []
    worker.start()
    while worker.is_alive():
        ticks.append(time.monotonic())
    worker.join()
    inside = [t for t in ticks if marks["start"] <= t <= marks["end"]]
    edges = [marks["start"], *inside, marks["end"]]
    return max(np.diff(edges)) / (marks["end"] - marks["start"])


def test_training_and_prediction_let_other_threads_run(big_set):
    X, y = big_set
    estimator = tevra.SVC(C=10)
    # With the GIL held, the main thread would stop for the whole call.
    assert _largest_pause_of_the_main_thread(lambda: estimator.fit(X, y)) < 0.5
    rows = np.tile(X, (4, 1))
    assert _largest_pause_of_the_main_thread(lambda: estimator.predict(rows)) < 0.5
