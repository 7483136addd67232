"""Shared fixtures: the tool programs, the bundled data sets, sparse files."""
import os
import pathlib
import subprocess

import numpy as np
import pytest
from sklearn.datasets import load_svmlight_file

REPO = pathlib.Path(__file__).resolve().parents[2]
DATA = REPO / "tests" / "data"

# Commands started by the tests run in other folders: they must find the
# package by absolute paths.
os.environ["PYTHONPATH"] = os.pathsep.join(
    os.path.abspath(p) for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p
)


def _tool(variable, relative):
    path = os.environ.get(variable) or str(REPO / "build" / relative)
    if not os.access(path, os.X_OK):
        pytest.skip(f"{path} is not built")
    return path


@pytest.fixture(scope="session")
def train_tool():
    return _tool("TEVRA_TRAIN_BINARY", "tools/train/tevra-train")


@pytest.fixture(scope="session")
def predict_tool():
    return _tool("TEVRA_PREDICT_BINARY", "tools/predict/tevra-predict")


def run(command, cwd=None, check=True):
    result = subprocess.run(
        [str(part) for part in command], cwd=cwd, capture_output=True, text=True, timeout=600
    )
    if check and result.returncode != 0:
        raise AssertionError(f"{command} failed ({result.returncode}):\n{result.stderr}")
    return result


def write_sparse(path, X, y):
    """A data file as tevra reads it: zeros left out, values that read back exactly."""
    with open(path, "w") as f:
        for row, label in zip(np.asarray(X), y):
            label = float(label)
            parts = [str(int(label)) if label.is_integer() else repr(label)]
            parts += [f"{j + 1}:{float(row[j])!r}" for j in np.flatnonzero(row)]
            f.write(" ".join(parts) + "\n")


def read_sparse(name):
    """A bundled data set as a dense matrix and its labels."""
    X, y = load_svmlight_file(str(DATA / name), zero_based=False)
    return X.toarray(), y


@pytest.fixture(scope="session")
def iris():
    return read_sparse("iris.all")


@pytest.fixture(scope="session")
def diabetes():
    return read_sparse("diabetes.train")


@pytest.fixture(scope="module")
def cluster():
    """A Dask cluster of two single-threaded worker processes."""
    from distributed import LocalCluster

    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=":0") as local:
        yield local


def pytest_configure(config):
    # Debian's tornado and distributed disagree about event loops; harmless.
    config.addinivalue_line("filterwarnings", "ignore:make_current is deprecated:DeprecationWarning")
