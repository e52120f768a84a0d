"""Loads the compiled module of the package and says what is wrong when it cannot:
the module not built (the source folder itself on the path), built for another Python,
of another version than the package, or NumPy missing from this interpreter."""

import importlib
import importlib.machinery
import os
import sys
from types import ModuleType
from typing import List, Tuple

_HOW_TO_BUILD = ("Build and install it with `python3 -m pip install --no-build-isolation .` from the "
                 "repository root (in a venv made with `python3 -m venv --system-site-packages`), or "
                 "build it with CMake (`cmake -S . -B build && cmake --build build --target _vrnmath`) "
                 "and put build/python on PYTHONPATH.")


def _this_python() -> str:
    return "%s (Python %d.%d)" % (sys.executable, sys.version_info[0], sys.version_info[1])


def _compiled_files(folder: str) -> List[str]:
    try:
        return sorted(f for f in os.listdir(folder) if f.startswith("_vrnmath") and f.endswith((".so", ".pyd")))
    except OSError:
        return []


def _extension_problem(folder: str, error: ImportError, built_for: str) -> str:
    found = _compiled_files(folder)
    if not found:
        return "vrnmath's compiled module _vrnmath is missing from %s. %s" % (folder, _HOW_TO_BUILD)
    suffixes = importlib.machinery.EXTENSION_SUFFIXES
    if not any(f.endswith(s) and f[:-len(s)] == "_vrnmath" for f in found for s in suffixes):
        return ("vrnmath's compiled module in %s (%s) was built for %s, not for this interpreter, %s, "
                "which loads %s. Rebuild it for this interpreter. %s"
                % (folder, ", ".join(found), built_for, _this_python(), " or ".join("_vrnmath" + s for s in suffixes),
                   _HOW_TO_BUILD))
    return "vrnmath's compiled module in %s cannot be loaded: %s. %s" % (folder, error, _HOW_TO_BUILD)


def load() -> Tuple[ModuleType, ModuleType]:
    """(the build information, the compiled module), or ImportError saying what is missing."""
    package = __name__.rpartition(".")[0]
    folder = os.path.dirname(os.path.abspath(__file__))
    try:
        buildinfo = importlib.import_module(package + "._buildinfo")
    except ModuleNotFoundError:
        raise ImportError("vrnmath is not built: %s holds its sources only (no compiled module, no "
                          "_buildinfo.py). %s" % (folder, _HOW_TO_BUILD)) from None
    built_for = "%s (Python %d.%d)" % ((buildinfo.PYTHON_EXECUTABLE,) + tuple(buildinfo.PYTHON_VERSION))
    try:
        import numpy  # noqa: F401
    except ImportError:
        raise ImportError("vrnmath needs NumPy, which this interpreter, %s, does not find. Install it for this "
                          "interpreter, or use Debian's python3-numpy through a venv made with "
                          "`/usr/bin/python3 -m venv --system-site-packages` (the package was built for %s)."
                          % (_this_python(), built_for)) from None
    try:
        compiled = importlib.import_module(package + "._vrnmath")
    except ImportError as e:
        raise ImportError(_extension_problem(folder, e, built_for)) from e
    compiled_version = getattr(compiled, "__version__", None)
    if compiled_version != buildinfo.VERSION:
        raise ImportError("vrnmath's compiled module %s is of version %s, the package of version %s: they come "
                          "from different builds. %s"
                          % (compiled.__file__, compiled_version or "(unknown)", buildinfo.VERSION, _HOW_TO_BUILD))
    return buildinfo, compiled
