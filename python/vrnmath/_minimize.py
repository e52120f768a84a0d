"""vrnmath.minimize: the minimizer on Python callables and NumPy arrays.

The options are the library's option table (``vrnmath.option_table()``): this module only
gathers the keywords that were given and hands them over; the library converts them,
checks their ranges and the methods and drivers that use them, runs the engine through
its run core, judges the end point and returns its result as JSON, which becomes the
OptimizeResult here.
"""

from __future__ import annotations

import inspect
import json
import math
from typing import Any, Callable, Optional, Sequence, Union

import numpy as np

from . import _vrnmath
from ._result import OptimizeResult

#: The methods by name, from the library's method table; the numbers are the engine's.
METHODS = {row["key"]: row["number"] for row in _vrnmath._method_table()}

#: SciPy-style status of a result from the library's outcome (0 exactly when success).
STATUS = {"success": 0, "iteration-limit": 1, "not-converged": 2, "not-a-minimum": 2, "check-failed": 2,
          "not-finite": 3, "not-unique": 2, "stopped": 99, "refused": 2}

# Result fields: the library's JSON key -> the OptimizeResult attribute (SciPy's names
# where SciPy has one). Every key of the JSON lands in the result; the library's status
# name ("GradientSmall") beside SciPy's integer status.
_FIELDS = {"f": "fun", "gradient": "jac", "iterations": "nit", "method": "method_number",
           "nonfinite_evaluations": "nonfinite_fev", "records": "records", "status": "status_name"}


def _point(x0: Any) -> np.ndarray:
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


def _callback_wrapper(callback: Optional[Callable]) -> Optional[Callable]:
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


def _log_target(log: Any):
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


def _is_quasi_newton(hess: Any) -> bool:
    """SciPy's HessianUpdateStrategy (BFGS(), SR1()): the engine's secant updates."""
    try:
        from scipy.optimize import HessianUpdateStrategy
    except ImportError:  # pragma: no cover - without SciPy there is no such object
        return False
    return isinstance(hess, HessianUpdateStrategy)


def result_from_json(text: str, capture_log: bool = False, method_key: Optional[str] = None) -> OptimizeResult:
    """The OptimizeResult of the library's JSON for one run; a refusal raises ValueError."""
    raw = json.loads(text)
    if raw["outcome"] == "refused":
        raise ValueError(raw["message"])
    out = OptimizeResult()
    for key, value in raw.items():
        name = _FIELDS.get(key, key)
        if isinstance(value, list) and key in ("x", "gradient", "typical_x", "hessian"):
            value = np.array(value, dtype=float)
        out[name] = value
    if "hessian" in out:
        n = out["x"].size
        out["hessian"] = out["hessian"].reshape(n, n)
    calls = raw.get("python_calls")
    counts = calls if calls is not None else raw["evaluations"]
    out["nfev"], out["njev"], out["nhev"] = counts["f"], counts["gradient"], counts["hessian"]
    out["status"] = STATUS[raw["outcome"]]
    out["method"] = method_key or [k for k, v in METHODS.items() if v == raw["method"]][0]
    out["gradient_norm"] = raw["gradient_norm"] if raw["gradient"] else math.nan
    if not raw["gradient"]:
        out["jac"] = None
    for kind in ("gradient", "hessian"):
        check = raw["checks"].get(kind)
        if check is not None:
            check = dict(check)
            check["index"] = ((check.pop("row"), check.pop("column")) if "column" in check
                              else (check.pop("row"),))
            if check["index"][0] < 0:
                check["index"] = None
        out[kind + "_check"] = check
    out["log"] = raw.get("log", []) if capture_log else None
    return out


