"""vrnmath.least_squares and vrnmath.curve_fit: SciPy's signatures and fields, fits,
uncertainties, losses, refusals; compared with SciPy by tolerances only."""

import inspect
import json
import math
import threading
import warnings

import numpy as np
import pytest

import vrnmath
from vrnmath import _least_squares as lsq_face

scipy_optimize = pytest.importorskip("scipy.optimize")

T = np.linspace(0.0, 7.0, 40)
NOISE = 0.05 * np.sin(13.0 * T) * np.cos(3.0 * T)
Y = 5.0 * np.exp(-0.7 * T) + 1.5 + NOISE


def decay(t, a, b, c):
    return a * np.exp(-b * t) + c


def residual(p, t=T, y=Y):
    return decay(t, *p) - y


def jacobian(p, t=T, y=Y):
    e = np.exp(-p[1] * t)
    return np.column_stack([e, -p[0] * t * e, np.ones_like(t)])


SCIPY_FIELDS = ("x", "cost", "fun", "jac", "grad", "optimality", "active_mask", "nfev", "njev", "status",
                "message", "success")


@pytest.mark.parametrize("jac", [jacobian, "2-point", "3-point", None])
@pytest.mark.parametrize("method", ["hook", "dogleg", "lm"])
def test_least_squares_matches_scipy(jac, method):
    r = vrnmath.least_squares(residual, [4.0, 0.5, 1.0], jac=jac, method=method)
    s = scipy_optimize.least_squares(residual, [4.0, 0.5, 1.0], method="lm")
    for field in SCIPY_FIELDS:
        assert field in r, field
    assert r.success, r.message
    np.testing.assert_allclose(r.x, s.x, rtol=1e-6)
    assert r.cost == pytest.approx(s.cost, rel=1e-9)
    assert r.fun.shape == (T.size,)
    assert r.jac.shape == (T.size, 3)
    np.testing.assert_allclose(r.grad, r.jac.T @ r.fun, atol=1e-9)
    assert r.optimality == pytest.approx(np.max(np.abs(r.grad)))
    assert r.status in (1, 2, 3, 4)


def test_scipy_positional_order():
    # A call written for SciPy, positionally up to gtol and with SciPy's keywords, runs unchanged.
    r = vrnmath.least_squares(residual, [4.0, 0.5, 1.0], jacobian, (-np.inf, np.inf), "lm", 1e-10, 1e-10, 1e-10,
                              x_scale="jac", tr_solver="exact", tr_options={}, verbose=0)
    s = scipy_optimize.least_squares(residual, [4.0, 0.5, 1.0], jacobian, (-np.inf, np.inf), "lm", 1e-10, 1e-10,
                                     1e-10, x_scale="jac")
    assert r.success
    np.testing.assert_allclose(r.x, s.x, rtol=1e-8)


def test_args_and_kwargs_reach_fun():
    seen = {}

    def fun(p, t, y=None, scale=1.0):
        seen["scale"] = scale
        return (decay(t, *p) - y) * scale

    r = vrnmath.least_squares(fun, [4.0, 0.5, 1.0], args=(T,), kwargs={"y": Y, "scale": 2.0})
    assert r.success
    assert seen["scale"] == 2.0


def test_curve_fit_matches_scipy_covariance():
    popt, pcov = vrnmath.curve_fit(decay, T, Y, p0=[4.0, 0.5, 1.0])
    spopt, spcov = scipy_optimize.curve_fit(decay, T, Y, p0=[4.0, 0.5, 1.0])
    np.testing.assert_allclose(popt, spopt, rtol=1e-6)
    np.testing.assert_allclose(pcov, spcov, rtol=1e-4)


def test_covariance_against_direct_computation():
    r = vrnmath.least_squares(residual, [4.0, 0.5, 1.0], jac=jacobian)
    j = jacobian(r.x)
    s2 = np.sum(residual(r.x) ** 2) / (T.size - 3)
    direct = s2 * np.linalg.inv(j.T @ j)
    np.testing.assert_allclose(r.covariance, direct, rtol=1e-7)
    np.testing.assert_allclose(r.standard_errors, np.sqrt(np.diag(direct)), rtol=1e-7)
    d = np.sqrt(np.diag(direct))
    np.testing.assert_allclose(r.correlation, direct / np.outer(d, d), atol=1e-7)
    assert r.dof == T.size - 3
    assert r.residual_variance == pytest.approx(s2, rel=1e-10)


