"""vrnmath.least_squares and vrnmath.curve_fit: SciPy's signatures and fields, fits,
uncertainties, losses, refusals; compared with SciPy by tolerances only."""

import threading
import warnings

import numpy as np
import pytest

import vrnmath

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