class _Call:
    """The arguments of one vrnmath.minimize call, in the binding's form."""

    def __init__(self, fun, x0, args=(), jac=None, hess=None, method=None, hessp=None, callback=None, log=None,
                 **options):
        if not callable(fun):
            raise ValueError("fun must be callable, got %r" % (fun,))
        self.fun = fun
        self.x = _point(x0)
        n = self.x.size
        self.args = args if isinstance(args, tuple) else (args,)
        if hessp is not None:
            raise ValueError("hessp is not supported: the engine needs the whole Hessian; give hess (a callable "
                             "returning the (n, n) matrix), hess=BFGS() for secant updates, or neither")
        self.options = {k: v for k, v in options.items() if v is not None and not (v is False and k.startswith("check_"))}
        if method is not None:
            self.options["method"] = method

        self.compiled = isinstance(fun, _vrnmath.ReferenceProblem)
        if self.compiled and fun.n != n:
            raise ValueError("x0 must have shape (%d,) for %r, got shape (%d,)" % (fun.n, fun, n))
        self.compiled_jac = self.compiled and (jac is True or (callable(jac) and jac == fun.jac))
        self.compiled_hess = self.compiled and (hess is True or (callable(hess) and hess == fun.hess))
        self.jac_in_fun = False
        self.jac = None
        self.central = False
        if self.compiled_jac:
            pass
        elif jac is True:
            self.jac_in_fun = True
        elif jac is None or jac is False or jac == "2-point":
            pass
        elif jac == "3-point":
            self.central = True
        elif jac == "cs":
            raise ValueError("jac='cs' (complex-step derivatives) is not supported: give a callable jac, "
                             "'2-point' (the engine's finite differences) or '3-point' (central differences)")
        elif callable(jac):
            self.jac = jac
        else:
            raise ValueError("jac must be None, True, '2-point', '3-point' or a callable, got %r" % (jac,))
        self.hess = None
        if hess is not None and not self.compiled_hess:
            if _is_quasi_newton(hess):
                if options.get("secant") is False:
                    raise ValueError("hess=%s asks for secant updates, which secant=False refuses"
                                     % type(hess).__name__)
                self.options["secant"] = True
            elif callable(hess):
                self.hess = hess
            elif isinstance(hess, str) and hess in ("2-point", "3-point"):
                # SciPy's finite-difference Hessian: the engine's own differences.
                if options.get("secant"):
                    raise ValueError("hess=%r asks for a difference Hessian, which secant=True refuses" % (hess,))
                self.options["secant"] = False
            elif isinstance(hess, str) and hess == "cs":
                raise ValueError("hess='cs' (complex-step derivatives) is not supported: give a callable hess, "
                                 "'2-point' for finite differences, or BFGS() for secant updates")
            else:
                raise ValueError("hess must be None, a callable or scipy.optimize.BFGS()/SR1(), got %r" % (hess,))
        # A compiled problem with a Python jac or hess beside it runs as a Python objective.
        if self.compiled and (self.jac is not None or self.jac_in_fun or self.hess is not None or self.central):
            self.compiled = False
            self.compiled_jac = self.compiled_hess = False
        if "typical_x" in self.options:
            self.options["typical_x"] = np.asarray(self.options["typical_x"], dtype=float)
        self.capture, self.row_sink = _log_target(log)
        self.callback = _callback_wrapper(callback)

    def run(self) -> OptimizeResult:
        text = _vrnmath._minimize(self.fun, self.x, self.args, self.jac, self.jac_in_fun, self.hess,
                                  self.callback, self.row_sink, self.options, self.compiled_jac,
                                  self.compiled_hess, self.capture, self.central)
        return result_from_json(text, self.capture)


