"""Shared helpers of the Python tests: where the reference data live and the C++
reference program of the data utilities, and a two-worker Dask cluster for the batch tests."""

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


@pytest.fixture(scope="module")
def client():
    """A Dask client on a local two-worker cluster (skips the test without Dask's distributed)."""
    distributed = pytest.importorskip("distributed", reason="Dask's distributed (python3-distributed) is not "
                                      "installed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  silence_logs=40) as cluster, distributed.Client(cluster) as c:
        yield c
