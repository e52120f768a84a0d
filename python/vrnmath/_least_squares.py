"""vrnmath.least_squares and vrnmath.curve_fit: nonlinear least squares with SciPy's signatures.

    r = vrnmath.least_squares(fun, x0, jac=jac)            # hook step (Levenberg-Marquardt)
    popt, pcov = vrnmath.curve_fit(f, xdata, ydata, p0)     # as scipy.optimize.curve_fit

Both run vrn::LeastSquares: the Gauss-Newton model J^T J in the engine's Hessian slot,
scaling from the Jacobian's column norms and SciPy's ftol / xtol / gtol tests. The result
has SciPy's fields (x, cost, fun, jac, grad, optimality, active_mask, nfev, njev, status,
message, success) and the uncertainties at x (covariance, standard_errors, correlation,
dof, residual_variance, rank, undetermined) and the warnings of the verdict.
"""

import inspect
import math
import numbers
import warnings

import numpy as np

from . import _vrnmath
from ._result import OptimizeResult

__all__ = ["least_squares", "curve_fit", "LeastSquaresWarning"]

_METHODS = {"hook": 3, "lm": 3, "dogleg": 2}
_LOSSES = ("linear", "soft_l1", "huber", "cauchy", "arctan")
# Upper bound on max_nfev (the library's own limit).
_MAX_NFEV = 10**9


class LeastSquaresWarning(UserWarning):
    """A fit whose covariance is not fully defined, or that did not succeed (curve_fit)."""


def _vector(value, name):
    try:
        x = np.array(value, dtype=float)
    except (TypeError, ValueError) as e:
        raise ValueError("%s must be an array of real numbers: %s" % (name, e)) from None
    if x.ndim == 0:
        x = x.reshape(1)
    if x.ndim != 1:
        raise ValueError("%s must be one-dimensional, got shape %s" % (name, x.shape))
    return x


def _tolerance(value, name):
    if value is None:
        return 0.0
    if not isinstance(value, numbers.Real) or isinstance(value, bool) or not (0.0 <= float(value) < 1.0):
        raise ValueError("%s must be a number at least 0 and below 1, got %r" % (name, value))
    return float(value)


