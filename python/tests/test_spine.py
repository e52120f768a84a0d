"""The package stands on the library's spine: the option table drives the signature of
vrnmath.minimize, and the OptimizeResult carries every member of the library's JSON."""

import inspect
import json
import math

import numpy as np
import pytest
import scipy.optimize as so

import vrnmath
from vrnmath import _minimize as face


def test_signature_has_a_parameter_for_every_keyword_of_the_table():
    parameters = inspect.signature(vrnmath.minimize).parameters
    keywords = [row["keyword"] for row in vrnmath.option_table()]
    assert len(keywords) == len(set(keywords))
    missing = [k for k in keywords if k not in parameters]
    assert missing == []
    # Options beyond the positional SciPy ones are keyword-only and default to None
    # (the table's default) or off.
    for k in keywords:
        p = parameters[k]
        if p.kind is inspect.Parameter.KEYWORD_ONLY:
            assert p.default in (None, False), k


def test_every_keyword_of_the_table_is_accepted():
    """Each keyword reaches the library: an out-of-range value is refused under its own name."""
    bad = {"typical_x": [0.0, 1.0], "typical_f": 0.0, "gtol": 2.0, "xtol": 2.0, "maxiter": -1, "max_step": -1.0,
           "trust_radius": -1.0, "ndigits": 99, "message_bits": 99, "success_tol": 2.0, "threads": 0}
    for row in vrnmath.option_table():
        keyword = row["keyword"]
        if keyword not in bad:
            continue
        with pytest.raises(ValueError, match="^" + keyword + " "):
            vrnmath.minimize(so.rosen, [-1.2, 1.0], jac=so.rosen_der, **{keyword: bad[keyword]})


def library_json(monkeypatch, *args, **kwargs):
    """The result of vrnmath.minimize(*args, **kwargs) and the library's JSON it was built from."""
    seen = []
    original = face.result_from_json

    def keep(text, *a, **k):
        seen.append(json.loads(text))
        return original(text, *a, **k)

    monkeypatch.setattr(face, "result_from_json", keep)
    r = vrnmath.minimize(*args, **kwargs)
    assert len(seen) == 1
    return r, seen[0]


RUNS = [
    ("defaults", so.rosen, {}),
    ("analytic, checks, log", so.rosen, {"jac": so.rosen_der, "hess": so.rosen_hess, "check_gradient": True,
                                         "check_hessian": True, "log": True, "secant": False}),
    ("cg", so.rosen, {"method": "cg", "jac": so.rosen_der}),
    ("tool", so.rosen, {"driver": "tool", "jac": so.rosen_der}),
    ("iteration limit", so.rosen, {"maxiter": 2}),
    ("compiled", vrnmath.problems.get("rosenbrock"), {"jac": True, "hess": True}),
]


@pytest.mark.parametrize("name, fun, kwargs", RUNS, ids=[r[0] for r in RUNS])
def test_every_key_of_the_library_json_reaches_the_result(monkeypatch, name, fun, kwargs):
    r, raw = library_json(monkeypatch, fun, [-1.2, 1.0], **kwargs)
    for key, value in raw.items():
        field = face._FIELDS.get(key, key)
        assert field in r, key
        got = r[field]
        if key in ("gradient", "x", "typical_x") and value:
            assert np.asarray(got).tolist() == value, key
        elif key == "method":
            assert r.method_number == value
        elif isinstance(value, float) and math.isnan(value):
            assert math.isnan(got), key
        elif key not in ("checks", "gradient", "hessian"):
            assert got == value, key
    # The SciPy-named fields follow the library's.
    assert r.success == raw["success"] and (r.status == 0) == raw["success"]
    assert r.fun == raw["f"] and r.nit == raw["iterations"] and r.message == raw["message"]
    assert "checks" in r
    # The printout of the result works whatever it holds (an empty "checks" included).
    assert "success" in repr(r)


def test_the_default_hessian_follows_the_derivatives_given():
    x0 = [-1.2, 1.0]
    # With a gradient: the difference Hessian; without one: secant updates.
    default = vrnmath.minimize(so.rosen, x0, jac=so.rosen_der)
    differences = vrnmath.minimize(so.rosen, x0, jac=so.rosen_der, secant=False)
    secant = vrnmath.minimize(so.rosen, x0, jac=so.rosen_der, secant=True)
    bfgs = vrnmath.minimize(so.rosen, x0, jac=so.rosen_der, hess=so.BFGS())
    assert default.x.tobytes() == differences.x.tobytes()
    assert secant.x.tobytes() == bfgs.x.tobytes()
    assert "secant" in secant.derivatives and "secant" not in default.derivatives
    assert default.success and secant.success
    nothing = vrnmath.minimize(so.rosen, x0)
    assert "secant" in nothing.derivatives
    # The listed settings say what ran.
    listed = {s["name"]: s["value"] for s in nothing.settings}
    assert listed["Secant (BFGS) updates"] == "on"
    listed = {s["name"]: s["value"] for s in default.settings}
    assert listed["Secant (BFGS) updates"] == "off"


def test_three_point_jac_takes_central_differences():
    x0 = [-1.2, 1.0]
    central = vrnmath.minimize(so.rosen, x0, jac="3-point")
    forward = vrnmath.minimize(so.rosen, x0, jac="2-point")
    assert central.success, central.warnings
    assert central.x.tobytes() != forward.x.tobytes()
    assert abs(central.x[0] - 1.0) < 1e-6
