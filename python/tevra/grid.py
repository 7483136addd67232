"""tevra-grid: cross-validated search of C and gamma on a Dask cluster.

usage: tevra-grid [options] training_set_file

Training options, as tevra-train takes them: -s svm_type, -t kernel_type,
-d degree, -g gamma (fixes gamma: only C is searched), -r coef0, -p epsilon,
-m cachesize, -e epsilon, -h shrinking, -b cost0, -i step, -q qpsize, -a algorithm,
-wi weight. The linear and precomputed kernels search C alone.

Search options:
  -v n                 folds of the cross-validation (default 5)
  --log2c b,e,s        log2 C from b to e in steps of s (default -5,15,2)
  --log2g b,e,s        log2 gamma likewise (default 3,-15,-2)
  --seed n             seed of the fold shuffle (default 1: the folds of
                       tevra-train -v with the GNU C library)
  --scheduler ADDRESS  a running Dask scheduler, tcp://host:port; its workers
                       need tevra installed (default: a local cluster)
  --workers n          worker processes of the local cluster (default: one per core)
  --out FILE           results, CSV or JSON lines (.jsonl); a rerun with the
                       same file skips the points it holds (default NAME.grid.csv)
  --png FILE           contour plot (default NAME.grid.png)
  --train MODEL        train on the whole set at the best point and write MODEL
"""
import argparse
import logging
import os
import re
import sys

from . import _core
from .folds import shuffled_order
from .grid_progress import ProgressBar
from .grid_results import CLASSIFICATION_FIELDS, REGRESSION_FIELDS, ResultsFile
from . import grid_search

_WEIGHT = re.compile(r"^-w(-?\d+)$")
_GAMMA_KERNELS = (1, 2, 3)  # polynomial, rbf, sigmoid


class UsageError(Exception):
    pass


def _grid(text):
    try:
        begin, end, step = (float(part) for part in text.split(","))
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected begin,end,step, got {text!r}") from None
    try:
        values = grid_search.grid_values(begin, end, step)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None
    return [int(v) if float(v).is_integer() else v for v in values]


def _parser():
    parser = argparse.ArgumentParser(prog="tevra-grid", add_help=False,
                                     usage="tevra-grid [options] training_set_file (--help)")
    add = parser.add_argument
    add("--help", action="version", version=__doc__.strip())
    for flag, field, kind in [("-s", "svm_type", int), ("-t", "kernel_type", int), ("-d", "degree", int),
                              ("-g", "gamma", float), ("-r", "coef0", float), ("-p", "p", float),
                              ("-m", "cache_size", float), ("-e", "eps", float), ("-h", "shrinking", int),
                              ("-b", "Cbegin", float), ("-i", "Cstep", float), ("-q", "qpsize", int),
                              ("-a", "algorithm", int)]:
        add(flag, dest=field, type=kind)
    add("-v", dest="folds", type=int, default=5)
    add("--log2c", type=_grid, default="-5,15,2")
    add("--log2g", type=_grid, default="3,-15,-2")
    add("--seed", type=int, default=1)
    add("--scheduler")
    add("--workers", type=int)
    add("--out")
    add("--png")
    add("--train", metavar="MODEL")
    add("training_set_file")
    return parser


def parse_arguments(argv):
    """(settings, training parameters) of a command line."""
    weights, rest = [], []
    argv = [str(word) for word in argv]
    while argv:
        word = argv.pop(0)
        match = _WEIGHT.match(word)
        if word in ("--log2c", "--log2g") and argv:
            # Joined, so that a negative begin is not taken for an option.
            rest.append(f"{word}={argv.pop(0)}")
        elif match:
            if not argv:
                raise UsageError(f"{word} needs a value")
            weights.append((int(match.group(1)), float(argv.pop(0))))
        else:
            rest.append(word)
    settings = _parser().parse_args(rest)
    if settings.folds < 2:
        raise UsageError("n-fold cross validation: n must >= 2")
    fields = ["svm_type", "kernel_type", "degree", "gamma", "coef0", "p", "cache_size", "eps",
              "shrinking", "Cbegin", "Cstep", "qpsize", "algorithm"]
    parameters = {f: getattr(settings, f) for f in fields if getattr(settings, f) is not None}
    if weights:
        parameters["weights"] = weights
    name = os.path.basename(settings.training_set_file)
    settings.out = settings.out or f"{name}.grid.csv"
    settings.png = settings.png or f"{name}.grid.png"
    return settings, parameters


