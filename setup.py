"""Builds the compiled part of the Python package vrnmath with CMake (see pyproject.toml).

The extension _vrnmath and the vrnmath program (run by `python -m vrnmath`) are built by
the project's own CMake build, configured for the interpreter that runs this script, with
static libraries, without tests and benchmarks. Environment:
    VRN_CMAKE_ARGS          more arguments for the CMake configuration (split like a shell)
    VRNMATH_WITHOUT_PROGRAM=1   leaves the program out (no CLI11 or muParser needed)
    CMAKE_BUILD_PARALLEL_LEVEL  compile jobs (default 2)
ccache is used when it is on PATH.
"""

import glob
import hashlib
import os
import shlex
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


class CMakeExtension(Extension):
    def __init__(self, name: str) -> None:
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext: Extension) -> None:
        if shutil.which("cmake") is None:
            raise RuntimeError("building vrnmath needs cmake (Debian: bash scripts/deps.sh, or apt-get install "
                               "cmake g++ pybind11-dev python3-dev)")
        with_program = os.environ.get("VRNMATH_WITHOUT_PROGRAM", "") in ("", "0")
        # One CMake build per interpreter: two CPython 3.11 share setuptools' build_temp.
        tag = hashlib.sha1(os.path.realpath(sys.executable).encode()).hexdigest()[:8]
        build_dir = os.path.join(os.path.abspath(self.build_temp), "cmake-" + tag)
        configure = ["cmake", "-S", ROOT, "-B", build_dir,
                     "-DCMAKE_BUILD_TYPE=Release",
                     "-DBUILD_SHARED_LIBS=OFF",
                     "-DVRN_BUILD_TESTS=OFF", "-DVRN_BUILD_BENCH=OFF", "-DVRN_BUILD_FUZZ=OFF",
                     "-DVRN_BUILD_APPS=" + ("ON" if with_program else "OFF"),
                     "-DVRN_BUILD_PYTHON=ON",
                     "-DPython3_EXECUTABLE=" + sys.executable]
        if shutil.which("ccache") and "CMAKE_CXX_COMPILER_LAUNCHER" not in os.environ.get("VRN_CMAKE_ARGS", ""):
            configure.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
        configure += shlex.split(os.environ.get("VRN_CMAKE_ARGS", ""))
        targets = ["_vrnmath"] + (["vrnmath_python_program"] if with_program else [])
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", build_dir, "--parallel", jobs, "--target"] + targets, check=True)

        # The pieces CMake made in its copy of the package, into the package being built.
        built = os.path.join(build_dir, "python", "vrnmath")
        modules = glob.glob(os.path.join(built, "_vrnmath*.so"))
        if len(modules) != 1:
            raise RuntimeError("expected one compiled module in %s, found %s" % (built, modules or "none"))
        target = os.path.abspath(self.get_ext_fullpath(ext.name))
        package_dir = os.path.dirname(target)
        os.makedirs(package_dir, exist_ok=True)
        self.copy_file(modules[0], target)
        self.copy_file(os.path.join(built, "_buildinfo.py"), os.path.join(package_dir, "_buildinfo.py"))
        if with_program:
            os.makedirs(os.path.join(package_dir, "_bin"), exist_ok=True)
            self.copy_file(os.path.join(built, "_bin", "vrnmath"), os.path.join(package_dir, "_bin", "vrnmath"))


def version() -> str:
    """The one line of the file VERSION, the version of everything the project makes."""
    with open(os.path.join(ROOT, "VERSION"), encoding="ascii") as f:
        return f.read().strip()


setup(
    version=version(),
    package_dir={"": "python"},
    packages=["vrnmath"],
    package_data={"vrnmath": ["py.typed", "*.pyi"]},
    ext_modules=[CMakeExtension("vrnmath._vrnmath")],
    cmdclass={"build_ext": CMakeBuild},
    # setuptools' own build folder beside CMake's build/ rather than inside it.
    options={"build": {"build_base": "build-py"}},
)