def test_curve_fit_sigma_absolute_and_relative():
    sigma = 0.05 + 0.01 * T
    p_rel, c_rel = vrnmath.curve_fit(decay, T, Y, p0=[4.0, 0.5, 1.0], sigma=sigma)
    p_abs, c_abs = vrnmath.curve_fit(decay, T, Y, p0=[4.0, 0.5, 1.0], sigma=sigma, absolute_sigma=True)
    s_rel, sc_rel = scipy_optimize.curve_fit(decay, T, Y, p0=[4.0, 0.5, 1.0], sigma=sigma)
    s_abs, sc_abs = scipy_optimize.curve_fit(decay, T, Y, p0=[4.0, 0.5, 1.0], sigma=sigma, absolute_sigma=True)
    np.testing.assert_allclose(p_rel, s_rel, rtol=1e-6)
    np.testing.assert_allclose(c_rel, sc_rel, rtol=1e-4)
    np.testing.assert_allclose(c_abs, sc_abs, rtol=1e-4)
    # Relative sigma: the covariance is the absolute one times s^2.
    r = vrnmath.least_squares(lambda p: residual(p) / sigma, [4.0, 0.5, 1.0])
    np.testing.assert_allclose(c_rel, c_abs * r.residual_variance, rtol=1e-6)


def test_curve_fit_reads_parameter_count_from_signature():
    popt, _ = vrnmath.curve_fit(lambda t, a, b: a * t + b, T, 2.0 * T + 1.0)
    np.testing.assert_allclose(popt, [2.0, 1.0], atol=1e-10)


def test_unidentifiable_parameters_are_named():
    def product(t, a, b, c):
        return a * b * t + c

    with pytest.warns(UserWarning, match="cannot determine a and b"):
        vrnmath.curve_fit(product, T, 3.0 * T + 1.0 + NOISE, p0=[1.0, 1.0, 0.0])
    r = vrnmath.least_squares(lambda p: product(T, *p) - (3.0 * T + 1.0 + NOISE), [1.0, 1.0, 0.0])
    assert r.undetermined == [0, 1]
    assert r.rank == 2
    assert np.isnan(r.standard_errors[0]) and np.isnan(r.standard_errors[1])
    assert np.isfinite(r.standard_errors[2])
    assert any("cannot determine x[0] and x[1]" in w for w in r.warnings)
    assert not r.success


def test_curve_fit_raises_when_the_fit_fails():
    with pytest.raises(RuntimeError, match="Optimal parameters not found"):
        vrnmath.curve_fit(decay, T, Y, p0=[1.0, 0.1, 0.0], max_nfev=2)


def test_zero_residual_data():
    y = decay(T, 2.0, 0.3, -1.0)
    popt, pcov = vrnmath.curve_fit(decay, T, y, p0=[1.0, 1.0, 0.0])
    np.testing.assert_allclose(popt, [2.0, 0.3, -1.0], rtol=1e-9)
    assert np.all(np.abs(pcov) < 1e-20)


@pytest.mark.parametrize("loss", ["soft_l1", "huber", "cauchy"])
def test_robust_losses_against_scipy(loss):
    y = Y.copy()
    y[[4, 20]] += [6.0, -5.0]
    fun = lambda p: residual(p, y=y)  # noqa: E731
    r = vrnmath.least_squares(fun, [4.0, 0.5, 1.0], jac=jacobian, loss=loss, f_scale=0.1)
    s = scipy_optimize.least_squares(fun, [4.0, 0.5, 1.0], jac=jacobian, loss=loss, f_scale=0.1,
                                     method="trf", ftol=1e-12, xtol=1e-12, gtol=1e-12)
    assert r.success, r.message
    assert r.cost == pytest.approx(s.cost, rel=1e-6)
    np.testing.assert_allclose(r.x, s.x, rtol=1e-4)
    np.testing.assert_allclose(r.x, [5.0, 0.7, 1.5], rtol=0.05)


def test_threads_give_the_same_fit():
    lock = threading.Lock()
    calls = []

    def fun(p):
        with lock:
            calls.append(1)
        return residual(p)

    one = vrnmath.least_squares(fun, [1.0, 0.1, 0.0])
    two = vrnmath.least_squares(fun, [1.0, 0.1, 0.0], threads=2)
    np.testing.assert_array_equal(one.x, two.x)
    assert one.nfev == two.nfev and one.njev == two.njev


