"""vrnmath.least_squares and vrnmath.curve_fit: nonlinear least squares with SciPy's signatures.

    r = vrnmath.least_squares(fun, x0, jac=jac)            # hook step (Levenberg-Marquardt)
    popt, pcov = vrnmath.curve_fit(f, xdata, ydata, p0)     # as scipy.optimize.curve_fit

Both run vrn::LeastSquares: the Gauss-Newton model J^T J in the engine's Hessian slot,
scaling from the Jacobian's column norms and SciPy's ftol / xtol / gtol tests. The options
are the least-squares section of the library's option table
(``vrnmath.option_table("least_squares")``): this module gathers the keywords that were
given and hands them over; the library converts them, checks their ranges, runs the fit
and returns its one result as JSON, which becomes the OptimizeResult here (one mapping,
``_FIELDS``, names where each member of the JSON lands).
"""

from __future__ import annotations

import inspect
import json
import math
import warnings
from typing import Any, Callable, Optional, Sequence, Union

import numpy as np

from . import _vrnmath
from ._minimize import METHODS, _point
from ._result import OptimizeResult

__all__ = ["least_squares", "curve_fit", "LeastSquaresWarning"]

# SciPy's name of the Levenberg-Marquardt method is the hook step here.

# Where the members of the library's JSON land in the OptimizeResult (SciPy's names
# where SciPy has one). Keys not listed keep their name. The members of "fit" and of
# its "uncertainty" become members of the result itself.
_FIELDS = {
    "f": "cost", "gradient": "grad", "iterations": "nit", "method": "method_number",
    "status": "engine_status", "initial_f": "initial_cost", "nonfinite_evaluations": "nonfinite_fev",
    # fit
    "residuals": "fun", "jacobian": "jac", "residual_evaluations": "nfev", "jacobian_evaluations": "njev",
    "difference_evaluations": "nfev_differences", "loss_scale": "f_scale",
    # fit's status and its name are SciPy's status (the engine's is engine_status)
    "fit.status": "status", "fit.status_name": "status_name",
    # fit.uncertainty
    "computed": "uncertainty_computed",
}
# Members holding vectors of numbers (NumPy arrays in the result).
_ARRAYS = ("x", "gradient", "typical_x", "residuals", "singular_values", "standard_errors")


class LeastSquaresWarning(UserWarning):
    """A fit whose covariance is not fully defined, or that did not succeed (curve_fit)."""


def _land(out, key, value, qualified=""):
    """Puts the JSON member key (at path qualified) where _FIELDS says."""
    name = _FIELDS.get(qualified, _FIELDS.get(key, key))
    if key in _ARRAYS and isinstance(value, list):
        value = np.array(value, dtype=float)
    out[name] = value


def fit_result_from_json(text: str) -> OptimizeResult:
    """The OptimizeResult of the library's JSON for one fit; a refusal raises ValueError
    with the library's sentence."""
    raw = json.loads(text)
    if raw["outcome"] == "refused":
        raise ValueError(raw["message"])
    out = OptimizeResult()
    for key, value in raw.items():
        if key != "fit":
            _land(out, key, value)
    fit = raw["fit"]
    for key, value in fit.items():
        if key == "uncertainty":
            for k, v in value.items():
                _land(out, k, v, "fit.uncertainty." + k)
        else:
            _land(out, key, value, "fit." + key)
    n, m = out["x"].size, int(fit["m"])
    nan = math.nan

    def matrix(values, rows, cols):
        return (np.array(values, dtype=float).reshape(rows, cols) if len(values) == rows * cols
                else np.full((rows, cols), nan))

    out["jac"] = matrix(fit["jacobian"], m, n)
    u = fit["uncertainty"]
    out["covariance"] = matrix(u["covariance"], n, n)
    out["correlation"] = matrix(u["correlation"], n, n)
    if out["standard_errors"].size != n:
        out["standard_errors"] = np.full(n, nan)
    if not u["computed"]:
        out["residual_variance"] = nan
    if "hessian" in out:
        out["hessian"] = np.array(out["hessian"], dtype=float).reshape(n, n)
    out["method"] = [k for k, v in METHODS.items() if v == raw["method"]][0]
    out["active_mask"] = np.zeros(n, dtype=int)
    return out


