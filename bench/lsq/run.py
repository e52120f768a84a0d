"""Runs the least-squares regression set (models.py) with vrnmath and SciPy in one go and
prints the comparison table of docs/performance.md.

    PYTHONPATH=build/python /usr/bin/python3 bench/lsq/run.py [--details file] [--only KIND]

Every solver gets the same residual and the same Jacobian (complex steps, exact to
rounding) and its default tolerances. An instance is solved when every parameter agrees
with the reference solution to 4 significant digits (|x - x*| <= 1e-4 |x*|). The
reference is the solution of a tight SciPy 'lm' fit started at the true parameters,
polished by a second tight fit; the zero-residual problem's reference is its truth.
The counts are residual and Jacobian calls as the callables saw them.
"""

import argparse
import sys
import warnings

import numpy as np
import scipy.optimize as so

import vrnmath

sys.path.insert(0, __file__.rsplit("/", 1)[0])
from models import models  # noqa: E402


class Counted:
    def __init__(self, model):
        self.model = model
        self.nfev = 0
        self.njev = 0

    def fun(self, p):
        self.nfev += 1
        return self.model.residual(p)

    def jac(self, p):
        self.njev += 1
        return self.model.jacobian(p)

    def jacobian(self):
        return "2-point" if DIFFERENCES else self.jac


def reference(model):
    if model.zero:
        return model.truth
    tight = dict(method="lm", ftol=1e-15, xtol=1e-15, gtol=1e-15, max_nfev=100000)
    r = so.least_squares(model.residual, model.truth, jac=model.jacobian, **tight)
    r = so.least_squares(model.residual, r.x, jac=model.jacobian, **tight)
    return r.x


def cost(model, x):
    r = model.residual(x)
    return 0.5 * float(r @ r)


def solved(x, ref):
    x = np.asarray(x, dtype=float)
    return bool(np.all(np.isfinite(x)) and np.all(np.abs(x - ref) <= 1e-4 * np.abs(ref)))


def hand_written(c, x0):
    """The way before least_squares: vrn::Minimize on f = 1/2 |r|^2 with g = J^T r and
    the Hessian J^T J written by hand (typical sizes max(|x0|, 1)). The Jacobian calls
    of the gradient and of the Hessian both count."""
    def cost(p):
        r = c.fun(p)
        return 0.5 * float(r @ r)

    def grad(p):
        return c.jac(p).T @ c.model.residual(p)

    def hess(p):
        j = c.jac(p)
        return j.T @ j

    return vrnmath.minimize(cost, x0, jac=grad, hess=hess, method="hook")