def least_squares(fun, x0, jac="2-point", bounds=None, method="hook", ftol=1e-8, xtol=1e-8, gtol=1e-8,
                  x_scale="jac", loss="linear", f_scale=1.0, diff_step=None, tr_solver=None, tr_options=None,
                  jac_sparsity=None, max_nfev=None, verbose=0, args=(), kwargs=None, *, threads=1,
                  fallbacks=True, _absolute_sigma=False):
    """Minimizes 1/2 sum rho(fun(x)_i^2) over x, as scipy.optimize.least_squares does.

    fun(x, *args, **kwargs) returns the m residuals; jac is a callable returning the
    (m, n) Jacobian, or '2-point' / '3-point' (None means '2-point') for differences,
    whose columns run on ``threads`` threads (fun must then allow concurrent calls).
    method 'hook' (also 'lm') is the hook step, a Levenberg-Marquardt method; 'dogleg'
    the double dogleg. x_scale 'jac' scales by the Jacobian's column norms (the largest
    seen so far), or give one positive scale per parameter. loss is 'linear',
    'soft_l1', 'huber', 'cauchy' or 'arctan' with the scale f_scale. max_nfev limits
    the residual evaluations outside difference Jacobians (default 100 (n + 1)) of each
    fit: with fallbacks (the default) a failed fit is tried again from x0 with the
    other method, then with the hook step and typical sizes |x0|.
    The arguments follow SciPy's order. bounds, diff_step and jac_sparsity are not
    supported (bounds must be None or infinite); tr_solver may be None or 'exact' and
    tr_options empty (the trust-region steps are the engine's, on the dense J^T J).
    """
    del verbose
    if tr_solver not in (None, "exact"):
        raise ValueError("tr_solver must be None or 'exact' (the steps are solved densely), got %r" % (tr_solver,))
    if tr_options:
        raise ValueError("tr_options are not supported, got %r" % (tr_options,))
    if jac_sparsity is not None:
        raise ValueError("jac_sparsity is not supported: the Jacobian is dense")
    kwargs = {} if kwargs is None else dict(kwargs)
    args = tuple(args)
    x = _vector(x0, "x0")
    if x.size == 0:
        raise ValueError("x0 has no parameters")
    if not np.all(np.isfinite(x)):
        bad = int(np.flatnonzero(~np.isfinite(x))[0])
        raise ValueError("x0 must be finite; x0[%d] is %r" % (bad, float(x[bad])))
    if bounds is not None:
        lo, hi = bounds
        if np.any(np.asarray(lo, dtype=float) > -np.inf) or np.any(np.asarray(hi, dtype=float) < np.inf):
            raise ValueError("bounds are not supported: vrnmath.least_squares is unconstrained")
    if diff_step is not None:
        raise ValueError("diff_step is not supported: the difference steps are sqrt(eps) or eps^(1/3) "
                         "times max(|x_j|, |x0_j|) (1 where x0_j is 0)")
    key = method.strip().lower() if isinstance(method, str) else method
    if key not in _METHODS:
        raise ValueError("method must be 'hook' (or 'lm') or 'dogleg', got %r" % (method,))
    if loss not in _LOSSES:
        raise ValueError("loss must be one of %s, got %r" % (", ".join(repr(l) for l in _LOSSES), loss))
    settings = {"method": _METHODS[key], "ftol": _tolerance(ftol, "ftol"), "xtol": _tolerance(xtol, "xtol"),
                "gtol": _tolerance(gtol, "gtol"), "loss": loss}
    if not isinstance(f_scale, numbers.Real) or not (float(f_scale) > 0.0 and math.isfinite(f_scale)):
        raise ValueError("f_scale must be a finite number above 0, got %r" % (f_scale,))
    settings["f_scale"] = float(f_scale)
    if max_nfev is not None:
        if not isinstance(max_nfev, numbers.Integral) or isinstance(max_nfev, bool) or not 1 <= max_nfev <= _MAX_NFEV:
            raise ValueError("max_nfev must be an integer from 1 to %d, got %r" % (_MAX_NFEV, max_nfev))
        settings["max_nfev"] = int(max_nfev)
    if isinstance(x_scale, str):
        if x_scale != "jac":
            raise ValueError("x_scale must be 'jac' or an array of positive numbers, got %r" % (x_scale,))
    else:
        scale = np.broadcast_to(np.array(x_scale, dtype=float), x.shape).astype(float)
        if not np.all(np.isfinite(scale) & (scale > 0)):
            raise ValueError("x_scale must hold finite numbers above 0")
        settings["x_scale"] = [float(s) for s in scale]
    if not isinstance(threads, numbers.Integral) or isinstance(threads, bool) or not 1 <= threads <= 256:
        raise ValueError("threads must be an integer from 1 to 256, got %r" % (threads,))
    settings["threads"] = int(threads)
    settings["absolute_sigma"] = bool(_absolute_sigma)
    settings["fallbacks"] = bool(fallbacks)

    def residual(p):
        return np.atleast_1d(np.asarray(fun(p, *args, **kwargs), dtype=float))

    jacobian = None
    if callable(jac):
        def jacobian(p):
            return np.asarray(jac(p, *args, **kwargs), dtype=float)
    elif jac is None or jac in ("2-point", "3-point"):
        settings["jac"] = jac or "2-point"
    else:
        raise ValueError("jac must be a callable, '2-point' or '3-point', got %r" % (jac,))

    return _run(residual, jacobian, x, settings)


def _run(residual, jacobian, x, settings):
    d = _vrnmath._least_squares(residual, jacobian, x, settings)
    if d["status"] == -1:
        raise ValueError(d["message"])
    r = OptimizeResult(d)
    r["active_mask"] = np.zeros(r["x"].shape, dtype=int)
    return r


def _parameter_count(f):
    try:
        sig = inspect.signature(f)
    except (TypeError, ValueError):
        raise ValueError("p0 is needed: the number of parameters cannot be read from f") from None
    params = [p for p in sig.parameters.values()
              if p.kind in (p.POSITIONAL_ONLY, p.POSITIONAL_OR_KEYWORD)]
    if any(p.kind == p.VAR_POSITIONAL for p in sig.parameters.values()) or len(params) < 2:
        raise ValueError("p0 is needed: the number of parameters cannot be read from f")
    return len(params) - 1, [p.name for p in params[1:]]