@pytest.mark.parametrize("kwargs, match", [
    ({"method": "trf"}, "method"),
    ({"loss": "l1"}, "loss"),
    ({"ftol": 2.0}, "ftol"),
    ({"f_scale": 0.0}, "f_scale"),
    ({"max_nfev": 0}, "max_nfev"),
    ({"x_scale": [1.0, -1.0, 1.0]}, "x_scale"),
    ({"x_scale": "auto"}, "x_scale"),
    ({"jac": "cs"}, "jac"),
    ({"bounds": ([0, 0, 0], [1, 1, 1])}, "bounds"),
    ({"threads": 0}, "threads"),
    ({"tr_solver": "lsmr"}, "tr_solver"),
    ({"jac_sparsity": np.ones((40, 3))}, "jac_sparsity"),
])
def test_refusals(kwargs, match):
    with pytest.raises(ValueError, match=match):
        vrnmath.least_squares(residual, [4.0, 0.5, 1.0], **kwargs)


def test_bad_starts_and_returns():
    with pytest.raises(ValueError, match="finite"):
        vrnmath.least_squares(residual, [np.nan, 0.5, 1.0])
    with pytest.raises(ValueError, match="not finite at the start point"):
        vrnmath.least_squares(residual, [4.0, -1000.0, 1.0])
    with pytest.raises(ValueError, match="shape"):
        vrnmath.least_squares(residual, [4.0, 0.5, 1.0], jac=lambda p: np.ones((3, 3)))


def test_exception_in_fun_is_raised_unchanged():
    class Boom(Exception):
        pass

    count = [0]

    def fun(p):
        count[0] += 1
        if count[0] > 3:
            raise Boom("from the residual")
        return residual(p)

    with pytest.raises(Boom, match="from the residual"):
        vrnmath.least_squares(fun, [1.0, 0.1, 0.0])


def test_badly_scaled_model():
    t = np.arange(25) * 120.0
    y = 2.5e-4 * np.exp(8e-4 * t)
    r = vrnmath.least_squares(lambda p: p[0] * np.exp(p[1] * t) - y, [1e-4, 5e-4])
    assert r.success
    np.testing.assert_allclose(r.x, [2.5e-4, 8e-4], rtol=1e-7)


MEYER_X = np.arange(50.0, 126.0, 5.0)
MEYER_Y = 5.6e-3 * np.exp(6181.0 / (MEYER_X + 345.0))


def meyer(p):
    return p[0] * np.exp(p[1] / (MEYER_X + p[2])) - MEYER_Y


def meyer_jac(p):
    u = MEYER_X + p[2]
    e = np.exp(p[1] / u)
    return np.column_stack([e, p[0] * e / u, -p[0] * e * p[1] / u ** 2])


def test_fallbacks_rescue_a_failed_fit_and_count_everything():
    calls = [0]

    def fun(p):
        calls[0] += 1
        return meyer(p)

    alone = vrnmath.least_squares(fun, [2.0, 4e5, 2.5e4], jac=meyer_jac, fallbacks=False)
    assert not alone.success
    calls[0] = 0
    r = vrnmath.least_squares(fun, [2.0, 4e5, 2.5e4], jac=meyer_jac)
    assert r.success, r.message
    np.testing.assert_allclose(r.x, [5.6e-3, 6181.0, 345.0], rtol=1e-7)
    assert calls[0] == r.nfev
    assert any("found by fit" in w for w in r.warnings)


def test_curve_fit_full_output():
    popt, pcov, info, mesg, ier = vrnmath.curve_fit(decay, T, Y, p0=[4.0, 0.5, 1.0], full_output=True)
    assert info.success and ier in (1, 2, 3, 4)
    assert info.names == ["a", "b", "c"]
    assert isinstance(mesg, str)
    np.testing.assert_array_equal(popt, info.x)


def test_exception_on_an_evaluation_thread_is_raised_unchanged():
    count = [0]
    lock = threading.Lock()

    def fun(p):
        with lock:
            count[0] += 1
            late = count[0] > 3
        if late:
            raise KeyError("from a difference column")
        return residual(p)

    with pytest.raises(KeyError, match="from a difference column"):
        vrnmath.least_squares(fun, [1.0, 0.1, 0.0], threads=2)


# ------------------------------------------------------------- the spine: options and result

FIT_TABLE = vrnmath.option_table("least_squares")


def test_the_fit_section_of_the_table_is_its_own():
    keywords = [row["keyword"] for row in FIT_TABLE]
    assert len(keywords) == len(set(keywords))
    for k in ("method", "jac", "ftol", "xtol", "gtol", "max_nfev", "maxiter", "loss", "f_scale", "x_scale",
              "trust_radius", "success_tol", "fallbacks", "absolute_sigma", "threads"):
        assert k in keywords, k
    # The minimization's table has options a fit refuses, and not the fit's own.
    minimize_keywords = {row["keyword"] for row in vrnmath.option_table()}
    assert "typical_f" in minimize_keywords and "typical_f" not in keywords
    assert "loss" not in minimize_keywords
    with pytest.raises(ValueError, match="kind must be 'minimize' or 'least_squares'"):
        vrnmath.option_table("fit")


