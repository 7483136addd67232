"""scikit-learn estimators over tevra's formulations.

The defaults are tevra-train's. gamma 0 stands for 1 / the largest feature
index present in the training set (the largest column holding a nonzero,
counting from 1). No formulation has a bias term: c_svc, kbb and SVR fold it
into the kernel as a constant 1, spoc and spoc_l2 leave it out; so there is
no intercept_. The dual has no per-sample weights, so fit takes no
sample_weight; class_weight scales C per class.
"""
import numbers
import re

import numpy as np
import scipy.sparse as sp
from sklearn.base import BaseEstimator, ClassifierMixin, RegressorMixin
from sklearn.utils.validation import check_is_fitted

from . import _classes, _core, _data

SVM_TYPES = {"c_svc": 0, "kbb": 1, "spoc": 2, "epsilon_svr": 3, "spoc_l2": 4}
KERNELS = {"linear": 0, "poly": 1, "polynomial": 1, "rbf": 2, "sigmoid": 3, "precomputed": 4}
KERNEL_NAMES = ["linear", "poly", "rbf", "sigmoid", "precomputed"]
SVM_TYPE_NAMES = {value: name for name, value in SVM_TYPES.items()}

# The library's messages name Parameter fields; these two have other names here.
_FIELD_NAMES = {"eps": "tol", "p": "epsilon"}

# Checks of scikit-learn's check_estimator that a formulation cannot pass,
# by svm_type.
_FORMULATION_CHECKS = {
    # Without a bias term the rbf kernel's decision values fade to 0 away from
    # the support vectors, and a tie goes to the first class in y. With the
    # check's costs (1000 for class 0, 0.0001 for the others) almost every
    # support vector is of class 0, so test points far from them are tied and
    # go to whichever class came first, not to class 0 as the check expects.
    "spoc": {
        "check_class_weight_classifiers": "no bias term: decision values fade to a tie away "
        "from the support vectors, and ties go to the first class in y"
    },
}
_FORMULATION_CHECKS["spoc_l2"] = _FORMULATION_CHECKS["spoc"]


def _real(name, value):
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a real number, got {value!r}")
    return float(value)


def _integer(name, value):
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be an integer, got {value!r}")
    return int(value)


def _choice(name, value, choices):
    if not isinstance(value, str) or value not in choices:
        raise ValueError(f"unknown {name} {value!r}: expected one of {', '.join(sorted(choices))}")
    return choices[value]


def _library_error(error):
    """ValueError of a library message, with the estimator's parameter names."""
    message = re.sub(r"^(eps|p)\b", lambda m: _FIELD_NAMES[m.group(1)], str(error))
    message = re.sub(r"-a (\d)", r"algorithm=\1", message)
    return ValueError(message)


class _TevraEstimator(BaseEstimator):
    """What SVC and SVR share: parameters, input checks, training, model files."""

    _regression = False

    def _kernel_type(self):
        return _choice("kernel", self.kernel, KERNELS)

    def _core_parameters(self, svm_type):
        if not isinstance(self.shrinking, (bool, np.bool_)) and self.shrinking not in (0, 1):
            raise ValueError(f"shrinking must be True or False, got {self.shrinking!r}")
        return {
            "svm_type": svm_type,
            "kernel_type": self._kernel_type(),
            "degree": _integer("degree", self.degree),
            "gamma": _real("gamma", self.gamma),
            "coef0": _real("coef0", self.coef0),
            "cache_size": _real("cache_size", self.cache_size),
            "eps": _real("tol", self.tol),
            "C": _real("C", self.C),
            "shrinking": int(bool(self.shrinking)),
            "qpsize": _integer("qpsize", self.qpsize),
            "algorithm": _integer("algorithm", self.algorithm),
            "Cbegin": _real("Cbegin", self.Cbegin),
            "Cstep": _real("Cstep", self.Cstep),
        }

    def _precomputed(self):
        return self.kernel == "precomputed"

    def _check_X(self, X, reset):
        X = self._validate_data(X, accept_sparse="csr", dtype=np.float64, order="C", reset=reset)
        return X

    def _check_training_kernel(self, X):
        if self._precomputed() and X.shape[0] != X.shape[1]:
            raise ValueError(
                f"with kernel='precomputed', X must be the square kernel matrix of the training "
                f"set, got shape {X.shape}"
            )

    def _train(self, X, y_train, parameters):
        data = _data.dataset(X, y_train, self._precomputed())
        try:
            model = _core.train(data, parameters, bool(self.verbose))
        except ValueError as error:
            raise _library_error(error) from None
        self._model = model
        self._sparse_fit = sp.issparse(X)
        self.gamma_ = model.gamma
        return model

    def _support_vectors(self, model, order):
        if self._precomputed():
            return np.zeros((0, self.n_features_in_))
        indptr, indices, values = model.support_vectors
        vectors = _data.node_matrix(indptr, indices, values, self.n_features_in_)[order]
        return vectors if self._sparse_fit else vectors.toarray()

    def _raw_predictions(self, X):
        check_is_fitted(self, "_model")
        X = self._check_X(X, reset=False)
        return self._model.predict(_data.samples(X, self._model.kernel_type == 4))

    def save_model(self, path):
        """Writes the model file, as tevra-train writes it."""
        check_is_fitted(self, "_model")
        self._model.save(str(path))

    def _more_tags(self):
        svm_type = getattr(self, "svm_type", "epsilon_svr")
        return {
            "pairwise": self._precomputed(),
            "_xfail_checks": _FORMULATION_CHECKS.get(svm_type, {}),
        }


