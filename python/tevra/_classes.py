"""Class labels: scikit-learn's order outside, tevra's integer labels inside.

tevra trains with integer labels and numbers the classes in order of first
appearance; scikit-learn lists classes_ sorted. Integer-valued labels that
fit a 32-bit int are handed to tevra as they are, so that the model file
holds the user's labels; any other labels (strings, say) are handed over as
their position in classes_.

The arrays scikit-learn users read (n_support_, support_, dual_coef_,
decision_function) are reordered from the model's class order into
classes_ order: support vectors grouped by class in classes_ order, and
for c_svc and kbb the row of the other class counted in classes_ order, with
c_svc's coefficients signed so that the earlier class of each pair in
classes_ is the positive side.
"""
import numpy as np
from sklearn.utils.class_weight import compute_class_weight
from sklearn.utils.multiclass import check_classification_targets

_INT32 = np.iinfo(np.int32)


class ClassMap:
    """classes_ and the tevra label of each, both ascending."""

    def __init__(self, classes, tevra_labels):
        self.classes = classes
        self.tevra_labels = np.asarray(tevra_labels, dtype=np.int64)

    @classmethod
    def from_targets(cls, y):
        """The map of training targets, and the labels to train with."""
        check_classification_targets(y)
        classes, codes = np.unique(y, return_inverse=True)
        if classes.dtype.kind in "biuf" and _INT32.min <= classes.min() and classes.max() <= _INT32.max:
            return cls(classes, classes.astype(np.int64)), np.asarray(y, dtype=np.float64)
        return cls(classes, np.arange(len(classes))), codes.astype(np.float64)

    @classmethod
    def from_model_labels(cls, labels):
        labels = np.sort(np.asarray(labels, dtype=np.int64))
        return cls(labels, labels)

    @property
    def integer(self):
        """Whether the model file can hold the classes as its labels."""
        return self.classes.dtype.kind in "biuf"

    def weights(self, class_weight, y):
        """tevra's (label, factor) weight entries for a class_weight."""
        if class_weight is None:
            return []
        if isinstance(class_weight, dict):
            unknown = [label for label in class_weight if label not in set(self.classes.tolist())]
            if unknown:
                raise ValueError(f"class_weight names labels that are not classes of y: {unknown}")
            factors = [class_weight.get(c, 1.0) for c in self.classes.tolist()]
        else:
            factors = compute_class_weight(class_weight, classes=self.classes, y=y)
        return [(int(t), float(f)) for t, f in zip(self.tevra_labels, factors) if f != 1.0]

    def classes_of(self, tevra_labels):
        """classes_ entries of predicted tevra labels."""
        return self.classes[self.positions(tevra_labels)]

    def positions(self, tevra_labels):
        """Index in classes_ of each tevra label."""
        return np.searchsorted(self.tevra_labels, np.asarray(tevra_labels, dtype=np.int64))


def sorted_view(model, class_map):
    """(column order, n_support_, dual_coef_) in classes_ order."""
    model_labels = model.labels
    k = len(model_labels)
    position = class_map.positions(model_labels)  # model class -> classes_ index
    by_position = np.argsort(position)  # classes_ index -> model class
    nr_sv = model.nr_sv
    starts = np.concatenate([[0], np.cumsum(nr_sv)])
    order = np.concatenate(
        [np.arange(starts[t], starts[t + 1]) for t in by_position] + [np.zeros(0, dtype=np.int64)]
    ).astype(np.int64)
    raw = model.coefficients
    svm_type = model.svm_type
    if svm_type in (2, 4):  # spoc, spoc_l2: one row per class
        dual = np.empty_like(raw)
        dual[position] = raw
        return order, nr_sv[by_position], dual[:, order]
    dual = np.zeros_like(raw)
    for t in range(k):
        columns = np.arange(starts[t], starts[t + 1])
        c = position[t]
        for b in range(k):
            if b == t:
                continue
            c_other = position[b]
            row = c_other if c_other < c else c_other - 1
            values = raw[b if b < t else b - 1, columns]
            if svm_type == 0 and (t < b) != (c < c_other):
                values = -values
            dual[row, columns] = values
    return order, nr_sv[by_position], dual[:, order]


def decision_view(model, class_map, raw):
    """decision_function in classes_ order from the model's decision values."""
    labels = model.labels
    k = len(labels)
    position = class_map.positions(labels)
    if model.svm_type == 0:
        if k == 2:
            # The pair sum is positive for the model's first class.
            return raw[:, 0] if position[0] == 1 else -raw[:, 0]
        # Votes per class, as prediction counts them; a tie goes to the class
        # the model saw first, which the fraction added here reproduces.
        votes = np.zeros((raw.shape[0], k))
        pair = 0
        for i in range(k):
            for j in range(i + 1, k):
                positive = raw[:, pair] > 0
                votes[:, position[i]] += positive
                votes[:, position[j]] += ~positive
                pair += 1
        votes[:, position] += (k - 1 - np.arange(k)) / k
        return votes
    values = np.empty_like(raw)
    values[:, position] = raw
    if k == 2:
        return values[:, 1] - values[:, 0]
    return values
