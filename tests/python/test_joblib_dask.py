"""scikit-learn's own search over tevra estimators, on Dask through joblib."""
import joblib
import numpy as np
from distributed import Client, get_task_stream
from sklearn.model_selection import GridSearchCV

import tevra


def test_grid_search_cv_runs_under_joblibs_dask_backend(cluster, iris):
    X, y = iris
    grid = {"svm_type": ["c_svc", "spoc"], "C": [1.0, 16.0], "gamma": [0.0, 2.0]}
    here = GridSearchCV(tevra.SVC(), grid, cv=3).fit(X, y)
    with Client(cluster) as client, joblib.parallel_backend("dask"), get_task_stream(client) as tasks:
        there = GridSearchCV(tevra.SVC(), grid, cv=3).fit(X, y)
    assert there.best_params_ == here.best_params_
    np.testing.assert_array_equal(there.cv_results_["mean_test_score"], here.cv_results_["mean_test_score"])
    np.testing.assert_array_equal(there.predict(X), here.predict(X))
    assert len({task["worker"] for task in tasks.data}) == 2  # the fits ran on the cluster