def minimize(fun: Callable[..., Any], x0: Union[Sequence[float], np.ndarray], args: tuple = (),
             jac: Union[None, bool, str, Callable[..., Any]] = None, hess: Any = None,
             method: Union[None, str, int] = None, *, hessp: Optional[Callable[..., Any]] = None,
             callback: Optional[Callable[..., Any]] = None, log: Any = None,
             typical_x: Optional[Sequence[float]] = None, typical_f: Optional[float] = None,
             gtol: Optional[float] = None, xtol: Optional[float] = None, maxiter: Optional[int] = None,
             secant: Optional[bool] = None, check_gradient: bool = False, check_hessian: bool = False,
             max_step: Optional[float] = None, trust_radius: Optional[float] = None, ndigits: Optional[int] = None,
             message_bits: Optional[int] = None, cg_tol: Optional[float] = None,
             success_tol: Optional[float] = None, driver: Optional[str] = None,
             threads: Optional[int] = None) -> OptimizeResult:
    """Minimize ``fun(x, *args)`` from ``x0`` with the VRNMathTools engine.

    Parameters
    ----------
    fun : callable
        The objective, ``fun(x, *args) -> float``; x is a 1-D NumPy array (a fresh copy
        each call). A ``vrnmath.ReferenceProblem`` runs compiled, without the interpreter.
    x0 : array_like, shape (n,)
        The start point; f must be finite there.
    args : tuple, optional
        Extra arguments passed to fun, jac and hess. Default: ``()``.
    jac : callable, bool or str, optional
        A callable ``jac(x, *args) -> array (n,)``; True: fun returns ``(f, g)``; None or
        ``'2-point'``: the engine's finite differences (forward, central when needed);
        ``'3-point'``: central differences of fun. ``'cs'`` is refused. Default: None.
    hess : callable, str or HessianUpdateStrategy, optional
        ``hess(x, *args) -> array (n, n)`` (only its lower triangle is read);
        ``scipy.optimize.BFGS()`` / ``SR1()`` for the engine's secant (BFGS) updates;
        ``'2-point'`` or ``'3-point'`` for the engine's finite-difference Hessian.
        Default: None (finite differences of the gradient when jac is given, secant
        updates when neither is).
    method : str or int, optional
        ``'line-search'``, ``'dogleg'``, ``'hook'`` (More-Hebden), ``'cg'``, or 1 to 4.
        Default: ``'dogleg'`` (see ``vrnmath.option_table()``).
    hessp : callable, optional
        Not supported (refused with ValueError): give hess or BFGS().
    callback : callable, optional
        Called after each accepted step as ``callback(xk)``, or as
        ``callback(intermediate_result=OptimizeResult(x, fun, jac, nit))`` when it has a
        parameter of that name; returning True or raising StopIteration stops the run
        (code 7, status 99). Default: None.
    log : bool, callable or file-like, optional
        True keeps the status log in ``result.log``; a callable gets each row as it is
        produced, a file-like object has each row written to it. Default: None.
    typical_x, typical_f, gtol, xtol, maxiter, secant, check_gradient, check_hessian,
    max_step, trust_radius, ndigits, message_bits, cg_tol, success_tol, driver, threads
        The library's options; each one's range, default and the methods and drivers that
        use it are listed by ``vrnmath.option_table()``. Unset (None) takes the default;
        an option the method or driver does not use is refused. Defaults: typical_x
        max(|x0_i|, 1), typical_f 1, gtol 4.82e-6, xtol 1.06e-8, maxiter 10000, secant on
        when neither jac nor hess is given, check_gradient and check_hessian off, max_step max(1000
        ||x0/typical_x||, 1000), trust_radius chosen by the method, ndigits 15,
        message_bits 0, cg_tol 1e-10, success_tol 4.82e-5, driver 'engine', threads 1.

    Returns
    -------
    OptimizeResult
        SciPy's fields ``x, fun, jac, nit, nfev, njev, nhev, success, status, message``
        and the library's own: ``outcome``, ``code`` (the engine's termination code 0 to
        7), ``status_name`` (the code named, "GradientSmall"), ``warnings``, ``verdict``
        (how the end point was judged), ``gradient_norm``, ``initial_f``, ``time_s``,
        ``nonfinite_fev``, ``gradient_check``, ``hessian_check``, ``settings``,
        ``typical_x``, ``log`` and the rest of the library's result.

    Notes
    -----
    ``success`` is the library's verdict: the Hessian at the end point is positive
    definite and a Newton step from there would lower f by at most
    ``success_tol**2 * max(|f|, typical_f)``. ``status`` follows it: 0 success, 1
    iteration limit, 2 no confirmed minimum, 3 f not finite at x, 99 stopped by the
    callback. Bad arguments and the library's refusals raise ValueError before anything is
    evaluated; so does a start point where f is not finite. An exception raised by fun,
    jac, hess, callback or log ends the run and propagates unchanged.
    """
    return _Call(fun, x0, args, jac, hess, method, hessp, callback, log, typical_x=typical_x,
                 typical_f=typical_f, gtol=gtol, xtol=xtol, maxiter=maxiter, secant=secant,
                 check_gradient=check_gradient, check_hessian=check_hessian, max_step=max_step,
                 trust_radius=trust_radius, ndigits=ndigits, message_bits=message_bits, cg_tol=cg_tol,
                 success_tol=success_tol, driver=driver, threads=threads).run()


def option_table(kind: str = "minimize") -> list:
    """The library's option table of one kind of request.

    Parameters
    ----------
    kind : {'minimize', 'least_squares'}, optional
        ``'minimize'`` lists the options of ``vrnmath.minimize``, ``'least_squares'``
        those of ``vrnmath.least_squares`` (and curve_fit). Default: ``'minimize'``.

    Returns
    -------
    list of dict
        One dict per option with its C++ name, Python keyword, program switch, default
        (a number, NaN when it is worked out for each run), default_text, range and
        description.
    """
    return list(_vrnmath._option_table(kind))
