"""The picture of a grid search: contours of the cross-validated accuracy
(or mean squared error) over log2 C x log2 gamma, or a curve over log2 C
when gamma is not searched."""
import matplotlib

matplotlib.use("Agg")  # files only; no display needed

import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402


def write_plot(path, records, regression, best, title):
    metric = "mse" if regression else "accuracy"
    label = "CV mean squared error" if regression else "CV accuracy (%)"
    figure, axes = plt.subplots(figsize=(7, 5.5))
    log2c = sorted({r["log2c"] for r in records})
    log2g = sorted({r["log2g"] for r in records if r["log2g"] is not None})
    if log2g:
        values = np.full((len(log2g), len(log2c)), np.nan)
        for r in records:
            values[log2g.index(r["log2g"]), log2c.index(r["log2c"])] = r[metric]
        if len(log2c) > 1 and len(log2g) > 1:
            filled = axes.contourf(log2c, log2g, values, levels=12, cmap="viridis")
            axes.contour(log2c, log2g, values, levels=filled.levels, colors="k", linewidths=0.4)
            figure.colorbar(filled, ax=axes, label=label)
        else:
            shown = axes.scatter(np.repeat([log2c], len(log2g), axis=0), np.repeat(
                np.array(log2g)[:, None], len(log2c), axis=1), c=values, cmap="viridis")
            figure.colorbar(shown, ax=axes, label=label)
        axes.set_ylabel("log2 gamma")
        if best is not None:
            axes.plot(best["log2c"], best["log2g"], "r*", markersize=14, label="best")
    else:
        curve = sorted((r["log2c"], r[metric]) for r in records)
        axes.plot([c for c, _ in curve], [v for _, v in curve], "o-")
        axes.set_ylabel(label)
        if best is not None:
            axes.plot(best["log2c"], best[metric], "r*", markersize=14, label="best")
    axes.set_xlabel("log2 C")
    axes.set_title(title)
    if best is not None:
        axes.legend(loc="best")
    figure.tight_layout()
    figure.savefig(path, dpi=100)
    plt.close(figure)