class SVC(ClassifierMixin, _TevraEstimator):
    """Multi-class support vector classification.

    svm_type: "c_svc" (one bound-constrained problem per pair of classes),
    "kbb" (one problem over all classes), "spoc" (Crammer and Singer, L1
    loss) or "spoc_l2" (L2 loss). kernel: "linear", "poly", "rbf", "sigmoid"
    or "precomputed" (X is then the kernel matrix, n_samples x n_samples when
    fitting and n_test x n_train when predicting). Cbegin and Cstep drive
    the alpha seeding of the linear kernel under c_svc: solve at Cbegin,
    Cbegin*Cstep, ... then at C. algorithm: 0 the decomposition solvers
    (tevra-train's default), 1 dual coordinate descent, for the linear kernel
    under c_svc, spoc and spoc_l2 (same dual, so the same optimum to within
    tol, though not the same bits). verbose prints tevra's progress text.
    """

    def __init__(
        self,
        svm_type="c_svc",
        kernel="rbf",
        C=1.0,
        gamma=0.0,
        degree=3,
        coef0=0.0,
        tol=1e-3,
        cache_size=100.0,
        shrinking=True,
        qpsize=10,
        algorithm=0,
        class_weight=None,
        Cbegin=1.0,
        Cstep=2.0,
        verbose=False,
    ):
        self.svm_type = svm_type
        self.kernel = kernel
        self.C = C
        self.gamma = gamma
        self.degree = degree
        self.coef0 = coef0
        self.tol = tol
        self.cache_size = cache_size
        self.shrinking = shrinking
        self.qpsize = qpsize
        self.algorithm = algorithm
        self.class_weight = class_weight
        self.Cbegin = Cbegin
        self.Cstep = Cstep
        self.verbose = verbose

    def fit(self, X, y):
        """Trains on X (dense or sparse, n_samples x n_features) and class labels y."""
        svm_type = self.svm_type
        if svm_type == "epsilon_svr":
            raise ValueError("svm_type 'epsilon_svr' is regression: use tevra.SVR")
        parameters = self._core_parameters(_choice("svm_type", svm_type, SVM_TYPES))
        X, y = self._validate_data(X, y, accept_sparse="csr", dtype=np.float64, order="C")
        self._check_training_kernel(X)
        class_map, y_train = _classes.ClassMap.from_targets(y)
        parameters["weights"] = class_map.weights(self.class_weight, y)
        model = self._train(X, y_train, parameters)
        self._set_class_attributes(model, class_map)
        self.support_ = model.support[self._column_order].astype(np.int32)
        self.support_vectors_ = self._support_vectors(model, self._column_order)
        return self

    def _set_class_attributes(self, model, class_map):
        self._class_map = class_map
        self.classes_ = class_map.classes
        order, n_support, dual = _classes.sorted_view(model, class_map)
        self._column_order = order
        self.n_support_ = n_support.astype(np.int32)
        self.dual_coef_ = dual

    def predict(self, X):
        """Class of each row, as tevra-predict gives it."""
        raw = self._raw_predictions(X)
        return self._class_map.classes_of(raw)

    def decision_function(self, X):
        """Decision values in classes_ order.

        Two classes: one value per sample, positive for classes_[1]. More
        classes, kbb and spoc: one value per class. More classes, c_svc: the
        votes of one-against-one plus a fraction below 1 that breaks ties as
        predict does (for the class that came first in y).
        """
        check_is_fitted(self, "_model")
        X = self._check_X(X, reset=False)
        raw = self._model.decision_values(_data.samples(X, self._model.kernel_type == 4))
        return _classes.decision_view(self._model, self._class_map, raw)

    def save_model(self, path):
        check_is_fitted(self, "_model")
        if not self._class_map.integer:
            raise ValueError(
                "the model file holds integer class labels; this model's classes are "
                f"{list(self.classes_)!r}: pickle the estimator instead"
            )
        super().save_model(path)

    save_model.__doc__ = _TevraEstimator.save_model.__doc__


class SVR(RegressorMixin, _TevraEstimator):
    """Bound-constrained support vector regression (epsilon-insensitive loss).

    Parameters as SVC's; epsilon is the width of the insensitive tube.
    algorithm=1 (dual coordinate descent) takes the linear kernel only.
    """

    _regression = True

    def __init__(
        self,
        kernel="rbf",
        C=1.0,
        epsilon=0.1,
        gamma=0.0,
        degree=3,
        coef0=0.0,
        tol=1e-3,
        cache_size=100.0,
        shrinking=True,
        qpsize=10,
        algorithm=0,
        Cbegin=1.0,
        Cstep=2.0,
        verbose=False,
    ):
        self.kernel = kernel
        self.C = C
        self.epsilon = epsilon
        self.gamma = gamma
        self.degree = degree
        self.coef0 = coef0
        self.tol = tol
        self.cache_size = cache_size
        self.shrinking = shrinking
        self.qpsize = qpsize
        self.algorithm = algorithm
        self.Cbegin = Cbegin
        self.Cstep = Cstep
        self.verbose = verbose

    def fit(self, X, y):
        """Trains on X (dense or sparse) and real targets y."""
        parameters = self._core_parameters(SVM_TYPES["epsilon_svr"])
        parameters["p"] = _real("epsilon", self.epsilon)
        X, y = self._validate_data(
            X, y, accept_sparse="csr", dtype=np.float64, order="C", y_numeric=True
        )
        self._check_training_kernel(X)
        model = self._train(X, y, parameters)
        self._set_model_attributes(model)
        self.support_ = model.support.astype(np.int32)
        self.support_vectors_ = self._support_vectors(model, np.arange(model.total_sv))
        return self

    def _set_model_attributes(self, model):
        self.n_support_ = np.array([model.total_sv], dtype=np.int32)
        self.dual_coef_ = model.coefficients

    def predict(self, X):
        """Regression value of each row, as tevra-predict gives it."""
        return self._raw_predictions(X)
