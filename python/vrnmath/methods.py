"""The minimizer's methods as custom methods of scipy.optimize.minimize:

    import scipy.optimize as so, vrnmath
    r = so.minimize(so.rosen, x0, jac=so.rosen_der, method=vrnmath.methods.hook,
                    options={"gtol": 1e-8, "maxiter": 500})

options takes the keyword arguments of vrnmath.minimize (typical_x, typical_f, gtol,
xtol, maxiter, secant, check_gradient, log, ...), plus SciPy's disp (True prints the
status log) and tol (SciPy's tol= argument, used as gtol). bounds and constraints are
refused: the methods are unconstrained.
"""

import sys
from typing import Any, Callable, Optional, Sequence, Tuple

from ._minimize import minimize

#: A method as scipy.optimize.minimize calls it: fun, x0 and SciPy's keyword arguments,
#: returning the result of vrnmath.minimize.
CustomMethod = Callable[..., Any]

__all__ = ["line_search", "dogleg", "hook", "cg"]


def _custom(method: str, label: str) -> CustomMethod:
    def run(fun: Callable[..., Any], x0: Any, args: Tuple[Any, ...] = (), jac: Any = None, hess: Any = None,
            hessp: Optional[Callable[..., Any]] = None, bounds: Any = None, constraints: Sequence[Any] = (),
            callback: Optional[Callable[..., Any]] = None, **options: Any) -> Any:
        if bounds is not None:
            raise ValueError("vrnmath.methods.%s is unconstrained: bounds are not supported" % label)
        if constraints:
            raise ValueError("vrnmath.methods.%s is unconstrained: constraints are not supported" % label)
        if hessp is not None and hess is None:
            raise ValueError("vrnmath.methods.%s takes hess, not hessp" % label)
        options = dict(options)
        if options.pop("disp", False) and "log" not in options:
            options["log"] = sys.stdout
        tol = options.pop("tol", None)
        if tol is not None:
            options.setdefault("gtol", tol)
        return minimize(fun, x0, args=args, jac=jac, hess=hess, method=method, callback=callback, **options)

    run.__name__ = label
    run.__qualname__ = label
    run.__doc__ = "scipy.optimize.minimize custom method: vrnmath.minimize with method=%r." % method
    return run


line_search: CustomMethod = _custom("line-search", "line_search")
dogleg: CustomMethod = _custom("dogleg", "dogleg")
hook: CustomMethod = _custom("hook", "hook")
cg: CustomMethod = _custom("cg", "cg")
