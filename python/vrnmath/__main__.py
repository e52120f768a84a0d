"""`python -m vrnmath ARGS` runs the vrnmath program with ARGS, e.g.

    python -m vrnmath minimize --problem rosenbrock
    python -m vrnmath minimize --f "(x-3)^2+(y+1)^4" --x0 x=0,y=0 --json
    python -m vrnmath --help

The program is the one shipped inside the package (vrnmath/_bin/vrnmath, in a wheel and
in the build tree) or, for a CMake install, the one in the prefix's bin folder."""

import os
import sys
from typing import List, Optional, Sequence


def program_candidates() -> List[str]:
    """Where the vrnmath program may be, in the order looked at."""
    here = os.path.dirname(os.path.abspath(__file__))
    found = [os.path.join(here, "_bin", "vrnmath")]
    try:
        from . import _buildinfo
    except ImportError:
        return found
    found.append(os.path.normpath(os.path.join(here, _buildinfo.PROGRAM_FROM_PACKAGE)))
    return found


def program() -> Optional[str]:
    """The path of the vrnmath program of this package, or None when it is not there."""
    for path in program_candidates():
        if os.path.isfile(path) and os.access(path, os.X_OK):
            return path
    return None


def main(argv: Sequence[str]) -> int:
    path = program()
    if path is None:
        sys.stderr.write(
            "python -m vrnmath runs the vrnmath command-line program (vrnmath minimize ...), which this "
            "installation of the package does not have (looked at %s). It is built with the package by "
            "`pip install .` and by CMake with -DVRN_BUILD_APPS=ON (it needs CLI11 and muParser). "
            "From Python, use vrnmath.minimize.\n" % ", ".join(program_candidates()))
        return 2
    os.execv(path, ["vrnmath"] + list(argv))
    return 0  # not reached: execv replaces this process


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
