"""The package as installed: `python -m vrnmath`, no change to sys.path on import, and the
ImportError that says what is missing when the compiled module cannot be loaded (tried on
copies of the package with a piece taken away)."""

import os
import pathlib
import shutil
import subprocess
import sys

import pytest

import vrnmath
import vrnmath.__main__ as vrnmain

PACKAGE = pathlib.Path(vrnmath.__file__).resolve().parent


def run_python(code, pythonpath=None, flags=()):
    env = dict(os.environ)
    if pythonpath is not None:
        env["PYTHONPATH"] = str(pythonpath)
    env["PYTHONDONTWRITEBYTECODE"] = "1"
    return subprocess.run([sys.executable, *flags, "-c", code], capture_output=True, text=True, env=env, timeout=120)


def test_python_m_vrnmath_minimizes():
    if vrnmain.program() is None:
        pytest.skip("this build has no vrnmath program")
    done = subprocess.run([sys.executable, "-m", "vrnmath", "minimize", "--problem", "rosenbrock", "--json"],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert '"success"' in done.stdout


def test_python_m_vrnmath_passes_usage_errors_on():
    if vrnmain.program() is None:
        pytest.skip("this build has no vrnmath program")
    done = subprocess.run([sys.executable, "-m", "vrnmath", "minimise"], capture_output=True, text=True, timeout=60)
    assert done.returncode == 2
    assert "unknown command 'minimise'" in done.stderr


def test_import_leaves_sys_path_alone():
    done = run_python("import sys; before = list(sys.path); import vrnmath; print(sys.path == before)")
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "True"


@pytest.fixture
def package_copy(tmp_path):
    """A copy of the installed package in tmp_path/vrnmath (without the program)."""
    shutil.copytree(PACKAGE, tmp_path / "vrnmath", ignore=shutil.ignore_patterns("_bin", "__pycache__"))
    return tmp_path


def import_error(path):
    done = run_python("import vrnmath", pythonpath=path)
    assert done.returncode != 0, "the broken copy imported"
    last = done.stderr.strip().splitlines()[-1]
    assert last.startswith("ImportError:"), done.stderr
    assert "circular import" not in last
    return last


def compiled(path):
    found = sorted((path / "vrnmath").glob("_vrnmath*.so"))
    assert len(found) == 1, found
    return found[0]


def test_copy_imports(package_copy):
    done = run_python("import vrnmath; print(vrnmath.__file__)", pythonpath=package_copy)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip().startswith(str(package_copy))


def test_missing_compiled_module(package_copy):
    compiled(package_copy).unlink()
    message = import_error(package_copy)
    assert "compiled module _vrnmath is missing" in message
    assert "pip install" in message and "cmake" in message


def test_compiled_module_of_another_python(package_copy):
    module = compiled(package_copy)
    module.rename(module.with_name("_vrnmath.cpython-27-x86_64-linux-gnu.so"))
    message = import_error(package_copy)
    assert "_vrnmath.cpython-27-x86_64-linux-gnu.so" in message
    assert "not for this interpreter" in message


def test_source_folder_without_build(package_copy):
    compiled(package_copy).unlink()
    (package_copy / "vrnmath" / "_buildinfo.py").unlink()
    message = import_error(package_copy)
    assert "vrnmath is not built" in message


def test_compiled_module_of_another_version(package_copy):
    info = package_copy / "vrnmath" / "_buildinfo.py"
    info.write_text(info.read_text().replace('VERSION = "%s"' % vrnmath.__version__, 'VERSION = "0.0.1"'))
    message = import_error(package_copy)
    assert "of version %s, the package of version 0.0.1" % vrnmath.__version__ in message


def test_missing_numpy(package_copy):
    # -S: no site-packages, so no NumPy (and the copy is found through PYTHONPATH).
    done = run_python("import vrnmath", pythonpath=package_copy, flags=("-S",))
    assert done.returncode != 0
    last = done.stderr.strip().splitlines()[-1]
    assert last.startswith("ImportError: vrnmath needs NumPy"), done.stderr
    assert "--system-site-packages" in last


def stub_names(tree):
    """Top-level names of a stub, and the members of each class in it."""
    import ast

    names, members = set(), {}
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            names.add(node.name)
        if isinstance(node, ast.ClassDef):
            members[node.name] = {n.name for n in node.body if isinstance(n, ast.FunctionDef)}
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            names.add(node.target.id)
    return names, members


def test_stub_covers_the_compiled_module():
    import ast

    from vrnmath import _vrnmath

    stub = PACKAGE / "_vrnmath.pyi"
    assert (PACKAGE / "py.typed").is_file()
    names, members = stub_names(ast.parse(stub.read_text()))
    module_names = {n for n in dir(_vrnmath) if not (n.startswith("__") and n != "__version__")}
    # Private aliases of the stub itself (_Array, ...) are not in the module.
    typed = {n for n in names if not (n[:1] == "_" and n[1:2].isupper())}
    assert typed == module_names
    for cls, declared in members.items():
        runtime = {n for n in dir(getattr(_vrnmath, cls)) if not n.startswith("__")}
        assert runtime <= declared, "%s: not in the stub: %s" % (cls, sorted(runtime - declared))
