"""vrnmath.minimize: the minimizer on Python callables and NumPy arrays."""

import inspect
import math
import numbers

import numpy as np

from . import _vrnmath
from ._result import OptimizeResult

#: The methods by name; the numbers are the engine's.
METHODS = {"line-search": 1, "dogleg": 2, "hook": 3, "cg": 4}
_METHOD_ALIASES = {"line_search": 1, "linesearch": 1, "double-dogleg": 2, "more-hebden": 3,
                   "conjugate-gradient": 4}
_DRIVERS = {"engine": 0, "tool": 1, "step": 2}
# Finite-difference requests in SciPy's spelling: the engine's own differences serve them.
_FD_REQUESTS = ("2-point", "3-point", "cs")

#: status of the result, SciPy style (0 is success); code keeps the engine's own number.
STATUS_TEXT = {
    0: "converged",
    1: "iteration limit reached",
    2: "the run could not make progress",
    3: "non-finite objective value",
    99: "stopped by the callback",
}


def method_number(method):
    """The engine's number (1 to 4) of a method given by name or number."""
    if isinstance(method, str):
        key = method.strip().lower()
        number = METHODS.get(key) or _METHOD_ALIASES.get(key)
        if number:
            return number
    elif isinstance(method, numbers.Integral) and not isinstance(method, bool) and 1 <= method <= 4:
        return int(method)
    raise ValueError("method must be one of 'line-search', 'dogleg', 'hook', 'cg' or a number from 1 to 4, "
                     "got %r" % (method,))


def _point(x0):
    try:
        x = np.array(x0, dtype=float)
    except (TypeError, ValueError) as e:
        raise ValueError("x0 must be an array of real numbers: %s" % e) from None
    if x.ndim == 0:
        x = x.reshape(1)
    if x.ndim != 1:
        raise ValueError("x0 must be one-dimensional, got shape %s" % (x.shape,))
    if x.size == 0:
        raise ValueError("x0 has no parameters")
    bad = np.flatnonzero(~np.isfinite(x))
    if bad.size:
        raise ValueError("x0 must be finite; x0[%d] is %r" % (bad[0], float(x[bad[0]])))
    return x


def _positive(name, value, upper=None):
    if value is None:
        return None
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise ValueError("%s must be a real number, got %r" % (name, value))
    value = float(value)
    if not math.isfinite(value) or value <= 0.0 or (upper is not None and value >= upper):
        if upper is None:
            raise ValueError("%s must be finite and greater than 0, got %r" % (name, value))
        raise ValueError("%s must lie between 0 and %g (both excluded), got %r" % (name, upper, value))
    return value


def _count(name, value, low):
    if isinstance(value, bool) or not isinstance(value, numbers.Integral) or value < low:
        raise ValueError("%s must be an integer of at least %d, got %r" % (name, low, value))
    return int(value)


def _callback_wrapper(callback):
    """The callback in the engine's form (k, x, f, g) -> stop?, for SciPy's two styles:
    callback(xk), or callback(intermediate_result) when it names that parameter."""
    if callback is None:
        return None
    if not callable(callback):
        raise ValueError("callback must be callable, got %r" % (callback,))
    try:
        wants_result = "intermediate_result" in inspect.signature(callback).parameters
    except (TypeError, ValueError):
        wants_result = False

    def call(k, x, f, g):
        try:
            if wants_result:
                answer = callback(intermediate_result=OptimizeResult(x=x, fun=f, jac=g, nit=k))
            else:
                answer = callback(x)
        except StopIteration:
            return True
        return answer is True or (isinstance(answer, np.bool_) and bool(answer))

    return call


def _log_target(log):
    """(capture, row sink) for the log argument."""
    if log is None or log is False:
        return False, None
    if log is True:
        return True, None
    if callable(log):
        return True, log
    if hasattr(log, "write"):
        return True, lambda row: log.write(row + "\n")
    raise ValueError("log must be True, a callable taking each row, or a file-like object, got %r" % (log,))


