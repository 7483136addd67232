"""tevra: support vector machines with bound-constrained duals, for sparse data."""
from ._core import Model as _Model  # noqa: F401
