"""vrnmath.minimize: the minimizer on Python callables and NumPy arrays."""

import inspect
import math
import numbers
import re

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

#: status of the result, SciPy style (0 is success, the library's verdict); code keeps the
#: engine's own number.
STATUS_TEXT = {
    0: "converged",
    1: "iteration limit reached",
    2: "stopped without a confirmed minimum",
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


# The library names options as its MinimizeOptions fields in refusals and warnings; a
# Python user reads them as this function's keywords.
_KEYWORDS = {"typicalF": "typical_f", "typicalX": "typical_x", "gradientTolerance": "gtol",
             "stepTolerance": "xtol", "maximumStep": "max_step", "trustRadius": "trust_radius",
             "numberOfDigits": "ndigits", "cgTolerance": "cg_tol", "checkGradient": "check_gradient",
             "checkHessian": "check_hessian", "itnlim": "maxiter", "expensive": "secant"}
_KEYWORD_PATTERN = re.compile(r"\b(%s)\b" % "|".join(_KEYWORDS))


def _python_names(text):
    return _KEYWORD_PATTERN.sub(lambda m: _KEYWORDS[m.group(1)], text)


def _status(raw):
    """The SciPy-style status of a finished run, in line with the library's verdict:
    0 exactly when it says success."""
    if raw["success"]:
        return 0
    if not math.isfinite(raw["fun"]):
        return 3
    code = raw["code"]
    if code == 7:
        return 99
    if code in (0, 4):
        return 1
    return 2


class _Call:
    """The checked arguments of one vrnmath.minimize call, in the binding's form."""

    def __init__(self, fun, x0, args, jac, hess, method, typical_x, typical_f, gtol, xtol, maxiter, secant,
                 check_gradient, callback, log, check_hessian, max_step, trust_radius, ndigits, cg_tol, driver,
                 threads):
        if not callable(fun):
            raise ValueError("fun must be callable, got %r" % (fun,))
        self.fun = fun
        self.x = _point(x0)
        n = self.x.size
        self.args = args if isinstance(args, tuple) else (args,)
        number = method_number(method)
        self.method = [k for k, v in METHODS.items() if v == number][0]
        if driver not in _DRIVERS:
            raise ValueError("driver must be 'engine', 'tool' or 'step', got %r" % (driver,))
        if driver == "step" and number == 4:
            raise ValueError("the step driver takes methods 1 to 3")

        self.compiled = isinstance(fun, _vrnmath.ReferenceProblem)
        if self.compiled and fun.n != n:
            raise ValueError("x0 must have shape (%d,) for %r, got shape (%d,)" % (fun.n, fun, n))
        compiled_jac = self.compiled and (jac is True or (callable(jac) and jac == fun.jac))
        compiled_hess = self.compiled and (hess is True or (callable(hess) and hess == fun.hess))
        self.jac_in_fun = False
        self.jac = None
        if compiled_jac:
            pass
        elif jac is True:
            self.jac_in_fun = True
        elif jac is None or jac is False or (isinstance(jac, str) and jac in _FD_REQUESTS):
            pass
        elif callable(jac):
            self.jac = jac
        else:
            raise ValueError("jac must be None, True or a callable, got %r" % (jac,))
        self.hess = None
        if hess is not None and not compiled_hess:
            if not callable(hess):
                raise ValueError("hess must be None or a callable, got %r" % (hess,))
            self.hess = hess
        # A compiled problem with a Python jac or hess beside it runs as a Python objective.
        if self.compiled and (self.jac is not None or self.jac_in_fun or self.hess is not None):
            self.compiled = False

        if typical_x is not None:
            tx = np.array(typical_x, dtype=float).reshape(-1) if np.ndim(typical_x) <= 1 else None
            if tx is None or tx.size != n:
                raise ValueError("typical_x must have one entry per parameter (%d), got shape %s"
                                 % (n, np.shape(typical_x)))
            if not np.all(np.isfinite(tx)) or np.any(tx <= 0.0):
                raise ValueError("typical_x must be finite and greater than 0, got %r" % (tx,))
            typical_x = tx
        ndigits_checked = None
        if ndigits is not None:
            ndigits_checked = _count("ndigits", ndigits, 1)
            if ndigits_checked > 15:
                raise ValueError("ndigits must lie between 1 and 15, got %d" % ndigits_checked)
        has_gradient = compiled_jac or self.jac_in_fun or self.jac is not None
        has_hessian = compiled_hess or self.hess is not None
        if check_gradient and not has_gradient:
            raise ValueError("check_gradient needs an analytic gradient (jac)")
        if check_hessian and not has_hessian:
            raise ValueError("check_hessian needs an analytic Hessian (hess)")
        self.capture, self.row_sink = _log_target(log)
        self.callback = _callback_wrapper(callback)
        # The rest (options a method does not use, say) is the library's to refuse.
        self.settings = {
            "method": number, "driver": _DRIVERS[driver], "typical_x": typical_x,
            "typical_f": _positive("typical_f", typical_f),
            "gtol": _positive("gtol", gtol, upper=1.0), "xtol": _positive("xtol", xtol, upper=1.0),
            "cg_tol": _positive("cg_tol", cg_tol, upper=1.0), "max_step": _positive("max_step", max_step),
            "trust_radius": _positive("trust_radius", trust_radius), "maxiter": _count("maxiter", maxiter, 0),
            "ndigits": ndigits_checked, "secant": bool(secant), "check_gradient": bool(check_gradient),
            "check_hessian": bool(check_hessian), "capture_log": self.capture,
            "threads": _count("threads", threads, 1), "compiled_jac": compiled_jac, "compiled_hess": compiled_hess}
        self.notes = []
        if has_hessian and (number == 4 or secant):
            self.notes.append("hess was not used (%s)" % ("the cg method uses gradients only" if number == 4
                                                           else "secant=True keeps the Hessian by updates"))

    def run(self):
        return self.result(_vrnmath._minimize(self.fun, self.x, self.args, self.jac, self.jac_in_fun, self.hess,
                                              self.callback, self.row_sink, self.settings))

    def result(self, raw):
        """The OptimizeResult of the binding's answer; a refusal raises ValueError."""
        if raw["code"] == 6:
            # Nothing ran: the options, or f at x0, were refused.
            raise ValueError(_python_names(raw["message"]))
        return OptimizeResult(
            x=raw["x"], fun=raw["fun"], jac=raw["jac"], nit=raw["nit"], nfev=raw["nfev"], njev=raw["njev"],
            nhev=raw["nhev"], status=_status(raw), success=raw["success"], message=raw["message"],
            code=raw["code"], gradient_norm=raw["gradient_norm"],
            warnings=[_python_names(w) for w in raw["warnings"]] + self.notes,
            log=raw["log"] if self.capture else None, runs=raw["runs"], method=self.method,
            initial_f=raw["initial_f"], time_s=raw["time_s"], nonfinite_fev=raw["nonfinite_fev"],
            gradient_check=raw["gradient_check"], hessian_check=raw["hessian_check"])


def minimize(fun, x0, args=(), jac=None, hess=None, method="hook", *, typical_x=None, typical_f=1.0,
             gtol=None, xtol=None, maxiter=10000, secant=False, check_gradient=False, callback=None,
             log=None, check_hessian=False, max_step=None, trust_radius=None, ndigits=None, cg_tol=None,
             driver="engine", threads=1):
    """Minimizes fun(x, *args) from x0 with the VRNMathTools engine.

    fun       the objective: fun(x, *args) -> float, x a 1-D NumPy array (a fresh copy each call).
              A vrnmath.ReferenceProblem runs compiled, without the interpreter.
    jac       None (the engine's finite differences; also "2-point", "3-point", "cs"),
              a callable jac(x, *args) -> array (n,), or True: fun returns (f, g).
    hess      None (finite differences of the gradient, or secant updates) or
              hess(x, *args) -> array (n, n); only its lower triangle is read.
    method    "line-search", "dogleg", "hook" (More-Hebden, the default), "cg", or 1 to 4.
    typical_x typical size of each parameter (default max(|x0_i|, 1)).
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
    threads   threads that evaluate the points of a finite-difference gradient or Hessian
              (and of the derivative checks) at the same time; default 1, no thread made.
              The results are the same bits for any number. fun and jac are then called from
              several threads at once: each Python call takes the interpreter lock for
              itself, which is safe, but a pure-Python objective runs one call at a time and
              gains nothing (its NumPy parts may overlap a little). Compiled objectives
              (vrnmath.ReferenceProblem) run truly in parallel.
    max_step, trust_radius, ndigits, cg_tol, driver ("engine", "tool" with restarts, "step")
              the remaining engine options.

    Returns an OptimizeResult (SciPy's when SciPy is importable) with x, fun, jac (the
    gradient at x), nit, nfev, njev, nhev (calls of fun, of the gradient, of hess),
    success, status, message (the engine's text), code (the engine's termination code
    0 to 7), gradient_norm (max |g_i|), warnings (list of str), log (list of rows, or
    None), initial_f (f at x0), time_s (wall time of the run), nonfinite_fev (calls of
    fun that gave NaN or an infinity), gradient_check and hessian_check (None when not
    asked for, else a dict: passed, index of the worst component, analytic, estimate,
    relative_error, tolerance), method and runs.

    success is the library's verdict, judged from the gradient at x: the run stopped on
    its gradient or step test and the scaled gradient max_i |g_i| max(|x_i|, typical_x_i, 1)
    / max(typical_f, 1) is at most gtol (for "cg": |g| / max(typical_f, 1) at most
    max(gtol, 10 sqrt(cg_tol))), or the gradient is exactly zero; f must be finite there and
    a derivative check must have passed. When it is False, warnings say what happened and
    what to try. status follows it, SciPy style: 0 success, 1 iteration limit, 2 the run
    stopped without a confirmed minimum (no lower point, tiny steps with a gradient that
    is not small, five maximum steps, a failed derivative check), 3 f not finite at x, 99
    stopped by the callback.

    Errors: bad arguments raise ValueError before anything is evaluated. So do the
    library's own refusals: options it rejects (one sentence naming the option and its
    range, such as cg_tol with a method other than "cg") and a start point where f is not
    finite ("the objective is not finite at the start point (f = nan)"), as SciPy's
    least_squares does for residuals that are not finite at x0; fun is called once then.
    f that is not finite at later trial points is not an error: the run avoids them and
    reports them in nonfinite_fev and warnings, and f not finite at the end gives
    success False, status 3. An exception raised by fun, jac, hess, callback or log ends
    the run and propagates unchanged; so does KeyboardInterrupt.
    """
    return _Call(fun, x0, args, jac, hess, method, typical_x, typical_f, gtol, xtol, maxiter, secant,
                 check_gradient, callback, log, check_hessian, max_step, trust_radius, ndigits, cg_tol, driver,
                 threads).run()