SOLVERS = {
    "vrnmath.minimize hook, hess = J^T J by hand": hand_written,
    "vrnmath hook": lambda c, x0: vrnmath.least_squares(c.fun, x0, jac=c.jacobian(), method="hook"),
    "vrnmath hook, no fallbacks": lambda c, x0: vrnmath.least_squares(c.fun, x0, jac=c.jacobian(), method="hook",
                                                                      fallbacks=False),
    "vrnmath dogleg": lambda c, x0: vrnmath.least_squares(c.fun, x0, jac=c.jacobian(), method="dogleg"),
    "SciPy lm": lambda c, x0: so.least_squares(c.fun, x0, jac=c.jacobian(), method="lm"),
    "SciPy trf": lambda c, x0: so.least_squares(c.fun, x0, jac=c.jacobian(), method="trf"),
}
# The four least-squares runs compared on their common instances; the other rows are extras.
MAIN = ("vrnmath hook", "vrnmath dogleg", "SciPy lm", "SciPy trf")
# --differences: the least-squares runs estimate the Jacobian by forward differences instead
# (the residual counts then include the difference evaluations of every solver).
DIFFERENCES = False


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--details", help="write one line per instance and solver here")
    parser.add_argument("--differences", action="store_true",
                        help="forward-difference Jacobians for the least-squares runs")
    parser.add_argument("--only", help="run only the models of this kind (e.g. hard) or 'base' for all others")
    args = parser.parse_args()
    global DIFFERENCES
    DIFFERENCES = args.differences
    rows = []
    checks = []
    instances = 0
    for model in models():
        if args.only and (model.kind != args.only if args.only != "base" else model.kind == "hard"):
            continue
        ref = reference(model)
        for k, x0 in enumerate(model.starts):
            instances += 1
            name = "%s / %s" % (model.name, "near" if k == 0 else "far")
            row = {"instance": name, "kind": model.kind}
            for solver, run in SOLVERS.items():
                c = Counted(model)
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")
                    try:
                        r = run(c, x0.copy())
                        x, success, msg = r.x, bool(r.success), r.message
                    except Exception as e:  # a solver that raises has failed
                        x, success, msg = np.full_like(x0, np.nan), False, str(e)
                row[solver] = dict(solved=solved(x, ref), success=success, nfev=c.nfev, njev=c.njev, msg=msg,
                                   x=x)
            rows.append(row)
            # The reference must be a genuine minimum: no run may end lower elsewhere.
            best = cost(model, ref)
            for solver in SOLVERS:
                x = row[solver]["x"]
                if np.all(np.isfinite(x)) and not row[solver]["solved"] and cost(model, x) < best * (1 - 1e-9):
                    checks.append("%s: %s ends at cost %.10g below the reference's %.10g"
                                  % (name, solver, cost(model, x), best))

    lines = ["| solver | solved (of %d) | claimed success but wrong | claimed failure but right |" % instances,
             "|---|---|---|---|"]
    for solver in SOLVERS:
        s = sum(r[solver]["solved"] for r in rows)
        fs = sum(r[solver]["success"] and not r[solver]["solved"] for r in rows)
        ff = sum(not r[solver]["success"] and r[solver]["solved"] for r in rows)
        lines.append("| %s | %d | %d | %d |" % (solver, s, fs, ff))
    both = [r for r in rows if all(r[s]["solved"] for s in MAIN)]
    lines.append("")
    lines.append("Residual / Jacobian evaluations on the %d instances that the four least-squares runs all "
                 "solved:" % len(both))
    lines.append("")
    lines.append("| solver | residual evaluations | Jacobian evaluations |")
    lines.append("|---|---|---|")
    for solver in MAIN:
        lines.append("| %s | %d | %d |" % (solver, sum(r[solver]["nfev"] for r in both),
                                         sum(r[solver]["njev"] for r in both)))
    lines.append("")
    lines.append("Pairwise, on the instances both solved:")
    lines.append("")
    lines.append("| solvers | instances | residual evaluations | Jacobian evaluations |")
    lines.append("|---|---|---|---|")
    for mine in ("vrnmath.minimize hook, hess = J^T J by hand", "vrnmath hook", "vrnmath hook, no fallbacks",
                 "vrnmath dogleg"):
        for theirs in ("SciPy lm", "SciPy trf"):
            pair = [r for r in rows if r[mine]["solved"] and r[theirs]["solved"]]
            lines.append("| %s vs %s | %d | %d vs %d | %d vs %d |" % (
                mine, theirs, len(pair), sum(r[mine]["nfev"] for r in pair), sum(r[theirs]["nfev"] for r in pair),
                sum(r[mine]["njev"] for r in pair), sum(r[theirs]["njev"] for r in pair)))
    lines.append("")
    lines.append("Reference check: %s" % ("no run ended below a reference" if not checks else ""))
    lines.extend(checks)
    print("\n".join(lines))

    if args.details:
        with open(args.details, "w") as out:
            for r in rows:
                for solver in SOLVERS:
                    d = r[solver]
                    out.write("%-40s %-16.16s solved=%d success=%d nfev=%4d njev=%4d  %s\n"
                              % (r["instance"], solver, d["solved"], d["success"], d["nfev"], d["njev"],
                                 d["msg"][:90]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