def _names(f, n):
    try:
        count, names = _parameter_count(f)
        if count == n:
            return names
    except ValueError:
        pass
    return ["p[%d]" % i for i in range(n)]


def curve_fit(f, xdata, ydata, p0=None, sigma=None, absolute_sigma=False, check_finite=True, method=None,
              jac=None, full_output=False, **kwargs):
    """Fits f(xdata, *p) to ydata, as scipy.optimize.curve_fit does: returns popt, pcov.

    sigma: standard deviations of ydata (a vector; the residuals are divided by it).
    With absolute_sigma the covariance is (J^T J)^-1, otherwise s^2 (J^T J)^-1 with
    s^2 = 2 cost / (m - n). A parameter the data cannot determine gets NaN rows and
    columns in pcov and a LeastSquaresWarning that names it. An unsuccessful fit raises
    RuntimeError, as SciPy does. method may be None, 'hook' (also 'lm') or 'dogleg';
    further keyword arguments go to least_squares. full_output=True returns
    popt, pcov, infodict (the whole result), mesg, ier.
    """
    if p0 is None:
        n, names = _parameter_count(f)
        p0 = np.ones(n)
    else:
        p0 = _vector(p0, "p0")
        names = _names(f, p0.size)
    ydata = np.asarray(ydata, dtype=float)
    if check_finite:
        xdata = np.asarray(xdata, dtype=float)
        if not (np.all(np.isfinite(ydata)) and np.all(np.isfinite(xdata))):
            raise ValueError("xdata and ydata must be finite (check_finite=True)")
    elif isinstance(xdata, (list, tuple)):
        xdata = np.asarray(xdata)
    ydata = ydata.ravel()
    if ydata.size < np.size(p0):
        raise ValueError("fewer data (%d) than parameters (%d)" % (ydata.size, np.size(p0)))
    weights = None
    if sigma is not None:
        s = np.asarray(sigma, dtype=float)
        if s.ndim != 1 or s.size != ydata.size:
            raise ValueError("sigma must be a vector of %d standard deviations" % ydata.size)
        if not np.all(np.isfinite(s) & (s > 0)):
            raise ValueError("sigma must hold finite numbers above 0")
        weights = 1.0 / s

    def residual(p):
        r = np.asarray(f(xdata, *p), dtype=float).ravel() - ydata
        return r if weights is None else r * weights

    jacobian = "2-point"
    if callable(jac):
        def jacobian(p):
            j = np.asarray(jac(xdata, *p), dtype=float).reshape(ydata.size, -1)
            return j if weights is None else j * weights[:, None]
    elif jac is not None:
        jacobian = jac

    options = dict(kwargs)
    if method is not None:
        options["method"] = method
    res = least_squares(residual, p0, jac=jacobian, _absolute_sigma=absolute_sigma, **options)
    # A converged fit whose only fault is a parameter the data cannot determine returns,
    # with the warning below that names it.
    converged_but_undetermined = bool(res.undetermined) and res.status in (1, 2, 3, 4)
    if not res.success and not converged_but_undetermined:
        raise RuntimeError("Optimal parameters not found: " + res.message +
                           ("" if not res.warnings else " (" + "; ".join(res.warnings) + ")"))
    pcov = np.array(res.covariance)
    if res.undetermined:
        bad = [names[i] for i in res.undetermined]
        warnings.warn("the data cannot determine %s: their covariance is not defined (NaN); fix some of them "
                      "or reparameterize the model" % " and ".join(bad), LeastSquaresWarning, stacklevel=2)
    elif res.dof <= 0 and not absolute_sigma:
        warnings.warn("there are no more data than parameters: the covariance is not defined (NaN)",
                      LeastSquaresWarning, stacklevel=2)
        pcov = np.full_like(pcov, np.nan)
    res["names"] = names
    if full_output:
        return res.x, pcov, res, res.message, res.status
    return res.x, pcov
