#!/usr/bin/python3
"""SciPy on the problem set of the defaults study, for comparison (Debian python3-scipy:
run it with /usr/bin/python3).

Loads libvrn_problem_set.so (built from bench/defaults/problem_set_capi.cpp), so SciPy
minimizes the very functions, start points and data that defaults_study runs through our
minimizer, and prints CSV rows in defaults_study's format:

    /usr/bin/python3 bench/defaults/scipy_baseline.py --lib build/bench/defaults/libvrn_problem_set.so > scipy.csv

Solvers, all with SciPy's default options: trust-exact (analytic gradient and Hessian),
BFGS and L-BFGS-B (analytic gradient), and BFGS with SciPy's own difference gradient.
"Solved" is the problem's own test (known minimum within a relative 1e-6, absolute 1e-10).
"""
import argparse
import ctypes
import sys
import time
import warnings

import numpy as np
from scipy.optimize import minimize


def load(path):
    lib = ctypes.CDLL(path)
    dp = ctypes.POINTER(ctypes.c_double)
    lib.vrn_set_count.restype = ctypes.c_int
    lib.vrn_set_name.restype = ctypes.c_char_p
    lib.vrn_set_name.argtypes = [ctypes.c_int]
    lib.vrn_set_n.argtypes = [ctypes.c_int]
    lib.vrn_set_fstar.restype = ctypes.c_double
    lib.vrn_set_fstar.argtypes = [ctypes.c_int]
    lib.vrn_set_solved.argtypes = [ctypes.c_int, ctypes.c_double]
    lib.vrn_set_x0.argtypes = [ctypes.c_int, dp]
    lib.vrn_set_f.restype = ctypes.c_double
    lib.vrn_set_f.argtypes = [ctypes.c_int, dp]
    lib.vrn_set_g.argtypes = [ctypes.c_int, dp, dp]
    lib.vrn_set_h.argtypes = [ctypes.c_int, dp, dp]
    return lib


class Problem:
    def __init__(self, lib, k):
        self.lib, self.k = lib, k
        self.name = lib.vrn_set_name(k).decode()
        self.n = lib.vrn_set_n(k)
        self.fstar = lib.vrn_set_fstar(k)
        self.x0 = np.zeros(self.n)
        lib.vrn_set_x0(k, self.x0.ctypes.data_as(ctypes.POINTER(ctypes.c_double)))
        self.counts = [0, 0, 0]

    @staticmethod
    def _ptr(a):
        return a.ctypes.data_as(ctypes.POINTER(ctypes.c_double))

    def f(self, x):
        self.counts[0] += 1
        x = np.ascontiguousarray(x, dtype=float)
        return self.lib.vrn_set_f(self.k, self._ptr(x))

    def g(self, x):
        self.counts[1] += 1
        x = np.ascontiguousarray(x, dtype=float)
        out = np.zeros(self.n)
        self.lib.vrn_set_g(self.k, self._ptr(x), self._ptr(out))
        return out

    def h(self, x):
        self.counts[2] += 1
        x = np.ascontiguousarray(x, dtype=float)
        out = np.zeros(self.n * self.n)
        self.lib.vrn_set_h(self.k, self._ptr(x), self._ptr(out))
        return out.reshape(self.n, self.n)

    def solved(self, f):
        return self.lib.vrn_set_solved(self.k, float(f)) == 1


SOLVERS = [
    # (name, method, gradient, hessian)
    ("scipy trust-exact", "trust-exact", True, True),
    ("scipy BFGS", "BFGS", True, False),
    ("scipy L-BFGS-B", "L-BFGS-B", True, False),
    ("scipy BFGS f", "BFGS", False, False),
]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--lib", required=True, help="path of libvrn_problem_set.so")
    ap.add_argument("--only", default="", help="comma-separated problem names")
    args = ap.parse_args()
    lib = load(args.lib)
    only = set(filter(None, args.only.split(",")))
    print("solver,problem,n,method,gradient,hessian,solved,reached,f,fstar,code,success,iterations,"
          "nfev,ngev,nhev,seconds,timeout")
    for k in range(lib.vrn_set_count()):
        p = Problem(lib, k)
        if only and p.name not in only:
            continue
        for name, method, grad, hess in SOLVERS:
            p.counts = [0, 0, 0]
            kwargs = {"method": method, "jac": p.g if grad else None}
            if hess:
                kwargs["hess"] = p.h
            start = time.perf_counter()
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                try:
                    r = minimize(p.f, p.x0.copy(), **kwargs)
                    f, ok, nit = float(r.fun), bool(r.success), int(getattr(r, "nit", 0))
                except (ValueError, np.linalg.LinAlgError, ArithmeticError) as e:
                    print(f"{name} {p.name}: {e}", file=sys.stderr)
                    f, ok, nit = float("nan"), False, 0
            seconds = time.perf_counter() - start
            solved = p.solved(f)
            print(f"{name},{p.name},{p.n},0,{'analytic' if grad else 'difference'},"
                  f"{'analytic' if hess else 'secant'},{int(solved)},{0 if solved else -1},{f!r},{p.fstar!r},"
                  f"0,{int(ok)},{nit},{p.counts[0]},{p.counts[1]},{p.counts[2]},{seconds:.6f},0", flush=True)


if __name__ == "__main__":
    main()
