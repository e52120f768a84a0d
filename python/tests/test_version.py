"""One version everywhere: the file VERSION, the package, its metadata, the program (the
one CTest names and the one inside the package) and `python -m vrnmath --version`."""

import importlib.metadata
import os
import subprocess
import sys

import pytest

import vrnmath
import vrnmath.__main__ as vrnmain
from conftest import VERSION_FILE


@pytest.fixture(scope="module")
def version():
    if not VERSION_FILE.is_file():
        pytest.fail("no VERSION file at %s (set VRN_VERSION_FILE when the tests run outside the source tree)"
                    % VERSION_FILE)
    text = VERSION_FILE.read_text().strip()
    assert text.count(".") == 2 and all(part.isdigit() for part in text.split(".")), text
    return text


def test_package_version(version):
    assert vrnmath.__version__ == version


def test_compiled_module_version(version):
    assert vrnmath._vrnmath.__version__ == version


def test_metadata_version(version):
    assert importlib.metadata.version("vrnmath") == version


@pytest.mark.parametrize("which", ["VRNMATH_EXE", "packaged"])
def test_program_version(version, which):
    program = os.environ.get("VRNMATH_EXE") if which == "VRNMATH_EXE" else vrnmain.program()
    if not program:
        pytest.skip("no %s program in this build" % which)
    done = subprocess.run([program, "--version"], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == version


def test_python_m_version(version):
    done = subprocess.run([sys.executable, "-m", "vrnmath", "--version"], capture_output=True, text=True,
                          timeout=60)
    if vrnmain.program() is None:
        # Without the program it says what it offers and where it looked.
        assert done.returncode == 2
        assert "vrnmath command-line program" in done.stderr
    else:
        assert done.returncode == 0, done.stderr
        assert done.stdout.strip() == version