def _keywords(x, **given):
    """The options given (not None), in the library's form."""
    options = {k: v for k, v in given.items() if v is not None}
    x_scale = options.get("x_scale")
    if isinstance(x_scale, str):
        if x_scale != "jac":
            raise ValueError("x_scale must be 'jac' or an array of positive numbers, got %r" % (x_scale,))
        del options["x_scale"]
    elif x_scale is not None:
        try:
            options["x_scale"] = np.broadcast_to(np.asarray(x_scale, dtype=float), x.shape).copy()
        except (TypeError, ValueError):
            raise ValueError("x_scale must be 'jac', a positive number or one positive number per parameter "
                             "(%d), got %r" % (x.size, x_scale)) from None
    return options


def least_squares(fun: Callable[..., Any], x0: Union[Sequence[float], np.ndarray],
                  jac: Union[None, str, Callable[..., Any]] = None, bounds: Any = None,
                  method: Union[None, str, int] = None, ftol: Optional[float] = None, xtol: Optional[float] = None,
                  gtol: Optional[float] = None, x_scale: Union[None, str, float, Sequence[float]] = None,
                  loss: Optional[str] = None, f_scale: Optional[float] = None, diff_step: Any = None,
                  tr_solver: Optional[str] = None, tr_options: Optional[dict] = None, jac_sparsity: Any = None,
                  max_nfev: Optional[int] = None, verbose: int = 0, args: tuple = (), kwargs: Optional[dict] = None,
                  *, maxiter: Optional[int] = None, trust_radius: Optional[float] = None,
                  success_tol: Optional[float] = None, fallbacks: Optional[bool] = None,
                  absolute_sigma: Optional[bool] = None, threads: Optional[int] = None) -> OptimizeResult:
    """Minimize ``1/2 sum rho(fun(x)_i**2)`` over x, as ``scipy.optimize.least_squares`` does.

    The arguments follow SciPy's order, so a call written for SciPy runs unchanged where
    it uses what is supported here. Every option left None takes the library's default;
    ``vrnmath.option_table("least_squares")`` lists each one's range and default.

    Parameters
    ----------
    fun : callable
        The residuals, ``fun(x, *args, **kwargs) -> array (m,)``; x is a 1-D array. m
        must be the same at every call.
    x0 : array_like, shape (n,)
        The start point; it must be finite and the residuals finite there.
    jac : callable or str, optional
        A callable ``jac(x, *args, **kwargs) -> array (m, n)``, or ``'2-point'`` (forward)
        or ``'3-point'`` (central) differences of fun. Default: None, ``'2-point'``.
    bounds : optional
        Not supported: only None or infinite bounds are accepted (the fit is
        unconstrained). Default: None.
    method : str or int, optional
        ``'hook'`` (also ``'lm'`` or 3): the hook step, a Levenberg-Marquardt step on the
        Gauss-Newton model; ``'dogleg'`` (or 2): the double dogleg. Default: None, the hook
        step.
    ftol, xtol, gtol : float, optional
        SciPy's stopping tests, each at least 0 and below 1 (values below the machine
        epsilon count as it): the relative reduction of the cost, the scaled step
        against the scaled x, the largest cosine between the residuals and a column of
        the Jacobian. Default: None, 1e-8 each. None is the default here, not SciPy's
        "test off": give 0 for the strictest test (the machine epsilon).
    x_scale : 'jac', float or array_like, optional
        ``'jac'``: scale by the Jacobian's column norms (the largest seen so far); or
        positive scales, one per parameter (a number counts for all). Default: None,
        ``'jac'``.
    loss : str, optional
        ``'linear'``, ``'soft_l1'``, ``'huber'``, ``'cauchy'`` or ``'arctan'``. Default:
        None, ``'linear'``.
    f_scale : float, optional
        Residuals below it count as inliers of a robust loss. Default: None, 1.
    diff_step, tr_solver, tr_options, jac_sparsity : optional
        Not supported: diff_step and jac_sparsity must be None, tr_solver None or
        ``'exact'`` and tr_options empty (the steps are solved on the dense J^T J).
    max_nfev : int, optional
        Limit on the residual evaluations outside difference Jacobians of each fit (1 to
        1e9). Default: None, 100 (n + 1).
    verbose : int, optional
        Accepted for SciPy's sake and not used. Default: 0.
    args, kwargs : tuple and dict, optional
        Extra arguments of fun and jac. Default: ``()`` and None (none).
    maxiter : int, optional
        Iteration limit of each fit. Default: None, 10000.
    trust_radius : float, optional
        The initial trust radius. Default: None, chosen by the method.
    success_tol : float, optional
        Tolerance t of the success verdict: the Gauss-Newton step from the end point may
        lower the cost by at most ``t**2 max(cost, eps cost(x0))``. Default: None,
        ``ftol**(1/4)`` (0.01 with the default ftol).
    fallbacks : bool, optional
        When a fit fails, fit again from x0 with the other method, then with the hook
        step and typical sizes |x0|; the first success is the result. Default: None, on.
    absolute_sigma : bool, optional
        The residuals are already divided by absolute standard deviations: the covariance
        is ``(J^T J)^-1``, not scaled by the residual variance. Default: None, off.
    threads : int, optional
        Threads that evaluate the columns of a difference Jacobian at the same time
        (fun must then allow concurrent calls; the result is that of one thread).
        Default: None, 1.

    Returns
    -------
    OptimizeResult
        SciPy's fields ``x, cost, fun`` (the residuals), ``jac`` (m, n), ``grad``
        (``J^T rho'(r) r``), ``optimality``, ``active_mask`` (zeros), ``nfev``, ``njev``,
        ``status`` (SciPy's: 1 gtol, 2 ftol, 3 xtol, 4 ftol and xtol, 0 evaluation or
        iteration limit; 5 no lower point and 6 the engine stopped otherwise),
        ``message`` and ``success``; the verdict's ``outcome``, ``warnings`` and
        ``verdict``; ``nit``, ``status_name`` ("gtol", ...), ``nfev_differences``,
        ``attempts`` and ``approach`` (fallback fits), ``loss``, ``f_scale``, ``m``; the
        uncertainties at x: ``covariance``, ``standard_errors``, ``correlation``,
        ``dof``, ``residual_variance``, ``rank``, ``condition_number``,
        ``undetermined`` (parameters the data cannot determine), ``singular_values``,
        ``absolute_sigma``, ``uncertainty_computed``; and the rest of the library's
        result (``code`` and ``engine_status`` of the engine, ``evaluations``,
        ``python_calls``, ``settings``, ``time_s``, ...).

    Raises
    ------
    ValueError
        Before anything runs, for an argument or option that is refused (the library's
        sentence names the keyword), and for residuals that are not finite at x0.

    Notes
    -----
    ``success`` is the library's verdict, not only a stopping test: the Gauss-Newton
    model at x is positive definite and its step would lower the cost by little. A fit
    whose Jacobian is rank deficient has outcome ``'not-unique'`` and a warning that
    names the parameters the data cannot determine. An exception raised by fun or jac
    ends the fit and propagates unchanged.
    """
    del verbose
    if tr_solver not in (None, "exact"):
        raise ValueError("tr_solver must be None or 'exact' (the steps are solved densely), got %r" % (tr_solver,))
    if tr_options:
        raise ValueError("tr_options are not supported, got %r" % (tr_options,))
    if jac_sparsity is not None:
        raise ValueError("jac_sparsity is not supported: the Jacobian is dense")
    if diff_step is not None:
        raise ValueError("diff_step is not supported: the difference steps are sqrt(eps) or eps^(1/3) "
                         "times max(|x_j|, |x0_j|) (1 where x0_j is 0)")
    if not callable(fun):
        raise ValueError("fun must be callable, got %r" % (fun,))
    x = _point(x0)
    if bounds is not None:
        lo, hi = bounds
        if np.any(np.asarray(lo, dtype=float) > -np.inf) or np.any(np.asarray(hi, dtype=float) < np.inf):
            raise ValueError("bounds are not supported: vrnmath.least_squares is unconstrained")
    kwargs = {} if kwargs is None else dict(kwargs)
    args = tuple(args) if isinstance(args, (tuple, list)) else (args,)
    options = _keywords(x, method=method, ftol=ftol, xtol=xtol, gtol=gtol, x_scale=x_scale, loss=loss,
                        f_scale=f_scale, max_nfev=max_nfev, maxiter=maxiter, trust_radius=trust_radius,
                        success_tol=success_tol, fallbacks=fallbacks, absolute_sigma=absolute_sigma,
                        threads=threads)

    def residual(p):
        return np.atleast_1d(np.asarray(fun(p, *args, **kwargs), dtype=float))

    jacobian = None
    if callable(jac):
        def jacobian(p):
            return np.asarray(jac(p, *args, **kwargs), dtype=float)
    elif jac is not None:
        options["jac"] = jac  # '2-point' / '3-point'; the library refuses anything else
    return fit_result_from_json(_vrnmath._least_squares(residual, jacobian, x, options))


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


