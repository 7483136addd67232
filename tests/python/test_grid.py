"""tevra-grid: every point is tevra-train's cross-validation, the search
survives an interruption and a dying worker, and it ends with the plot and
the model of the best point."""
import csv
import io
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest
from distributed import Client, LocalCluster

from conftest import DATA, run, write_sparse
from tevra import _core, grid, grid_search
from tevra.folds import shuffled_order
from tevra.grid_results import CLASSIFICATION_FIELDS, ResultsFile


def _grid_command(*arguments):
    return [sys.executable, "-m", "tevra.grid", *[str(a) for a in arguments]]


def _table(path):
    with open(path) as f:
        return sorted(tuple(row) for row in csv.reader(f))


def _tool_cv(train_tool, options, data):
    return run([train_tool, *options, data]).stdout.splitlines()


# name, data set, training options, grid options, what tevra-train -v prints
CASES = [
    ("c_svc_rbf", "iris.all", ["-c", "1"][:0], ["--log2c", "-1,3,2", "--log2g", "1,-1,-2"]),
    ("kbb_weights", "iris.all", ["-s", "1", "-w2", "3"], ["--log2c", "0,2,2", "--log2g", "-2,-2,1"]),
    ("linear_searches_C_alone", "iris.all", ["-t", "0"], ["--log2c", "-2,2,2"]),
    ("linear_coordinate_descent", "iris.all", ["-s", "2", "-t", "0", "-a", "1"], ["--log2c", "-2,2,2"]),
    ("fixed_gamma", "iris.all", ["-g", "0.25"], ["--log2c", "1,3,2"]),
    ("regression", "diabetes.train", ["-s", "3", "-p", "0.2"], ["--log2c", "0,2,2", "--log2g", "-3,-3,1"]),
]


