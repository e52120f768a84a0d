"""The data utilities on NumPy arrays give the C++ classes' answers bit for bit (the
reference program datautil_reference runs the classes directly), and refuse input
that the classes would answer with nonsense."""

import math
import struct

import numpy as np
import pytest

import vrnmath
from conftest import cpp_reference

N = vrnmath.NULL
XS = [0.5, 1.0, 1.7, 2.0, 3.1, 4.0, 5.5, 7.0]
YS = [math.sin(v) + 0.1 * v * v for v in XS]
AT = [-1.0, 0.5, 0.75, 1.0, 1.3, 2.0, 2.5, 3.1, 4.9, 7.0, 9.0]
NODES = [0.1 * 10 ** (k / 4) for k in range(12)]  # evenly spaced in ln x
T = [0.05 * 1.3 ** k for k in range(30)]
TC = [0.0, 1.0, 3.0]
Q = [1.0, 2.5, 0.5]


def truth(tau):
    return math.log1p(tau) + 0.2 * tau


P = [5.0 - sum((Q[k] - (Q[k - 1] if k else 0.0)) * truth(t - tc) for k, tc in enumerate(TC) if t > tc) for t in T]

CASES = [
    ("interpolate", dict(x=XS, y=YS, at=AT)),
    ("interpolate-derivative", dict(x=XS, y=YS, at=AT, derivative=True)),
    ("interpolate-4-points", dict(x=XS[:4], y=YS[:4], at=AT)),
    ("interpolate-skip-null", dict(x=XS[:3] + [N] + XS[4:], y=YS[:5] + [N] + YS[6:], at=AT, skip_null=True)),
    ("interpolate-skip-null-derivative", dict(x=[N] + XS, y=[1.0] + YS, at=AT, derivative=True, skip_null=True)),
    ("bracket", dict(values=XS, at=AT + [1.7, 5.5])),
    ("bracket-repeats", dict(values=[1.0, 2.0, 2.0, 2.0, 3.0], at=[2.0, 0.0, 3.0, 2.5])),
    ("bracket-two", dict(values=[1.0, 2.0], at=[0.0, 1.0, 1.5, 2.0, 3.0])),
    ("slope", dict(x=XS, y=YS)),
    ("slope-weighted", dict(x=XS, y=YS, weight_index=3, weight=4.0)),
    ("slope-weight-zero", dict(x=XS, y=YS, weight_index=0, weight=0.0)),
    ("slope-semilog", dict(x=XS, y=YS, semilog=True)),
    ("slope-semilog-weighted", dict(x=XS, y=YS, weight_index=7, weight=2.0, semilog=True)),
    ("fit-type-curve", dict(nodes=NODES, t=T, p=P, tc=TC, q=Q, constant=5.0)),
    ("fit-type-curve-constant", dict(nodes=NODES, t=T, p=P, tc=TC, q=Q, fit_constant=True)),
    ("indirect-sort", dict(a=[3.0, 1.0, 2.0, -7.5, 10.0, 0.25])),
    ("indirect-sort-empty", dict(a=[])),
    ("normal-deviates", dict(count=9, sigma=2.0, mean=1.0, seed=12345)),
    ("normal-deviates-standard", dict(count=4, seed=0)),
]


def bits(v):
    return struct.pack("<d", float(v))


def python_answer(op, case):
    if op == "interpolate":
        return vrnmath.interpolate(case["x"], case["y"], case["at"], derivative=case.get("derivative", False),
                                   skip_null=case.get("skip_null", False))
    if op == "bracket":
        return vrnmath.bracket(case["values"], case["at"])
    if op == "slope":
        return vrnmath.slope(case["x"], case["y"], weight_index=case.get("weight_index"),
                             weight=case.get("weight", 1.0), semilog=case.get("semilog", False))
    if op == "fit_type_curve":
        return vrnmath.fit_type_curve(case["nodes"], case["t"], case["p"], case["tc"], case["q"],
                                      constant=case.get("constant", 0.0),
                                      fit_constant=case.get("fit_constant", False))
    if op == "indirect_sort":
        return vrnmath.indirect_sort(case["a"])
    return vrnmath.normal_deviates(case["count"], case.get("sigma", 1.0), case.get("mean", 0.0), seed=case["seed"])


def op_of(name):
    for op in ("interpolate", "bracket", "slope", "fit_type_curve", "indirect_sort", "normal_deviates"):
        if name.startswith(op.replace("_", "-")):
            return op
    raise KeyError(name)


@pytest.fixture(scope="module")
def cpp_answers():
    cases = [dict(case, op=op_of(name)) for name, case in CASES]
    return dict(zip([name for name, _ in CASES], cpp_reference(cases)))


