#!/usr/bin/python3
"""Tables of the defaults study (docs/performance.md, "Choosing the defaults").

    summarize.py classic.csv fits.csv scipy.csv > tables.md

Reads the CSV rows of defaults_study and scipy_baseline.py (one row per solver and
problem) and prints Markdown: solved counts and verdicts per configuration, evaluations on
the problems every configuration of a group solved, iteration counts of solved runs,
the fits one by one and the problems each configuration failed. Standard library only.
"""
import csv
import math
import sys
from collections import OrderedDict, defaultdict

ANALYTIC = ["m1 g H", "m2 g H", "m3 g H", "m1 g fdH", "m2 g fdH", "m3 g fdH",
            "m1 g secant", "m2 g secant", "m3 g secant", "m4 g",
            "scipy trust-exact", "scipy BFGS", "scipy L-BFGS-B"]
GRADIENT_ONLY = ["m1 g fdH", "m2 g fdH", "m3 g fdH", "m1 g secant", "m2 g secant", "m3 g secant", "m4 g",
                 "scipy BFGS", "scipy L-BFGS-B"]
NOTHING = ["m1 f fdH", "m2 f fdH", "m3 f fdH", "m1 f secant", "m2 f secant", "m3 f secant", "m4 f",
           "scipy BFGS f"]


def load(paths):
    rows = []
    for path in paths:
        with open(path, newline="") as fh:
            for r in csv.DictReader(fh):
                for key in ("n", "method", "solved", "reached", "code", "success", "iterations", "nfev", "ngev",
                            "nhev", "timeout"):
                    r[key] = int(r[key])
                for key in ("f", "fstar", "seconds"):
                    r[key] = float(r[key])
                r["fit"] = r["problem"].startswith("fit-")
                r["group"] = "fit" if r["fit"] else f"n{r['n']}" if r["n"] in (30, 50) else "classic"
                rows.append(r)
    return rows


def percentile(values, q):
    """Nearest-rank percentile."""
    if not values:
        return 0
    v = sorted(values)
    return v[max(0, min(len(v) - 1, math.ceil(q / 100.0 * len(v)) - 1))]


def table(header, body):
    out = ["| " + " | ".join(header) + " |", "|" + "|".join("---" if i == 0 else "---:" for i in range(len(header))) + "|"]
    out += ["| " + " | ".join(str(c) for c in row) + " |" for row in body]
    return "\n".join(out)


GROUPS = ("classic", "n30", "n50", "fit")


def near_miss(r):
    """Unsolved, yet within a relative 1e-4 (absolute 1e-8) of the minimum: a stop a little early."""
    return not r["solved"] and r["f"] <= r["fstar"] + max(1e-4 * abs(r["fstar"]), 1e-8)


def counts(rs):
    return " / ".join(str(sum(1 for r in rs if r["solved"] and r["group"] == g)) for g in GROUPS)