@pytest.mark.parametrize("name,data,options,search", CASES, ids=[c[0] for c in CASES])
def test_each_point_is_the_cross_validation_of_tevra_train(
    tmp_path, cluster, train_tool, name, data, options, search
):
    settings, parameters = grid.parse_arguments(
        [*options, *search, "-v", "4", "--scheduler", cluster.scheduler_address,
         "--out", tmp_path / "r.csv", "--png", tmp_path / "r.png", DATA / data])
    grid.search(settings, parameters, out=io.StringIO())
    rows = list(csv.DictReader(open(tmp_path / "r.csv")))
    assert len(rows) == len(grid_search.points(
        settings.log2c, settings.log2g if "-t" not in options and "-g" not in options else None))
    for row in rows:
        point = ["-c", row["C"]] + (["-g", row["gamma"]] if row["gamma"] else [])
        printed = _tool_cv(train_tool, [*options, "-v", "4", *point], DATA / data)
        if "mse" in row:
            assert printed[-2] == f"Cross Validation Mean squared error = {float(row['mse']):g}"
            assert printed[-1] == f"Cross Validation Squared correlation coefficient = {float(row['scc']):g}"
        else:
            assert printed[-1] == f"Cross Validation Accuracy = {float(row['accuracy']):g}%"
    assert (tmp_path / "r.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_train_writes_the_model_of_tevra_train_at_the_best_point(tmp_path, cluster, train_tool):
    settings, parameters = grid.parse_arguments(
        ["-s", "2", "--log2c", "-1,3,2", "--log2g", "0,-2,-2", "--scheduler", cluster.scheduler_address,
         "--out", tmp_path / "r.jsonl", "--png", tmp_path / "r.png", "--train", tmp_path / "best.model",
         DATA / "iris.all"])
    out = io.StringIO()
    best = grid.search(settings, parameters, out=out)
    assert f"Cross Validation Accuracy = {best['accuracy']:g}%" in out.getvalue()
    run([train_tool, "-s", "2", "-c", repr(best["C"]), "-g", repr(best["gamma"]), DATA / "iris.all",
         tmp_path / "tool.model"])
    assert (tmp_path / "best.model").read_bytes() == (tmp_path / "tool.model").read_bytes()


def test_the_progress_bar_is_drawn_on_a_terminal(tmp_path, cluster):
    class Terminal(io.StringIO):
        def isatty(self):
            return True

    screen = Terminal()
    settings, parameters = grid.parse_arguments(
        ["--log2c", "0,1,1", "--log2g", "0,0,1", "--scheduler", cluster.scheduler_address,
         "--out", tmp_path / "r.csv", "--png", tmp_path / "r.png", DATA / "iris.all"])
    grid.search(settings, parameters, out=io.StringIO(), progress_stream=screen)
    assert "] 2/2 points  best Cross Validation Accuracy" in screen.getvalue()


@pytest.fixture(scope="module")
def slow_set(tmp_path_factory):
    """A grid whose points take long enough to be interrupted in the middle,
    and its results from an undisturbed search."""
    rng = np.random.default_rng(5)
    y = rng.integers(0, 3, 2000)
    X = rng.normal(size=(2000, 12)) + 0.35 * y[:, None]
    folder = tmp_path_factory.mktemp("slow")
    write_sparse(folder / "slow.train", X, y)
    return folder / "slow.train"


SLOW_GRID = ["--log2c", "4,10,2", "--log2g", "-2,-6,-2", "-v", "3"]


@pytest.fixture(scope="module")
def reference_table(slow_set, cluster, tmp_path_factory):
    folder = tmp_path_factory.mktemp("reference")
    settings, parameters = grid.parse_arguments(
        [*SLOW_GRID, "--scheduler", cluster.scheduler_address, "--out", folder / "r.csv",
         "--png", folder / "r.png", slow_set])
    grid.search(settings, parameters, out=io.StringIO())
    return _table(folder / "r.csv")


def test_an_interrupted_search_resumes_to_the_same_table(tmp_path, slow_set, reference_table):
    results = tmp_path / "results.csv"
    command = _grid_command(*SLOW_GRID, "--workers", "2", "--out", results, "--png", tmp_path / "r.png",
                            slow_set)
    search = subprocess.Popen(command, cwd=tmp_path, start_new_session=True,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline and search.poll() is None:
        if results.exists() and results.read_text().count("\n") >= 4:  # header and 3 points
            break
        time.sleep(0.02)
    os.killpg(search.pid, signal.SIGKILL)  # the command and its worker processes
    search.wait()
    done = results.read_text().count("\n") - 1
    assert 3 <= done < 12, "the search must be cut in the middle"
    with open(results, "a") as f:
        f.write("10,-6,1024.0,0.01")  # a line cut short by the kill

    resumed = subprocess.run(command, cwd=tmp_path, capture_output=True, text=True, timeout=300)
    assert resumed.returncode == 0, resumed.stderr
    assert f"resuming: {done} of 12 points already in" in resumed.stderr
    assert _table(results) == reference_table


def test_a_worker_killed_mid_search_is_replaced_and_the_search_completes(
    tmp_path, slow_set, reference_table
):
    dataset = _core.Dataset.read(str(slow_set))
    order = shuffled_order(dataset.sample_count)
    points = grid_search.points([4, 6, 8, 10], [-2, -4, -6])
    results = ResultsFile(tmp_path / "r.csv", CLASSIFICATION_FIELDS)
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=":0") as local, Client(local) as client:
        victim = list(client.run(os.getpid).values())[0]

        def on_record(record):
            if not os.path.exists(results.path):
                os.kill(victim, signal.SIGKILL)  # while the other points run
            results.append(record)

        grid_search.run(client, dataset, order, {}, points, 3, on_record)
        assert victim not in client.run(os.getpid).values()
    assert _table(results.path) == reference_table


@pytest.mark.parametrize("arguments,message", [
    (["-v", "1", "x"], "n must >= 2"),
    (["missing.train"], "No such file or directory"),
    (["-c", "2", "x"], "unrecognized arguments"),
    (["--log2c", "1,5,-1", "x"], "the step must lead from begin to end"),
    (["-t", "0", "-b", "0", str(DATA / "iris.all")], "Cbegin <= 0"),
])
def test_command_line_errors(tmp_path, arguments, message):
    result = subprocess.run(_grid_command(*arguments), cwd=tmp_path, capture_output=True, text=True,
                            timeout=60)
    assert result.returncode != 0
    assert message in result.stderr


def test_a_results_file_of_another_search_is_not_mixed_in(tmp_path):
    (tmp_path / "r.csv").write_text("log2c,log2g,C,gamma,mse,scc\n")
    result = subprocess.run(_grid_command("--out", "r.csv", DATA / "iris.all"), cwd=tmp_path,
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 1
    assert "another kind of search" in result.stderr
