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

from ._minimize import minimize

__all__ = ["line_search", "dogleg", "hook", "cg"]


def _custom(method, label):
    def run(fun, x0, args=(), jac=None, hess=None, hessp=None, bounds=None, constraints=(), callback=None,
            **options):
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


line_search = _custom("line-search", "line_search")
dogleg = _custom("dogleg", "dogleg")
hook = _custom("hook", "hook")
cg = _custom("cg", "cg")
