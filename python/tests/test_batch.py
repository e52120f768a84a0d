"""vrnmath.minimize_many: in-process batches equal single runs (compiled objectives
also on the library's threads), and a batch on a two-worker Dask LocalCluster gives
the serial results, in order, bit for bit."""

import numpy as np
import pytest

import vrnmath


def type_curve_fits(count):
    """count synthetic data sets of the curve p(t) = a - m ln(1 + t / tau) and the
    objective (sum of squares) with its gradient. Built inside a function, so that
    cloudpickle sends the functions to the workers by value."""
    rng = np.random.default_rng(2024)
    t = np.geomspace(0.01, 100.0, 40)

    def residual(x, t, p):
        a, m, tau = x
        with np.errstate(invalid="ignore", divide="ignore"):  # trial points may have tau <= 0
            return a - m * np.log1p(t / tau) - p

    def sum_of_squares(x, t, p):
        r = residual(x, t, p)
        return float(r @ r)

    def gradient(x, t, p):
        a, m, tau = x
        r = residual(x, t, p)
        with np.errstate(invalid="ignore", divide="ignore"):
            u = t / tau
            return 2.0 * np.array([r.sum(), -(r @ np.log1p(u)), r @ (m * u / (tau * (1.0 + u)))])

    data = []
    for _ in range(count):
        a, m, tau = rng.uniform(80, 120), rng.uniform(1, 5), rng.uniform(0.1, 3)
        p = a - m * np.log1p(t / tau) + rng.normal(0.0, 0.01, t.size)
        data.append((t, p))
    starts = [np.array([float(p[0]), 2.0, 1.0]) for _, p in data]
    return sum_of_squares, gradient, starts, data


def same(a, b):
    return (a.x.tobytes() == b.x.tobytes() and a.fun == b.fun and a.code == b.code and a.nit == b.nit
            and (a.nfev, a.njev, a.nhev) == (b.nfev, b.njev, b.nhev))


@pytest.fixture(scope="module")
def client():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  silence_logs=40) as cluster, distributed.Client(cluster) as c:
        yield c


@pytest.mark.parametrize("method", ["hook", "line-search", "dogleg"])
def test_in_process_batch_equals_single_runs(method):
    f, g, starts, data = type_curve_fits(5)
    batch = vrnmath.minimize_many(f, starts, jac=g, method=method, batch_args=data)
    assert len(batch) == 5
    for x0, args, r in zip(starts, data, batch):
        assert same(r, vrnmath.minimize(f, x0, args, jac=g, method=method))
        assert r.success, r.message


@pytest.mark.parametrize("chunksize", [None, 1, 7])
def test_dask_batch_equals_serial(client, chunksize):
    f, g, starts, data = type_curve_fits(20)
    serial = vrnmath.minimize_many(f, starts, jac=g, batch_args=data)
    remote = vrnmath.minimize_many(f, starts, jac=g, batch_args=data, client=client, chunksize=chunksize)
    assert len(remote) == 20
    assert all(same(a, b) for a, b in zip(serial, remote))
    assert sum(r.success for r in remote) == 20


def test_compiled_problems_and_logs_travel(client):
    p = vrnmath.problems.get("rosenbrock")
    starts = [p.x0, p.x0 * 0.5, np.array([2.0, 2.0])]
    serial = vrnmath.minimize_many(p, starts, jac=True, hess=True, log=True)
    remote = vrnmath.minimize_many(p, starts, jac=True, hess=True, log=True, client=client)
    assert all(same(a, b) and a.log == b.log and a.log for a, b in zip(serial, remote))


def test_an_exception_on_a_worker_propagates(client):
    def fails(x):
        raise ZeroDivisionError("on the worker")

    with pytest.raises(ZeroDivisionError, match="on the worker"):
        vrnmath.minimize_many(fails, [[1.0, 2.0]] * 3, client=client, errors="raise")


def test_an_exception_on_a_worker_is_kept_as_its_item(client):
    def fails_at_two(x):
        if x[0] == 2.0:
            raise ZeroDivisionError("on the worker")
        return float((x - 1.0) @ (x - 1.0))

    starts = [[1.5, 2.0], [2.0, 2.0], [0.0, 2.0], [2.0, 0.0]]
    results = vrnmath.minimize_many(fails_at_two, starts, client=client, chunksize=1)
    assert [r.success for r in results] == [True, False, True, False]
    for k in (1, 3):
        assert results[k].item == k and results[k].status == 2 and results[k].outcome == "refused"
        assert results[k].message == "item %d: ZeroDivisionError: on the worker" % k


@pytest.mark.parametrize("kwargs, message", [
    ({"batch_args": [()]}, "one entry per start point"),
    ({"chunksize": 0, "client": object()}, "chunksize"),
    ({"log": print, "client": object()}, "log must be True"),
])
def test_bad_batch_arguments(kwargs, message):
    with pytest.raises(ValueError, match=message):
        vrnmath.minimize_many(lambda x: float(x @ x), [[1.0, 2.0], [3.0, 4.0]], **kwargs)


def test_empty_batch():
    assert vrnmath.minimize_many(lambda x: 0.0, []) == []
    assert vrnmath.minimize_many(vrnmath.problems.get("beale"), [], threads=2) == []