def _client(settings):
    from distributed import Client, LocalCluster

    if settings.scheduler:
        return Client(settings.scheduler), None
    # One single-threaded process per core: each point keeps one core busy,
    # so the library's own loops stay on one thread in each.
    cluster = LocalCluster(n_workers=settings.workers or os.cpu_count(), threads_per_worker=1,
                           processes=True, dashboard_address=":0", silence_logs=logging.ERROR,
                           env={"OMP_NUM_THREADS": "1"})
    return Client(cluster), cluster


def _metric_text(record, regression):
    if regression:
        return (f"Cross Validation Mean squared error = {record['mse']:g}, "
                f"Squared correlation coefficient = {record['scc']:g}")
    return f"Cross Validation Accuracy = {record['accuracy']:g}%"


def _point_text(record):
    text = f"C = {record['C']!r} (log2c = {record['log2c']:g})"
    if record["log2g"] is not None:
        text += f", gamma = {record['gamma']!r} (log2g = {record['log2g']:g})"
    return text


def search(settings, parameters, out=sys.stdout, progress_stream=None):
    """Runs the search of a parsed command line; returns the best record."""
    regression = parameters.get("svm_type", 0) == 3
    dataset = _core.Dataset.read(settings.training_set_file, parameters.get("svm_type", 0),
                                 parameters.get("kernel_type", 2))
    searches_gamma = parameters.get("kernel_type", 2) in _GAMMA_KERNELS and "gamma" not in parameters
    grid = grid_search.points(settings.log2c, settings.log2g if searches_gamma else None)
    _core.check_parameters(dataset, grid_search.point_parameters(parameters, grid[0]))

    results = ResultsFile(settings.out, REGRESSION_FIELDS if regression else CLASSIFICATION_FIELDS)
    records = results.load()
    todo = [point for point in grid if point not in records]
    if len(todo) < len(grid):
        print(f"resuming: {len(grid) - len(todo)} of {len(grid)} points already in {settings.out}",
              file=sys.stderr)
    bar = ProgressBar(len(grid), len(grid) - len(todo), progress_stream)
    bar.draw()

    def on_record(record):
        results.append(record)
        records[record["log2c"], record["log2g"]] = record
        leader = grid_search.best([records[p] for p in grid if p in records], regression)
        bar.advance(f"best {_metric_text(leader, regression)}" if leader else "")

    if todo:
        client, cluster = _client(settings)
        try:
            order = shuffled_order(dataset.sample_count, settings.seed)
            grid_search.run(client, dataset, order, parameters, todo, settings.folds, on_record)
        finally:
            bar.close()
            client.close()
            if cluster is not None:
                cluster.close()
    else:
        bar.close()

    finished = [records[p] for p in grid]
    leader = grid_search.best(finished, regression)
    from .grid_plot import write_plot

    write_plot(settings.png, finished, regression, leader,
               f"{os.path.basename(settings.training_set_file)}: {settings.folds}-fold cross-validation")
    if leader is None:
        print("no grid point gave a finite result", file=out)
        return None
    print(f"Best {_point_text(leader)}: {_metric_text(leader, regression)}", file=out)
    if settings.train:
        best_parameters = grid_search.point_parameters(parameters, (leader["log2c"], leader["log2g"]))
        _core.train(dataset, best_parameters).save(settings.train)
        print(f"model trained at the best point written to {settings.train}", file=out)
    return leader


def main(argv=None):
    try:
        settings, parameters = parse_arguments(sys.argv[1:] if argv is None else argv)
        search(settings, parameters)
    except UsageError as error:
        print(f"tevra-grid: {error}", file=sys.stderr)
        return 1
    except (OSError, ValueError) as error:
        print(f"tevra-grid: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("tevra-grid: interrupted; run again with the same --out to go on", file=sys.stderr)
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main())
