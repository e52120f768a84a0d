"""Shared helpers of the Python tests: where the reference data live and the C++
reference program of the data utilities."""

import json
import os
import pathlib
import subprocess

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
DATA = pathlib.Path(os.environ.get("VRN_TEST_DATA", REPO / "tests" / "data"))
# The file that holds the version of everything the project makes.
VERSION_FILE = pathlib.Path(os.environ.get("VRN_VERSION_FILE", REPO / "VERSION"))


def cpp_reference(cases):
    """The C++ answers for a list of data-utility cases (see datautil_reference.cpp)."""
    program = os.environ.get("VRN_DATAUTIL_REFERENCE")
    if not program:
        pytest.fail("VRN_DATAUTIL_REFERENCE is not set: run the tests through ctest")
    done = subprocess.run([program], input=json.dumps(cases), capture_output=True, text=True, check=True)
    return json.loads(done.stdout)