@pytest.mark.parametrize("name, case", CASES, ids=[c[0] for c in CASES])
def test_same_answers_as_cpp(name, case, cpp_answers):
    op = op_of(name)
    ours = python_answer(op, case)
    want = cpp_answers[name]
    if op in ("bracket", "indirect_sort"):
        assert list(ours) == want
    elif op == "fit_type_curve":
        g, c = ours
        assert [bits(v) for v in g] == [bits(float(s)) for s in want[0]]
        assert bits(c) == bits(float(want[1]))
    else:
        assert [bits(v) for v in np.atleast_1d(ours)] == [bits(float(s)) for s in want]


def test_scalar_points_give_scalars():
    assert isinstance(vrnmath.interpolate(XS, YS, 2.5), float)
    assert isinstance(vrnmath.bracket(XS, 2.5), int)
    assert vrnmath.interpolate(XS, YS, 2.5) == vrnmath.interpolate(XS, YS, [2.5])[0]
    assert vrnmath.interpolate(XS, YS, [[1.0, 2.0]]).shape == (1, 2)


def test_cubic_is_reproduced_and_nan_counts_as_missing():
    x = np.linspace(0.0, 3.0, 7)
    y = x ** 3 - 2 * x
    np.testing.assert_allclose(vrnmath.interpolate(x, y, [0.3, 1.1, 2.9]), [v ** 3 - 2 * v for v in (0.3, 1.1, 2.9)])
    y_gap = y.copy()
    y_gap[2] = np.nan
    assert vrnmath.interpolate(x, y_gap, 1.1, skip_null=True) == pytest.approx(1.1 ** 3 - 2.2)
    assert np.isnan(y_gap[2])  # the caller's array is untouched


def test_type_curve_fit_recovers_the_curve():
    g, c = vrnmath.fit_type_curve(NODES, T, P, TC, Q, fit_constant=True)
    assert c == pytest.approx(5.0, rel=1e-3)
    mid = [v for v in NODES if 0.3 < v < 10.0]
    np.testing.assert_allclose(vrnmath.interpolate(NODES, g, mid), [truth(v) for v in mid], rtol=2e-2, atol=2e-3)


def test_indirect_sort_and_normal_deviates():
    a = np.array([3.0, 1.0, 2.0])
    order = vrnmath.indirect_sort(a)
    assert order.tolist() == [1, 2, 0] and a[order].tolist() == [1.0, 2.0, 3.0]
    d = vrnmath.normal_deviates(20000, 2.0, 1.0, seed=7)
    assert abs(d.mean() - 1.0) < 0.1 and abs(d.std() - 2.0) < 0.1
    assert np.array_equal(d, vrnmath.normal_deviates(20000, 2.0, 1.0, seed=7))


@pytest.mark.parametrize("call, message", [
    (lambda: vrnmath.interpolate([1, 2, 3], [1, 2, 3], 1.5), "at least 4 points"),
    (lambda: vrnmath.interpolate([1, 3, 2, 4], [1, 2, 3, 4], 1.5), "strictly ascending"),
    (lambda: vrnmath.interpolate([1, 2, 3, 4], [1, 2, 3], 1.5), "same length"),
    (lambda: vrnmath.interpolate([1, 2, N, 4, 5], [1, 2, 3, 4, 5], 1.5, skip_null=True), "at least 5"),
    (lambda: vrnmath.bracket([1.0], 0.5), "at least 2"),
    (lambda: vrnmath.bracket([2.0, 1.0], 0.5), "ascending"),
    (lambda: vrnmath.slope([1.0, 1.0], [1.0, 2.0]), "two distinct"),
    (lambda: vrnmath.slope([0.0, 1.0], [1.0, 2.0], semilog=True), "x > 0"),
    (lambda: vrnmath.slope([1.0, 2.0], [1.0, 2.0], weight_index=2), "weight_index"),
    (lambda: vrnmath.fit_type_curve([1, 2, 3], [1], [1], [0], [1]), "at least 4"),
    (lambda: vrnmath.fit_type_curve([1, 2, 3, 4], [1], [1], [0], [1]), "evenly spaced"),
    (lambda: vrnmath.fit_type_curve(NODES, T, P, TC, Q[:2]), "one level per change"),
    (lambda: vrnmath.indirect_sort([1.0, np.nan]), "NaN"),
    (lambda: vrnmath.normal_deviates(-1), "size"),
    (lambda: vrnmath.normal_deviates(3, seed=-1), "seed"),
])
def test_bad_input_raises_value_error(call, message):
    with pytest.raises(ValueError, match=message):
        call()
