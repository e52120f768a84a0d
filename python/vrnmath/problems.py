"""The library's reference problems, compiled: usable as objectives that the minimizer
evaluates without the interpreter (and without its lock), and as ordinary callables.

    p = vrnmath.problems.get("rosenbrock")
    r = vrnmath.minimize(p, p.x0, jac=True, hess=True)    # p's own gradient and Hessian
"""

from typing import Tuple

from ._vrnmath import ReferenceProblem, reference_problem_names

names: Tuple[str, ...] = tuple(reference_problem_names)


def get(name: str) -> ReferenceProblem:
    """The reference problem called name (one of vrnmath.problems.names)."""
    return ReferenceProblem(name)


__all__ = ["ReferenceProblem", "get", "names"]
