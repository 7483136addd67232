"""scikit-learn's estimator checks, for every formulation.

A check that a formulation cannot pass is skipped by name, with its reason,
in tevra/estimators.py (_FORMULATION_CHECKS). No sample-weight check is
generated: fit has no sample_weight, since the dual has no per-sample
weights.
"""
from sklearn.utils.estimator_checks import parametrize_with_checks

import tevra


@parametrize_with_checks(
    [
        tevra.SVC(),
        tevra.SVC(svm_type="kbb"),
        tevra.SVC(svm_type="spoc"),
        tevra.SVC(svm_type="spoc_l2"),
        tevra.SVR(),
    ]
)
def test_scikit_learn_estimator_checks(estimator, check):
    check(estimator)