def _verdict(raw, maxiter, gradient_check):
    """status, success and warnings of a finished run."""
    code = raw["code"]
    warnings = []
    f = raw["fun"]
    finite = math.isfinite(f)
    if code in (1, 2):
        status = 0
        if code == 2:
            warnings.append("stopped because successive iterates agree within xtol; the gradient is not "
                            "necessarily small there")
    elif code == 7:
        status = 99
    elif code == 4 or (code == 0 and raw["nit"] >= maxiter):
        status = 1
    else:
        status = 2
    if not finite:
        status = 3
        warnings.append("the objective value at the final point is not finite")
    if gradient_check is False:
        if status == 0:
            status = 2
        warnings.append("the analytic gradient disagrees with finite differences at x0 (see the log)")
    return status, status == 0, warnings


def minimize(fun, x0, args=(), jac=None, hess=None, method="hook", *, typical_x=None, typical_f=1.0,
             gtol=None, xtol=None, maxiter=10000, secant=False, check_gradient=False, callback=None,
             log=None, check_hessian=False, max_step=None, trust_radius=None, ndigits=None, cg_tol=None,
             driver="engine"):
    """Minimizes fun(x, *args) from x0 with the VRNMathTools engine.

    fun       the objective: fun(x, *args) -> float, x a 1-D NumPy array (a fresh copy each call).
              A vrnmath.ReferenceProblem runs compiled, without the interpreter.
    jac       None (the engine's finite differences; also "2-point", "3-point", "cs"),
              a callable jac(x, *args) -> array (n,), or True: fun returns (f, g).
    hess      None (finite differences of the gradient, or secant updates) or
              hess(x, *args) -> array (n, n); only its lower triangle is read.
    method    "line-search", "dogleg", "hook" (More-Hebden, the default), "cg", or 1 to 4.
    typical_x typical size of each parameter (default: the library's, from |x0|).
    typical_f typical magnitude of f (default 1).
    gtol      relative gradient tolerance (default eps^(1/3) = 4.82e-6).
    xtol      relative step tolerance (default sqrt(eps) = 1.05e-8).
    maxiter   iteration limit (default 10000).
    secant    keep the Hessian by BFGS secant updates instead of evaluating it.
    check_gradient, check_hessian
              compare the analytic derivatives with finite differences at x0; a
              mismatch makes the result unsuccessful.
    callback  called after each accepted step as callback(xk), or with
              callback(intermediate_result=OptimizeResult(x, fun, jac, nit)) when it has a
              parameter of that name; returning True or raising StopIteration stops the run
              (code 7, status 99).
    log       True keeps the status log in result.log; a callable gets each row as it is
              produced, a file-like object has each row written to it (both keep it too).
    max_step, trust_radius, ndigits, cg_tol, driver ("engine", "tool" with restarts, "step")
              the remaining engine options.

    Returns an OptimizeResult (SciPy's when SciPy is importable) with x, fun, jac (the
    gradient at x, None where the engine never evaluated it), nit, nfev, njev, nhev
    (calls of fun, of the gradient, of hess), status (0 converged, 1 iteration limit,
    2 no progress, 3 non-finite f, 99 stopped by the callback), success, message (the
    engine's text), code (the engine's termination code 0 to 7), gradient_norm
    (max |g_i|), warnings (list of str) and log (list of rows, or None).

    An exception raised by fun, jac, hess, callback or log ends the run and propagates
    unchanged; so does KeyboardInterrupt. Bad arguments raise ValueError.
    """
    if not callable(fun):
        raise ValueError("fun must be callable, got %r" % (fun,))
    x = _point(x0)
    n = x.size
    if not isinstance(args, tuple):
        args = (args,)
    number = method_number(method)
    if driver not in _DRIVERS:
        raise ValueError("driver must be 'engine', 'tool' or 'step', got %r" % (driver,))
    if driver == "step" and number == 4:
        raise ValueError("the step driver takes methods 1 to 3")

    compiled = isinstance(fun, _vrnmath.ReferenceProblem)
    if compiled and fun.n != n:
        raise ValueError("x0 must have shape (%d,) for %r, got shape (%d,)" % (fun.n, fun, n))
    compiled_jac = compiled and (jac is True or (callable(jac) and jac == fun.jac))
    compiled_hess = compiled and (hess is True or (callable(hess) and hess == fun.hess))
    jac_in_fun = False
    jac_callable = None
    if compiled_jac:
        pass
    elif jac is True:
        jac_in_fun = True
    elif jac is None or jac is False or (isinstance(jac, str) and jac in _FD_REQUESTS):
        pass
    elif callable(jac):
        jac_callable = jac
    else:
        raise ValueError("jac must be None, True or a callable, got %r" % (jac,))
    hess_callable = None
    if hess is not None and not compiled_hess:
        if not callable(hess):
            raise ValueError("hess must be None or a callable, got %r" % (hess,))
        hess_callable = hess

    if typical_x is not None:
        tx = np.array(typical_x, dtype=float).reshape(-1) if np.ndim(typical_x) <= 1 else None
        if tx is None or tx.size != n:
            raise ValueError("typical_x must have one entry per parameter (%d), got shape %s"
                             % (n, np.shape(typical_x)))
        if not np.all(np.isfinite(tx)) or np.any(tx <= 0.0):
            raise ValueError("typical_x must be finite and greater than 0, got %r" % (tx,))
        typical_x = tx
    typical_f = _positive("typical_f", typical_f)
    gtol = _positive("gtol", gtol, upper=1.0)
    xtol = _positive("xtol", xtol, upper=1.0)
    cg_tol = _positive("cg_tol", cg_tol, upper=1.0)
    max_step = _positive("max_step", max_step)
    trust_radius = _positive("trust_radius", trust_radius)
    maxiter = _count("maxiter", maxiter, 0)
    if ndigits is not None:
        ndigits = _count("ndigits", ndigits, 1)
        if ndigits > 15:
            raise ValueError("ndigits must lie between 1 and 15, got %d" % ndigits)
    has_gradient = compiled_jac or jac_in_fun or jac_callable is not None
    if check_gradient and not has_gradient:
        raise ValueError("check_gradient needs an analytic gradient (jac)")
    if check_hessian and not (compiled_hess or hess_callable is not None):
        raise ValueError("check_hessian needs an analytic Hessian (hess)")

    capture, row_sink = _log_target(log)
    raw = _vrnmath._minimize(
        fun, x, args, jac_callable, jac_in_fun, hess_callable, compiled_jac, compiled_hess, number,
        typical_x, typical_f, gtol, xtol, maxiter, bool(secant), bool(check_gradient), bool(check_hessian),
        _callback_wrapper(callback), row_sink, capture, max_step, trust_radius, ndigits, cg_tol,
        _DRIVERS[driver])

    status, success, warnings = _verdict(raw, maxiter, raw.pop("gradient_check"))
    if (compiled_hess or hess_callable is not None) and (number == 4 or secant):
        warnings.append("hess was not used (%s)" % ("the cg method uses gradients only" if number == 4
                                                      else "secant=True keeps the Hessian by updates"))
    g = raw["jac"]
    gradient_norm = float(np.max(np.abs(g))) if g is not None else math.nan
    return OptimizeResult(
        x=raw["x"], fun=raw["fun"], jac=g, nit=raw["nit"], nfev=raw["nfev"], njev=raw["njev"],
        nhev=raw["nhev"], status=status, success=success, message=raw["message"], code=raw["code"],
        gradient_norm=gradient_norm, warnings=warnings, log=raw["log"] if capture else None,
        runs=raw["runs"], method=[k for k, v in METHODS.items() if v == number][0])
