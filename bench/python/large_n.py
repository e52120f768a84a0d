"""One SciPy run on a large problem, in a process of its own (bench/large_n.sh).

    python3 large_n.py PROBLEM N SOLVER [ITERATION_LIMIT]
    PROBLEM: separable | tridiagonal | rosenbrock;  SOLVER: CG | L-BFGS-B

The problems are those of bench/large_n.cpp, vectorized with NumPy. Prints one line
in large_n's format: problem,n,solver,iterations,f evaluations,g evaluations,wall
seconds,peak resident KiB,final f. The peak includes the interpreter, NumPy and
SciPy (about 60 MiB before the first array).
"""

import resource
import sys
import time

import numpy as np
import scipy.optimize as so


def separable(n):
    c = 1.0 + 9.0 * np.arange(n) / (n - 1)

    def f(x):
        d = x - 1.0
        return float(np.dot(c * d, d))

    def g(x):
        return 2.0 * c * (x - 1.0)

    return f, g, np.zeros(n)


def tridiagonal(n):
    def f(x):
        return float(2.0 * np.dot(x, x) - x.sum() - np.dot(x[:-1], x[1:]))

    def g(x):
        r = 4.0 * x - 1.0
        r[1:] -= x[:-1]
        r[:-1] -= x[1:]
        return r

    return f, g, np.zeros(n)


def rosenbrock(n):
    def f(x):
        a, b = x[0:-1:2], x[1::2]
        t = b - a * a
        u = 1.0 - a
        return float(100.0 * np.dot(t, t) + np.dot(u, u))

    def g(x):
        a, b = x[0:-1:2], x[1::2]
        t = b - a * a
        r = np.zeros_like(x)
        r[0:-1:2] = -400.0 * a * t - 2.0 * (1.0 - a)
        r[1::2] = 200.0 * t
        return r

    x0 = np.ones(n)
    x0[0::2] = -1.2
    return f, g, x0


PROBLEMS = {"separable": separable, "tridiagonal": tridiagonal, "rosenbrock": rosenbrock}


def main():
    if len(sys.argv) < 4 or sys.argv[1] not in PROBLEMS or sys.argv[3] not in ("CG", "L-BFGS-B"):
        sys.exit("usage: large_n.py separable|tridiagonal|rosenbrock N CG|L-BFGS-B [ITERATION_LIMIT]")
    name, n, solver = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    limit = int(sys.argv[4]) if len(sys.argv) > 4 else 10000
    if not (2 <= n <= 10**8 and 1 <= limit <= 10**6):
        sys.exit("large_n.py: N in [2, 1e8] and ITERATION_LIMIT in [1, 1e6]")
    f, g, x0 = PROBLEMS[name](n)
    start = time.perf_counter()
    r = so.minimize(f, x0, jac=g, method=solver, options={"maxiter": limit})
    seconds = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(f"{name},{n},scipy {solver},{r.nit},{r.nfev},{r.njev},{seconds:.3f},{peak},{r.fun:.6e},,{r.status}")


if __name__ == "__main__":
    main()