def curve_fit(f: Callable[..., Any], xdata: Any, ydata: Any, p0: Optional[Sequence[float]] = None,
              sigma: Optional[Sequence[float]] = None, absolute_sigma: bool = False, check_finite: bool = True,
              method: Union[None, str, int] = None, jac: Union[None, str, Callable[..., Any]] = None,
              full_output: bool = False, **kwargs: Any):
    """Fit ``f(xdata, *p)`` to ydata, as ``scipy.optimize.curve_fit`` does.

    Parameters
    ----------
    f : callable
        The model, ``f(xdata, p_1, ..., p_n) -> array`` of ydata's size.
    xdata : array_like or object
        The independent variable, handed to f as it is (a list or tuple as an array).
    ydata : array_like
        The data, m values.
    p0 : array_like, optional
        The start point. Default: None, ones for as many parameters as f has after xdata.
    sigma : array_like, optional
        Standard deviations of ydata, one per value: the residuals are divided by them.
        Default: None (all 1).
    absolute_sigma : bool, optional
        With True the covariance is ``(J^T J)^-1``, else ``s^2 (J^T J)^-1`` with
        ``s^2 = 2 cost / (m - n)``. Default: False.
    check_finite : bool, optional
        Refuse xdata and ydata that are not finite. Default: True.
    method : str or int, optional
        ``'hook'`` (also ``'lm'``) or ``'dogleg'``. Default: None, the hook step.
    jac : callable or str, optional
        ``jac(xdata, *p) -> array (m, n)``, ``'2-point'`` or ``'3-point'``. Default: None,
        ``'2-point'``.
    full_output : bool, optional
        Also return the whole result. Default: False.
    **kwargs
        Further options of ``vrnmath.least_squares`` (ftol, max_nfev, loss, ...).

    Returns
    -------
    popt : ndarray
        The fitted parameters.
    pcov : ndarray
        Their covariance; a parameter the data cannot determine has NaN rows and
        columns, and with no more data than parameters (and relative sigma) all of it is
        NaN, both with a LeastSquaresWarning.
    infodict, mesg, ier
        With full_output: the whole result of least_squares (with ``names``, the
        parameter names read from f), its message and its status.

    Raises
    ------
    RuntimeError
        When the fit does not succeed ("Optimal parameters not found: ..."), as SciPy
        does; a converged fit whose only fault is an undetermined parameter returns.
    ValueError
        For refused arguments or options.
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

    jacobian = jac
    if callable(jac):
        def jacobian(p):
            j = np.asarray(jac(xdata, *p), dtype=float).reshape(ydata.size, -1)
            return j if weights is None else j * weights[:, None]

    options = dict(kwargs)
    if method is not None:
        options["method"] = method
    res = least_squares(residual, p0, jac=jacobian, absolute_sigma=bool(absolute_sigma), **options)
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
