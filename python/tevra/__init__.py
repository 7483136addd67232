"""tevra: support vector machines for sparse data, with scikit-learn estimators.

SVC and SVR train tevra's bound-constrained formulations from dense numpy
arrays or scipy.sparse matrices; save_model and load_model use the model
file format of tevra-train and tevra-predict. The tevra-grid command runs a
cross-validated parameter search on Dask (tevra.grid).
"""
from .estimators import SVC, SVR
from .model_file import load_model

__version__ = "0.1.0"
__all__ = ["SVC", "SVR", "load_model"]
