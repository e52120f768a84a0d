"""VRNMathTools from Python: the unconstrained minimizer (line search, double dogleg,
More-Hebden hook step, conjugate gradient) and the data utilities, on NumPy arrays.

    import vrnmath
    r = vrnmath.minimize(fun, x0, jac=grad)                # hook step by default
    r = scipy.optimize.minimize(fun, x0, jac=grad, method=vrnmath.methods.hook)
    rs = vrnmath.minimize_many(fun, starts, client=dask_client)
"""

import os as _os
import sys as _sys

from . import _buildinfo

try:
    import numpy as _numpy  # noqa: F401
except ImportError:
    # An interpreter of the same version as the build's that does not see the build's
    # NumPy (a pyenv CPython beside Debian's): look where the build interpreter found it.
    if _sys.version_info[:2] == _buildinfo.PYTHON_VERSION and _os.path.isdir(_buildinfo.NUMPY_DIR):
        _sys.path.append(_buildinfo.NUMPY_DIR)
    else:
        raise ImportError("vrnmath needs NumPy; the module was built for %s (Python %d.%d)"
                          % ((_buildinfo.PYTHON_EXECUTABLE,) + _buildinfo.PYTHON_VERSION)) from None

from . import methods, problems
from ._minimize import METHODS, minimize
from ._least_squares import least_squares
from ._least_squares import curve_fit
from ._result import OptimizeResult
from ._vrnmath import ReferenceProblem
from .batch import minimize_many
from .datautil import NULL, bracket, fit_type_curve, indirect_sort, interpolate, normal_deviates, slope

__version__ = "0.2.0"

__all__ = ["METHODS", "NULL", "OptimizeResult", "ReferenceProblem", "bracket", "curve_fit", "fit_type_curve",
           "indirect_sort", "interpolate", "least_squares", "methods", "minimize", "minimize_many", "normal_deviates",
           "problems", "slope"]
