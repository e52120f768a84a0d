"""VRNMathTools from Python: the unconstrained minimizer (line search, double dogleg,
More-Hebden hook step, conjugate gradient) and the data utilities, on NumPy arrays.

    import vrnmath
    r = vrnmath.minimize(fun, x0, jac=grad)                # hook step by default
    r = scipy.optimize.minimize(fun, x0, jac=grad, method=vrnmath.methods.hook)
    rs = vrnmath.minimize_many(fun, starts, client=dask_client)
    r = vrnmath.least_squares(residuals, x0, jac=jacobian)  # SciPy's signature and fields
    rs = vrnmath.least_squares_many(residuals, starts, batch_args=data_sets)
"""

# The compiled module first: ImportError saying what is missing when it cannot be loaded.
from ._loading import load as _load

_buildinfo, _compiled = _load()

from . import methods, problems
from ._least_squares import curve_fit, least_squares
from ._minimize import METHODS, minimize, option_table
from ._result import OptimizeResult
from ._vrnmath import ReferenceProblem
from .batch import least_squares_many, minimize_many
from .datautil import NULL, bracket, fit_type_curve, indirect_sort, interpolate, normal_deviates, slope

__version__ = _buildinfo.VERSION

__all__ = ["METHODS", "NULL", "OptimizeResult", "ReferenceProblem", "bracket", "curve_fit", "fit_type_curve",
           "indirect_sort", "interpolate", "least_squares", "least_squares_many", "methods", "minimize",
           "minimize_many", "option_table", "normal_deviates", "problems", "slope"]
