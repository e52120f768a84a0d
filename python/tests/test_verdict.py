"""The verdict through the Python package: the same table as through vrn::Minimize and the
program, maximum-likelihood and regression fits whose f is large, the batch of type-curve
fits, and SciPy's spellings of the derivative options."""

import math
import sys

import numpy as np
import pytest

import vrnmath
from conftest import DATA

TABLE = [
    ("exp(-x)", lambda x: math.exp(-x[0]), [0.0], {}, False, None),
    ("x^2-y^2", lambda x: x[0] ** 2 - x[1] ** 2, [0.0, 0.0], {}, False, None),
    ("x^4-2x^2+y^2", lambda x: x[0] ** 4 - 2 * x[0] ** 2 + x[1] ** 2, [0.0, 1.0], {}, True, [1.0, 0.0]),
    ("(x-1e6)^2", lambda x: (x[0] - 1e6) ** 2, [0.0], {}, False, None),
    ("(x-3)^2+1e6, hook", lambda x: (x[0] - 3) ** 2 + 1e6, [0.0], {"method": "hook"}, False, None),
    ("1e12((x-1)^2+(y-2)^2)", lambda x: 1e12 * ((x[0] - 1) ** 2 + (x[1] - 2) ** 2), [0.0, 0.0], {}, True,
     [1.0, 2.0]),
]


@pytest.mark.parametrize("name,fun,x0,options,success,near", TABLE, ids=[row[0] for row in TABLE])
def test_table_of_verdicts(name, fun, x0, options, success, near):
    r = vrnmath.minimize(fun, x0, **options)
    assert r.success is success, r.warnings
    assert (r.status == 0) is success
    assert r.outcome == ("success" if success else r.outcome)
    if not success:
        assert r.warnings
    if near is not None:
        np.testing.assert_allclose(np.abs(r.x), near, atol=1e-3)


def gamma_negative_log_likelihood(data):
    n, s, logs = data.size, data.sum(), np.log(data).sum()

    def f(p):
        k, theta = p
        if k <= 0 or theta <= 0:
            return math.inf
        return n * (math.lgamma(k) + k * math.log(theta)) - (k - 1) * logs + s / theta

    def g(p):
        from scipy.special import digamma
        k, theta = p
        return np.array([n * (digamma(k) + math.log(theta)) - logs, n * k / theta - s / theta ** 2])

    return f, g


@pytest.mark.parametrize("method", ["line-search", "dogleg", "hook", "cg"])
def test_gamma_maximum_likelihood_with_large_f_is_a_success(method):
    scipy_stats = pytest.importorskip("scipy.stats")
    data = np.random.default_rng(7).gamma(shape=2.5, scale=1.7, size=10_000)
    f, g = gamma_negative_log_likelihood(data)
    r = vrnmath.minimize(f, [1.0, 1.0], jac=g, method=method)
    assert r.fun > 1e4
    assert r.success, r.warnings
    k, _, theta = scipy_stats.gamma.fit(data, floc=0)
    np.testing.assert_allclose(r.x, [k, theta], rtol=1e-4)


def test_logistic_regression_with_51_parameters_is_a_success():
    rng = np.random.default_rng(3)
    a = np.column_stack([np.ones(5000), rng.normal(size=(5000, 50))])
    w = rng.normal(scale=0.3, size=51)
    y = (rng.uniform(size=5000) < 1 / (1 + np.exp(-a @ w))).astype(float)

    def f(x):
        z = a @ x
        return float(np.sum(np.logaddexp(0, z) - y * z) + 0.5 * x @ x)

    def g(x):
        p = 1 / (1 + np.exp(-(a @ x)))
        return a.T @ (p - y) + x

    r = vrnmath.minimize(f, np.zeros(51), jac=g)
    assert r.fun > 1000
    assert r.success, r.warnings
    assert np.max(np.abs(g(r.x))) < 1e-3


def test_every_type_curve_fit_that_matches_the_truth_is_a_success():
    # The example beside the test data (the tests may run from a copy outside the tree).
    sys.path.insert(0, str(DATA.resolve().parents[1] / "examples" / "python"))
    from batch_dask import gradient, sum_of_squares, synthetic_curves

    truth, starts, data = synthetic_curves(200)
    results = vrnmath.minimize_many(sum_of_squares, starts, jac=gradient, batch_args=data)
    for r, t in zip(results, truth):
        # a, m and tau within a few standard errors of the truth (noise 0.02 on 60 samples).
        if np.all(np.abs(r.x - t) <= 0.05 * np.abs(t)):
            assert r.success, (r.code, r.warnings)


def test_scipy_spellings_of_the_derivatives():
    opt = pytest.importorskip("scipy.optimize")

    def f(x):
        return (x[0] - 1) ** 2 + 10 * (x[1] + 2) ** 2

    def g(x):
        return np.array([2 * (x[0] - 1), 20 * (x[1] + 2)])

    r = vrnmath.minimize(f, [0.0, 0.0], jac=g, hess=opt.BFGS())
    assert r.success and "secant" in r.derivatives
    r = vrnmath.minimize(f, [0.0, 0.0], jac="3-point")
    assert r.success and r.njev == 0 and r.derivatives.startswith("analytic gradient")
    r = vrnmath.minimize(f, [0.0, 0.0], jac=g, hess="2-point")
    assert r.success and "finite-difference Hessian" in r.derivatives
    with pytest.raises(ValueError, match="hessp is not supported"):
        vrnmath.minimize(f, [0.0, 0.0], jac=g, hessp=lambda x, p: p)
    with pytest.raises(ValueError, match="complex-step"):
        vrnmath.minimize(f, [0.0, 0.0], jac="cs")


def test_refusals_name_the_python_keyword():
    with pytest.raises(ValueError, match=r"^gtol must be greater than 0 and less than 1 \(got 5\)$"):
        vrnmath.minimize(lambda x: x[0] ** 2, [1.0], gtol=5)
    with pytest.raises(ValueError, match=r"^typical_f is not used with the tool driver$"):
        vrnmath.minimize(lambda x: x[0] ** 2, [1.0], driver="tool", typical_f=3)
    with pytest.raises(ValueError, match=r"^threads must be 1 to \d+"):
        vrnmath.minimize(lambda x: x[0] ** 2, [1.0], threads=100000)
    with pytest.raises(ValueError, match=r"^hess is not used by method 4"):
        vrnmath.minimize(lambda x: x[0] ** 2, [1.0], jac=lambda x: 2 * x, hess=lambda x: np.eye(1), method="cg")