def test_signature_has_a_parameter_for_every_keyword_of_the_fit_section():
    parameters = inspect.signature(vrnmath.least_squares).parameters
    missing = [row["keyword"] for row in FIT_TABLE if row["keyword"] not in parameters]
    assert missing == []
    # Every table option defaults to None, the table's default.
    for row in FIT_TABLE:
        assert parameters[row["keyword"]].default is None, row["keyword"]


BAD_FIT_OPTIONS = {"method": 4, "jac": "cs", "ftol": 1.0, "xtol": -0.1, "gtol": 2.0, "max_nfev": 0, "maxiter": -1,
                   "loss": "l2", "f_scale": -1.0, "x_scale": [1.0, 0.0, 1.0], "trust_radius": 0.0,
                   "success_tol": 1.0, "fallbacks": "off", "threads": 0}


@pytest.mark.parametrize("keyword", [row["keyword"] for row in FIT_TABLE if row["keyword"] != "absolute_sigma"])
def test_every_keyword_of_the_fit_section_is_refused_under_its_name(keyword):
    # absolute_sigma is a flag: any value is on or off.
    with pytest.raises(ValueError, match="^" + keyword + " "):
        vrnmath.least_squares(residual, [4.0, 0.5, 1.0], **{keyword: BAD_FIT_OPTIONS[keyword]})


def same_fit(a, b):
    return (a.x.tobytes() == b.x.tobytes() and a.cost == b.cost and (a.nfev, a.njev, a.nit) == (b.nfev, b.njev, b.nit)
            and a.status == b.status and a.message == b.message)


@pytest.mark.parametrize("given", [
    {"ftol": 1e-8, "xtol": 1e-8, "gtol": 1e-8},
    {"method": "hook"}, {"method": "lm"}, {"method": 3}, {"method": " LM "},
    {"loss": "linear", "f_scale": 1.0}, {"x_scale": "jac"}, {"jac": "2-point"}, {"maxiter": 10000},
    {"fallbacks": True}, {"threads": 1}, {"absolute_sigma": False},
])
def test_none_and_the_table_default_are_the_same_fit(given):
    default = vrnmath.least_squares(residual, [1.0, 0.1, 0.0])
    explicit = vrnmath.least_squares(residual, [1.0, 0.1, 0.0], **given)
    assert same_fit(default, explicit)


def test_x_scale_number_counts_for_every_parameter():
    one = vrnmath.least_squares(residual, [1.0, 0.1, 0.0], x_scale=2.0)
    each = vrnmath.least_squares(residual, [1.0, 0.1, 0.0], x_scale=[2.0, 2.0, 2.0])
    assert same_fit(one, each)
    assert one.success


def test_options_change_the_fit():
    # The options reach the library: a tighter tolerance costs evaluations, a limit ends early.
    loose = vrnmath.least_squares(residual, [1.0, 0.1, 0.0], xtol=1e-3, ftol=1e-3, gtol=1e-3, fallbacks=False)
    tight = vrnmath.least_squares(residual, [1.0, 0.1, 0.0], xtol=1e-14, ftol=1e-14, gtol=1e-14, fallbacks=False)
    assert loose.nfev < tight.nfev
    short = vrnmath.least_squares(residual, [1.0, 0.1, 0.0], maxiter=2, fallbacks=False)
    assert not short.success and short.status == 0 and short.outcome == "iteration-limit"
    assert short.nit == 2
    three = vrnmath.least_squares(residual, [4.0, 0.5, 1.0], jac="3-point")
    assert three.nfev_differences == 2 * 3 * three.njev


def test_absolute_sigma_keyword():
    rel = vrnmath.least_squares(residual, [4.0, 0.5, 1.0], jac=jacobian)
    ab = vrnmath.least_squares(residual, [4.0, 0.5, 1.0], jac=jacobian, absolute_sigma=True)
    assert ab.absolute_sigma and not rel.absolute_sigma
    j = jacobian(ab.x)
    np.testing.assert_allclose(ab.covariance, np.linalg.inv(j.T @ j), rtol=1e-7)
    np.testing.assert_allclose(rel.covariance, ab.covariance * rel.residual_variance, rtol=1e-7)


