"""Model files: the text format that tevra-train writes and tevra-predict reads."""
import os
import warnings

import numpy as np

from . import _classes, _core, _data
from .estimators import KERNEL_NAMES, SVC, SVM_TYPE_NAMES, SVR


def load_model(path):
    """A fitted SVC or SVR from a model file.

    It predicts what tevra-predict predicts with the file. Column j of X is
    feature index j + 1; support_ is unknown (the file does not say which
    training samples the support vectors were) and n_features_in_ is not
    set. Raises OSError when the file cannot be opened and ValueError when it
    is not a model file.
    """
    model = _core.Model.load(os.fspath(path))
    kernel = KERNEL_NAMES[model.kernel_type]
    # The file stores each kernel's own settings only; the rest keep their defaults.
    settings = {"kernel": kernel}
    if kernel in ("poly", "rbf", "sigmoid"):
        settings["gamma"] = model.gamma
    if kernel == "poly":
        settings["degree"] = model.degree
    if kernel in ("poly", "sigmoid"):
        settings["coef0"] = model.coef0
    if model.svm_type == 3:
        estimator = SVR(**settings)
    else:
        estimator = SVC(svm_type=SVM_TYPE_NAMES[model.svm_type], **settings)
    estimator._model = model
    estimator._sparse_fit = True
    estimator.gamma_ = model.gamma
    indptr, indices, values = model.support_vectors
    if kernel == "precomputed":
        vectors = np.zeros((0, 0))
        order = np.arange(model.total_sv)
    else:
        if np.any(indices == 0):
            warnings.warn(
                f"{path}: the model uses feature index 0, which no column of X reaches "
                "(column j is feature index j + 1)",
                stacklevel=2,
            )
        width = int(indices.max()) if len(indices) else 0
        vectors = _data.node_matrix(indptr, indices, values, width)
        order = np.arange(model.total_sv)
    if isinstance(estimator, SVC):
        estimator._set_class_attributes(model, _classes.ClassMap.from_model_labels(model.labels))
        order = estimator._column_order
    else:
        estimator._set_model_attributes(model)
    estimator.support_vectors_ = vectors[order] if vectors.shape[0] else vectors
    return estimator