def same_result(a, b):
    """Every field but the wall time."""
    assert sorted(a) == sorted(b)
    for key in a:
        if key == "time_s":
            continue
        if isinstance(a[key], np.ndarray):
            assert a[key].tobytes() == b[key].tobytes(), key
        else:
            assert a[key] == b[key] or (a[key] != a[key] and b[key] != b[key]), key
    return True


def spread_starts(p, count):
    rng = np.random.default_rng(7)
    return [p.x0 + rng.uniform(-0.5, 0.5, p.n) for _ in range(count)]


# Compiled problem, keyword arguments: the batch runs on vrn::MinimizeMany.
COMPILED = [
    ("rosenbrock", {"jac": True, "hess": True}),
    ("rosenbrock", {"jac": True, "method": "line-search", "secant": True}),
    ("wood", {"method": "dogleg"}),
    ("helical", {"jac": True, "method": "cg"}),
    ("powell", {"jac": True, "log": True}),
    ("beale", {"jac": True, "driver": "tool"}),
    ("quadratic", {"jac": True, "hess": True, "check_gradient": True, "check_hessian": True}),
]


@pytest.mark.parametrize("threads", [1, 2, 3])
@pytest.mark.parametrize("name, kwargs", COMPILED, ids=["%s-%d" % (c[0], i) for i, c in enumerate(COMPILED)])
def test_compiled_batch_on_threads_equals_single_runs(name, kwargs, threads):
    p = vrnmath.problems.get(name)
    starts = spread_starts(p, 7)
    batch = vrnmath.minimize_many(p, starts, threads=threads, **kwargs)
    assert len(batch) == len(starts)
    for x0, r in zip(starts, batch):
        assert same_result(r, vrnmath.minimize(p, x0, **kwargs))


@pytest.mark.parametrize("threads", [1, 2])
def test_python_objectives_ignore_batch_threads(threads):
    f, g, starts, data = type_curve_fits(3)
    batch = vrnmath.minimize_many(f, starts, jac=g, batch_args=data, threads=threads)
    for x0, args, r in zip(starts, data, batch):
        assert same_result(r, vrnmath.minimize(f, x0, args, jac=g))


def test_compiled_batch_with_a_python_callback_runs_in_order():
    p = vrnmath.problems.get("rosenbrock")
    seen = []
    batch = vrnmath.minimize_many(p, [p.x0, p.x0 * 0.5], jac=True, threads=2,
                                  callback=lambda xk: seen.append(xk.copy()))
    assert len(seen) == sum(r.nit for r in batch)
    assert np.array_equal(seen[-1], batch[-1].x)


@pytest.mark.parametrize("kwargs, message", [
    ({"cg_tol": 1e-6}, "^cg_tol is not used by method 2"),
    ({"threads": 0}, "threads must be an integer of at least 1"),
    ({"gtol": 2.0}, "gtol"),
])
def test_compiled_batch_refusals_raise(kwargs, message):
    p = vrnmath.problems.get("rosenbrock")
    with pytest.raises(ValueError, match=message):
        vrnmath.minimize_many(p, [p.x0, p.x0], jac=True, errors="raise", **kwargs)


@pytest.mark.parametrize("kwargs, message", [
    ({"cg_tol": 1e-6}, "cg_tol is not used by method 2"),
    ({"gtol": 2.0}, "gtol"),
])
def test_compiled_batch_refusals_are_kept_per_item(kwargs, message):
    p = vrnmath.problems.get("rosenbrock")
    results = vrnmath.minimize_many(p, [p.x0, p.x0], jac=True, **kwargs)
    for k, r in enumerate(results):
        assert not r.success and r.status == 2 and r.outcome == "refused" and r.item == k
        assert r.message.startswith("item %d: " % k) and message in r.message


def test_unknown_errors_value_is_refused():
    with pytest.raises(ValueError, match="errors must be 'keep' or 'raise'"):
        vrnmath.minimize_many(lambda x: float(x @ x), [[1.0, 2.0]], errors="ignore")


@pytest.mark.parametrize("compiled", [False, True])
def test_a_start_the_objective_cannot_evaluate_fails_only_its_item(compiled):
    p = vrnmath.problems.get("rosenbrock")  # f(1e200, 1) overflows to inf
    fun = p if compiled else (lambda x: p(x))
    starts = [p.x0, np.array([1e200, 1.0]), p.x0, np.array([1e200, 1.0])]
    with pytest.raises(ValueError, match=r"not finite at the start point \(f = inf\)"):
        vrnmath.minimize_many(fun, starts, threads=2, errors="raise")
    jac = True if compiled else p.jac
    results = vrnmath.minimize_many(fun, starts, threads=2, jac=jac)
    assert [r.success for r in results] == [True, False, True, False]
    for k in (1, 3):
        assert results[k].message == "item %d: the objective is not finite at the start point (f = inf)" % k
        assert results[k].item == k and results[k].status == 2
    assert same_result(results[0], vrnmath.minimize(fun, p.x0, jac=jac))


def test_unknown_keyword_is_a_type_error():
    p = vrnmath.problems.get("rosenbrock")
    with pytest.raises(TypeError, match="unexpected keyword argument 'gradtol'"):
        vrnmath.minimize_many(p, [p.x0], gradtol=1e-6)