def test_python_calls_count_every_call_of_fun_and_jac():
    calls = {"fun": 0, "jac": 0}

    def fun(p):
        calls["fun"] += 1
        return residual(p)

    def jac(p):
        calls["jac"] += 1
        return jacobian(p)

    r = vrnmath.least_squares(fun, [1.0, 0.1, 0.0], jac=jac)
    assert r.python_calls == {"f": calls["fun"], "gradient": calls["jac"], "hessian": 0}
    assert r.nfev == calls["fun"] and r.njev == calls["jac"]
    calls["fun"] = 0
    d = vrnmath.least_squares(fun, [1.0, 0.1, 0.0])
    assert d.python_calls["f"] == calls["fun"] == d.nfev + d.nfev_differences


def fit_json(monkeypatch, *args, **kwargs):
    seen = []
    original = lsq_face.fit_result_from_json

    def keep(text):
        seen.append(json.loads(text))
        return original(text)

    monkeypatch.setattr(lsq_face, "fit_result_from_json", keep)
    r = vrnmath.least_squares(*args, **kwargs)
    assert len(seen) == 1
    return r, seen[0]


def field_of(key, path=""):
    return lsq_face._FIELDS.get(path + key, lsq_face._FIELDS.get(key, key))


FIT_RUNS = [
    ("defaults", residual, [4.0, 0.5, 1.0], {}),
    ("jacobian, dogleg, loss", residual, [4.0, 0.5, 1.0], {"jac": jacobian, "method": "dogleg", "loss": "huber"}),
    ("undetermined", lambda p: p[0] * p[1] * T + p[2] - Y, [1.0, 1.0, 0.0], {}),
    ("iteration limit", residual, [1.0, 0.1, 0.0], {"maxiter": 1, "fallbacks": False}),
]


@pytest.mark.parametrize("name, fun, x0, kwargs", FIT_RUNS, ids=[r[0] for r in FIT_RUNS])
def test_every_key_of_the_library_json_reaches_the_fit_result(monkeypatch, name, fun, x0, kwargs):
    r, raw = fit_json(monkeypatch, fun, x0, **kwargs)
    n, m = len(x0), T.size
    placed = {}
    for key, value in raw.items():
        if key != "fit":
            placed[field_of(key)] = value
    for key, value in raw["fit"].items():
        if key == "uncertainty":
            for k, v in value.items():
                placed[field_of(k, "fit.uncertainty.")] = v
        else:
            placed[field_of(key, "fit.")] = value
    for field, value in placed.items():
        assert field in r, field
        got = r[field]
        numbers = isinstance(value, list) and value and all(isinstance(v, (int, float)) for v in value)
        if numbers:
            np.testing.assert_array_equal(np.ravel(got), value, err_msg=field)
        elif isinstance(value, float) and math.isnan(value):
            assert math.isnan(got), field
        elif field not in ("method_number", "residual_variance"):
            assert got == value or (isinstance(got, np.ndarray) and got.size == 0 and value == []), field
    # SciPy's fields, shaped as SciPy's.
    assert r.fun.shape == (m,) and r.jac.shape == (m, n) and r.grad.shape == (n,)
    assert r.covariance.shape == (n, n) and r.correlation.shape == (n, n) and r.standard_errors.shape == (n,)
    assert r.status == raw["fit"]["status"] and r.engine_status == raw["status"]
    assert r.nfev == raw["fit"]["residual_evaluations"] and r.njev == raw["fit"]["jacobian_evaluations"]
    assert r.cost == raw["f"] == raw["fit"]["cost"]
    assert r.method in ("hook", "dogleg") and r.method_number == raw["method"]
    assert r.active_mask.tolist() == [0] * n


def test_rank_deficient_fit_is_not_unique():
    r = vrnmath.least_squares(lambda p: p[0] * p[1] * T + p[2] - (3.0 * T + 1.0 + NOISE), [1.0, 1.0, 0.0])
    assert r.outcome == "not-unique" and not r.success
    assert r.condition_number == math.inf or r.condition_number > 1e12
    assert np.isnan(r.covariance[0, 0]) and np.isfinite(r.covariance[2, 2])


def test_refusal_raises_the_library_sentence():
    with pytest.raises(ValueError, match=r"^ftol must be at least 0 and less than 1 \(got 1\)$"):
        vrnmath.least_squares(residual, [4.0, 0.5, 1.0], ftol=1.0)
    with pytest.raises(ValueError, match="not finite at the start point"):
        vrnmath.least_squares(lambda p: np.full(3, np.nan), [1.0, 2.0])
