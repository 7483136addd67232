"""A cross-validated grid search over log2 C x log2 gamma on Dask.

One task is one grid point: all folds of a point run in one training run,
so the sub-problem solver's shift carries from fold to fold exactly as in
tevra-train -v. The data set and the fold order are scattered to the
workers once; each task receives only its parameters. A worker that dies is
replaced and its task rerun by the scheduler.
"""
import math

from distributed import as_completed

from . import _core


def grid_values(begin, end, step):
    """begin, begin + step, ... up to end inclusive (step may be negative)."""
    if step == 0 or (end - begin) * step < 0:
        raise ValueError(f"grid {begin},{end},{step}: the step must lead from begin to end")
    count = int(math.floor((end - begin) / step + 1e-9)) + 1
    return [begin + k * step for k in range(count)]


def points(log2c_values, log2g_values):
    """Every (log2c, log2g) of the grid; log2g None where gamma is not searched."""
    return [(c, g) for c in log2c_values for g in (log2g_values or [None])]


def point_parameters(base, point):
    log2c, log2g = point
    parameters = dict(base, C=2.0**log2c)
    if log2g is not None:
        parameters["gamma"] = 2.0**log2g
    return parameters


def evaluate_point(dataset, order, parameters, fold_count):
    """Cross-validation of one point; runs on a worker."""
    result = _core.cross_validate(dataset, parameters, order, fold_count)
    del result["predictions"]
    return result


def record_of(point, parameters, result):
    log2c, log2g = point
    record = {"log2c": log2c, "log2g": log2g, "C": parameters["C"],
              "gamma": parameters.get("gamma") if log2g is not None else None}
    if "accuracy" in result:
        record.update(accuracy=result["accuracy"], correct=result["correct"])
    else:
        record.update(mse=result["mean_squared_error"], scc=result["squared_correlation"])
    return record


def run(client, dataset, order, base, todo, fold_count, on_record):
    """Evaluates the points of todo on the client's cluster; on_record(record)
    is called in the order the points finish."""
    if not todo:
        return
    data = client.scatter(dataset, broadcast=True, hash=False)
    folds = client.scatter(order, broadcast=True, hash=False)
    pending = {}
    for point in todo:
        parameters = point_parameters(base, point)
        future = client.submit(evaluate_point, data, folds, parameters, fold_count, pure=False)
        pending[future] = (point, parameters)
    for future in as_completed(list(pending)):
        point, parameters = pending.pop(future)
        on_record(record_of(point, parameters, future.result()))


def best(records, regression):
    """The best record: highest accuracy, or lowest MSE; ties to the smaller C,
    then the smaller gamma, so that the answer does not depend on the order
    in which points finished."""
    def key(r):
        metric = r["mse"] if regression else -r["accuracy"]
        return (metric, r["log2c"], r["log2g"] if r["log2g"] is not None else 0)

    finite = [r for r in records if not math.isnan(r["mse"] if regression else r["accuracy"])]
    return min(finite, key=key) if finite else None
