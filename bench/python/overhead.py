"""What a call of vrnmath.minimize costs beside the user's own functions, next to
scipy.optimize.minimize with "trust-exact" and "BFGS" on the same problems, in one run.

    PYTHONPATH=build/python /usr/bin/python3 bench/python/overhead.py [--repeat 30]

For every solver and problem: the calls of fun, jac and hess, the time of one whole
minimization (median of --repeat runs), the time spent inside fun, jac and hess, and the
rest, the solver's own time (its Python and C++ code and the crossings between them),
per run and per evaluation. Prints a Markdown table.
"""

import argparse
import statistics
import time

import numpy as np
import scipy.optimize as so

import vrnmath


def beale(x):
    a, b = x
    return (1.5 - a + a * b) ** 2 + (2.25 - a + a * b * b) ** 2 + (2.625 - a + a * b ** 3) ** 2


def beale_grad(x):
    a, b = x
    u1, u2, u3 = 1.5 - a + a * b, 2.25 - a + a * b * b, 2.625 - a + a * b ** 3
    return np.array([2 * (u1 * (b - 1) + u2 * (b * b - 1) + u3 * (b ** 3 - 1)),
                     2 * (u1 * a + u2 * 2 * a * b + u3 * 3 * a * b * b)])


def beale_hess(x):
    a, b = x
    u1, u2, u3 = 1.5 - a + a * b, 2.25 - a + a * b * b, 2.625 - a + a * b ** 3
    d1a, d2a, d3a, d1b, d2b, d3b = b - 1, b * b - 1, b ** 3 - 1, a, 2 * a * b, 3 * a * b * b
    haa = 2 * (d1a * d1a + d2a * d2a + d3a * d3a)
    hab = 2 * (d1a * d1b + u1 + d2a * d2b + u2 * 2 * b + d3a * d3b + u3 * 3 * b * b)
    hbb = 2 * (d1b * d1b + d2b * d2b + u2 * 2 * a + d3b * d3b + u3 * 6 * a * b)
    return np.array([[haa, hab], [hab, hbb]])


PROBLEMS = {
    "Rosenbrock n=2": (so.rosen, so.rosen_der, so.rosen_hess, [-1.2, 1.0]),
    "Rosenbrock n=10": (so.rosen, so.rosen_der, so.rosen_hess, [-1.2, 1.0] * 5),
    "Beale": (beale, beale_grad, beale_hess, [1.0, 1.0]),
}

SOLVERS = {
    "vrnmath hook, jac+hess": lambda f, g, h, x0: vrnmath.minimize(f, x0, jac=g, hess=h),
    "scipy trust-exact": lambda f, g, h, x0: so.minimize(f, x0, jac=g, hess=h, method="trust-exact"),
    "vrnmath hook, jac, secant": lambda f, g, h, x0: vrnmath.minimize(f, x0, jac=g, secant=True),
    "vrnmath line-search, jac, secant": lambda f, g, h, x0: vrnmath.minimize(f, x0, jac=g, method=1, secant=True),
    "scipy BFGS": lambda f, g, h, x0: so.minimize(f, x0, jac=g, method="BFGS"),
    "scipy via methods.hook, jac": lambda f, g, h, x0: so.minimize(f, x0, jac=g, method=vrnmath.methods.hook),
}


class Timed:
    """A user function that counts its calls and the time spent in it."""

    def __init__(self, fn):
        self.fn, self.calls, self.seconds = fn, 0, 0.0

    def __call__(self, x):
        started = time.perf_counter()
        try:
            return self.fn(x)
        finally:
            self.seconds += time.perf_counter() - started
            self.calls += 1


def measure(solver, problem, repeat):
    f, g, h, x0 = problem
    totals, inside = [], []
    for _ in range(repeat):
        tf, tg, th = Timed(f), Timed(g), Timed(h)
        started = time.perf_counter()
        r = solver(tf, tg, th, np.array(x0))
        totals.append(time.perf_counter() - started)
        inside.append(tf.seconds + tg.seconds + th.seconds)
        calls = (tf.calls, tg.calls, th.calls)
    total = statistics.median(totals)
    own = statistics.median(t - i for t, i in zip(totals, inside))
    return r, calls, total, own


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeat", type=int, default=30)
    args = parser.parse_args()
    print("| problem | solver | f | f calls | g calls | H calls | run (ms) | solver's own (ms) | own per evaluation (us) |")
    print("|---|---|---|---:|---:|---:|---:|---:|---:|")
    for pname, problem in PROBLEMS.items():
        for sname, solver in SOLVERS.items():
            r, calls, total, own = measure(solver, problem, args.repeat)
            evaluations = sum(calls)
            print("| %s | %s | %.1e | %d | %d | %d | %.3f | %.3f | %.1f |"
                  % (pname, sname, r.fun, *calls, total * 1e3, own * 1e3, own / max(evaluations, 1) * 1e6))


if __name__ == "__main__":
    main()