def main():
    rows = load(sys.argv[1:])
    solvers = list(OrderedDict.fromkeys(r["solver"] for r in rows))
    problems = list(OrderedDict.fromkeys(r["problem"] for r in rows))
    by = {(r["solver"], r["problem"]): r for r in rows}
    group_of = {r["problem"]: r["group"] for r in rows}
    sizes = {g: sum(1 for p in problems if group_of[p] == g) for g in GROUPS}

    print(f"#### Solved problems ({sizes['classic']} classic problems / {sizes['n30']} scaled to n = 30 / "
          f"{sizes['n50']} to n = 50 / {sizes['fit']} fits)\n")
    body = []
    for s in solvers:
        rs = [by[(s, p)] for p in problems if (s, p) in by]
        ours = not s.startswith("scipy")
        body.append([s, counts(rs), sum(1 for r in rs if r["solved"] and r["reached"] > 0),
                     sum(1 for r in rs if near_miss(r)),
                     sum(1 for r in rs if not r["solved"] and r["code"] == 4) if ours else ""])
    print(table(["Configuration", "Solved", "of which a local minimum", "Unsolved near misses",
                 "Unsolved at the iteration limit"], body))
    print()

    print("#### The library's verdict (MinimizeResult::success) against the known minimum\n")
    body = []
    for s in solvers:
        if s.startswith("scipy"):
            continue
        rs = [by[(s, p)] for p in problems if (s, p) in by]
        body.append([s, sum(1 for r in rs if r["solved"]), sum(1 for r in rs if r["solved"] and not r["success"]),
                     sum(1 for r in rs if not r["solved"] and r["success"]),
                     sum(1 for r in rs if not r["solved"] and r["success"] and not near_miss(r))])
    ours = [r for r in rows if not r["solver"].startswith("scipy")]
    body.append(["all", sum(1 for r in ours if r["solved"]), sum(1 for r in ours if r["solved"] and not r["success"]),
                 sum(1 for r in ours if not r["solved"] and r["success"]),
                 sum(1 for r in ours if not r["solved"] and r["success"] and not near_miss(r))])
    print(table(["Configuration", "Solved", "Solved, verdict false", "Unsolved, verdict true",
                 "of which not a near miss"], body))
    print()
    bad = defaultdict(list)
    for r in ours:
        if not r["solved"] and r["success"] and not near_miss(r):
            bad[r["problem"]].append(r)
    if bad:
        print("Verdict true far from the minimum: " + "; ".join(
            f"{p} ({len(v)} runs, f = {min(r['f'] for r in v):.6g} to {max(r['f'] for r in v):.6g}, f* = {v[0]['fstar']:.6g})"
            for p, v in bad.items()) + ".\n")
    falsefail = defaultdict(int)
    for r in ours:
        if r["solved"] and not r["success"]:
            falsefail[r["problem"]] += 1
    if falsefail:
        print("Verdict false on solved runs, by problem: " + ", ".join(f"{p} {k}" for p, k in falsefail.items()) + ".\n")

    print("#### Difference Hessian or secant updates when only the gradient is given\n")
    body = []
    for m in ("m1", "m2", "m3"):
        for kind in ("g", "f"):
            a, b = f"{m} {kind} fdH", f"{m} {kind} secant"
            if a not in solvers or b not in solvers:
                continue
            for g in GROUPS:
                both = [p for p in problems if group_of[p] == g and by[(a, p)]["solved"] and by[(b, p)]["solved"]]
                ra = [by[(a, p)] for p in both]
                rb = [by[(b, p)] for p in both]
                body.append([f"{m}, {'analytic gradient' if kind == 'g' else 'f only'}", g,
                             f"{sum(1 for p in problems if group_of[p] == g and by[(a, p)]['solved'])} / "
                             f"{sum(1 for p in problems if group_of[p] == g and by[(b, p)]['solved'])}",
                             len(both), f"{sum(r['nfev'] for r in ra)} / {sum(r['nfev'] for r in rb)}",
                             f"{sum(r['ngev'] for r in ra)} / {sum(r['ngev'] for r in rb)}",
                             f"{sum(r['seconds'] for r in ra):.3f} / {sum(r['seconds'] for r in rb):.3f}"])
    print(table(["Method, derivatives", "Problems", "Solved: difference / secant", "Solved by both",
                 "f evals (both solved): difference / secant", "g evals: difference / secant", "Wall s"], body))
    print()

    for title, group in (("analytic gradient (and Hessian where the configuration takes it)", ANALYTIC),
                         ("gradient only", GRADIENT_ONLY), ("nothing but f", NOTHING)):
        group = [s for s in group if s in solvers]
        common = [p for p in problems if all(by.get((s, p), {}).get("solved") for s in group)]
        print(f"#### Evaluations with {title}, on the {len(common)} problems every configuration solved\n")
        print("Problems: " + ", ".join(common) + ".\n")
        body = []
        for s in group:
            rs = [by[(s, p)] for p in common]
            body.append([s, sum(r["nfev"] for r in rs), sum(r["ngev"] for r in rs), sum(r["nhev"] for r in rs),
                         sum(r["iterations"] for r in rs), f"{sum(r['seconds'] for r in rs):.3f}"])
        print(table(["Configuration", "f evals", "g evals", "H evals", "Iterations", "Wall s"], body))
        print()

    print("#### Iterations of solved runs (our configurations)\n")
    body = []
    everything = []
    for s in solvers:
        if s.startswith("scipy"):
            continue
        its = [by[(s, p)]["iterations"] for p in problems if by.get((s, p), {}).get("solved")]
        everything += [(by[(s, p)]["iterations"], s, p) for p in problems if by.get((s, p), {}).get("solved")]
        body.append([s, len(its), percentile(its, 50), percentile(its, 90), percentile(its, 99), max(its) if its else 0])
    allits = [e[0] for e in everything]
    body.append(["all", len(allits), percentile(allits, 50), percentile(allits, 90), percentile(allits, 99), max(allits)])
    print(table(["Configuration", "Solved runs", "Median", "90th pct", "99th pct", "Max"], body))
    print()
    print("Slowest solved runs: " + "; ".join(f"{p} with {s}: {i}" for i, s, p in sorted(everything, reverse=True)[:8])
          + ".\n")
    failed = [r for r in rows if not r["solved"] and not r["solver"].startswith("scipy") and r["code"] == 4]
    study_limit = max((r["iterations"] for r in failed), default=0)
    if failed:
        print(f"Unsolved runs that ended at the study's iteration limit ({study_limit}): {len(failed)}, with "
              f"{sum(r['nfev'] for r in failed)} f and {sum(r['ngev'] for r in failed)} gradient evaluations in all.\n")
    print("#### What an iteration limit would cost\n")
    print("Solved runs that need more iterations than the limit are lost; runs that fail by crawling to the limit "
          "spend evaluations in proportion to it (their evaluations scaled from the study's limit).\n")
    body = []
    ours_solved = [r for r in rows if r["solved"] and not r["solver"].startswith("scipy")]
    for limit in (500, 1000, 2000, 5000, 10000, 20000, 50000):
        lost = [r for r in ours_solved if r["iterations"] > limit]
        cost = sum((r["nfev"] + r["ngev"]) * min(limit, r["iterations"]) / max(r["iterations"], 1) for r in failed)
        per = cost / len(failed) if failed else 0
        body.append([limit, len(lost), ", ".join(sorted({r["problem"] for r in lost})) or "-",
                     f"{per:.0f}"])
    print(table(["Iteration limit", "Solved runs lost", "Problems", "f + g evaluations per failing run"], body))
    print()

    print("#### The fits\n")
    fits = [p for p in problems if p.startswith("fit-")]
    body = []
    for s in solvers:
        cells = [s]
        for p in fits:
            r = by.get((s, p))
            if r is None:
                cells.append("")
                continue
            mark = "" if r["solved"] else " (unsolved)"
            cells.append(f"{r['iterations']} it, {r['nfev']} f, {r['ngev']} g, {r['nhev']} H{mark}")
        body.append(cells)
    print(table(["Configuration"] + fits, body))
    print()

    print("#### Problems not solved\n")
    body = []
    for p in problems:
        miss = [s for s in solvers if (s, p) in by and not by[(s, p)]["solved"]]
        if miss:
            body.append([p, ", ".join(miss)])
    print(table(["Problem", "Configurations that did not solve it"], body))


if __name__ == "__main__":
    main()
