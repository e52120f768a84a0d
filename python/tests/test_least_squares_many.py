"""vrnmath.least_squares_many: batches of fits through minimize_many's machinery. Hostile
items become failures naming their index while the others equal single fits, in process
and on Dask; errors='raise', progress and the batch arguments behave as minimize_many's."""

import io

import numpy as np
import pytest

import vrnmath
from vrnmath import batch as batch_module

NORMAL, NAN_AT_START, RAISES = 0, 1, 2
HOSTILE = [0, 9, 23, 24, 41, 49]


def hostile_fits(count, hostile):
    """One decay a exp(-b t) + c fitted per item, each to its own data; the items in
    `hostile` alternate between residuals that are NaN at the start point and a model that
    raises. Built inside a function so that cloudpickle sends the model to Dask workers
    by value."""
    t = np.linspace(0.0, 6.0, 30)

    def fun(p, y, mode):
        if mode == RAISES:
            raise RuntimeError("hostile fit")
        r = p[0] * np.exp(-p[1] * t) + p[2] - y
        if mode == NAN_AT_START and p[0] == 1.0:
            r[3] = np.nan
        return r

    def jac(p, y, mode):
        e = np.exp(-p[1] * t)
        return np.column_stack([e, -p[0] * t * e, np.ones_like(t)])

    rng = np.random.default_rng(11)
    modes = [NORMAL] * count
    for k, i in enumerate(sorted(hostile)):
        modes[i] = NAN_AT_START if k % 2 == 0 else RAISES
    data = []
    for k in range(count):
        a, b, c = rng.uniform(1.0, 5.0), rng.uniform(0.2, 1.5), rng.uniform(-1.0, 1.0)
        y = a * np.exp(-b * t) + c + 0.01 * np.sin(7.0 * t + k)
        data.append((y, modes[k]))
    starts = [np.array([1.0, 0.5, 0.0]) for _ in range(count)]
    return fun, jac, starts, data


def same_fit(a, b):
    return (a.x.tobytes() == b.x.tobytes() and a.cost == b.cost and a.fun.tobytes() == b.fun.tobytes()
            and (a.nfev, a.njev, a.nit) == (b.nfev, b.njev, b.nit) and a.status == b.status
            and a.success == b.success and a.message == b.message
            and a.covariance.tobytes() == b.covariance.tobytes())


def check_hostile(results, fun, jac, starts, data, hostile, **options):
    assert len(results) == len(starts)
    for i, (x0, args, r) in enumerate(zip(starts, data, results)):
        mode = args[1]
        if mode == NORMAL:
            assert "item" not in r, i
            assert same_fit(r, vrnmath.least_squares(fun, x0, jac, args=args, **options)), i
            assert r.success, (i, r.message)
            continue
        assert not r.success and r.status == -1 and r.outcome == "refused" and r.item == i
        assert r.message.startswith("item %d: " % i) and r.message.count("item ") == 1, r.message
        if mode == RAISES:
            assert r.message == "item %d: RuntimeError: hostile fit" % i
        else:
            assert "not finite at the start point" in r.message, r.message
    assert sum("item" in r for r in results) == len(hostile)


@pytest.mark.parametrize("use_jac", [True, False])
def test_hostile_fits_in_process(use_jac):
    fun, jac, starts, data = hostile_fits(50, HOSTILE)
    jac = jac if use_jac else None
    seen = []
    results = vrnmath.least_squares_many(fun, starts, jac, batch_args=data, progress=lambda i, r: seen.append((i, r)))
    check_hostile(results, fun, jac, starts, data, HOSTILE)
    assert [i for i, _ in seen] == list(range(50))
    assert all(r is results[i] for i, r in seen)


def test_options_and_shared_args_reach_every_fit():
    fun, jac, starts, data = hostile_fits(6, [])
    # The same data set for every item through args; the options of least_squares.
    results = vrnmath.least_squares_many(fun, starts, args=data[2], method="dogleg", loss="soft_l1", f_scale=0.5,
                                         fallbacks=False)
    single = vrnmath.least_squares(fun, starts[0], args=data[2], method="dogleg", loss="soft_l1", f_scale=0.5,
                                   fallbacks=False)
    assert all(same_fit(r, single) for r in results)
    assert single.method == "dogleg" and single.loss == "soft_l1"

    def with_kwargs(p, y=None, mode=NORMAL):
        return fun(p, y, mode)

    kw = vrnmath.least_squares_many(with_kwargs, starts[:2], kwargs={"y": data[1][0]})
    assert same_fit(kw[0], vrnmath.least_squares(fun, starts[0], args=(data[1][0], NORMAL)))


def test_errors_raise_propagates_the_first_error():
    fun, jac, starts, data = hostile_fits(8, [3, 5])  # 3: NaN at the start, 5: raises
    with pytest.raises(ValueError, match="not finite at the start point"):
        vrnmath.least_squares_many(fun, starts, jac, batch_args=data, errors="raise")
    data[3] = (data[3][0], NORMAL)
    with pytest.raises(RuntimeError, match="^hostile fit$"):
        vrnmath.least_squares_many(fun, starts, jac, batch_args=data, errors="raise")


def test_refused_options_fail_every_item_or_raise():
    fun, jac, starts, data = hostile_fits(3, [])
    results = vrnmath.least_squares_many(fun, starts, batch_args=data, ftol=2.0)
    assert [r.message for r in results] == ["item %d: ftol must be at least 0 and less than 1 (got 2)" % i
                                            for i in range(3)]
    with pytest.raises(ValueError, match="^ftol must be"):
        vrnmath.least_squares_many(fun, starts, batch_args=data, ftol=2.0, errors="raise")


@pytest.mark.parametrize("kwargs, error, message", [
    ({"errors": "ignore"}, ValueError, "errors must be 'keep' or 'raise'"),
    ({"retries": 101}, ValueError, "retries must be an integer from 0 to 100"),
    ({"progress": "yes"}, ValueError, "progress must be False, True or a callable"),
    ({"batch_args": [(1,)]}, ValueError, "batch_args must have one entry per start point"),
    ({"hess": None}, TypeError, r"least_squares_many\(\) got an unexpected keyword argument 'hess'"),
    ({"x0": [1.0]}, TypeError, "unexpected keyword argument 'x0'"),
])
def test_bad_batch_arguments(kwargs, error, message):
    fun, jac, starts, data = hostile_fits(2, [])
    kwargs = dict(kwargs)
    kwargs.setdefault("batch_args", data)
    with pytest.raises(error, match=message):
        vrnmath.least_squares_many(fun, starts, **kwargs)


def test_empty_batch_and_progress_line(monkeypatch):
    assert vrnmath.least_squares_many(lambda p: p, []) == []
    monkeypatch.setattr(batch_module, "_tqdm", lambda: None)
    monkeypatch.setattr(batch_module, "LINE_INTERVAL_S", 0.0)
    stream = io.StringIO()
    monkeypatch.setattr("sys.stderr", stream)
    fun, jac, starts, data = hostile_fits(4, [1])
    vrnmath.least_squares_many(fun, starts, jac, batch_args=data, progress=True)
    shown = stream.getvalue().splitlines()
    assert len(shown) == 4 and shown[0].startswith("least_squares_many: 1/4 (25%), ")
    assert shown[-1].startswith("least_squares_many: 4/4 (100%), 1 failed, ")


@pytest.mark.parametrize("chunksize", [None, 1, 7])
def test_hostile_fits_on_dask_equal_serial_ones(client, chunksize):
    fun, jac, starts, data = hostile_fits(50, HOSTILE)
    reported = {}
    results = vrnmath.least_squares_many(fun, starts, jac, batch_args=data, client=client, chunksize=chunksize,
                                         progress=lambda i, r: reported.setdefault(i, []).append(r))
    check_hostile(results, fun, jac, starts, data, HOSTILE)
    serial = vrnmath.least_squares_many(fun, starts, jac, batch_args=data)
    assert all(same_fit(a, b) for a, b in zip(results, serial) if "item" not in b)
    assert sorted(reported) == list(range(50))
    assert all(len(v) == 1 and v[0] is results[i] for i, v in reported.items())


def test_errors_raise_on_dask(client):
    fun, jac, starts, data = hostile_fits(12, [4, 9])
    data[4] = (data[4][0], RAISES)
    with pytest.raises(RuntimeError, match="hostile fit"):
        vrnmath.least_squares_many(fun, starts, jac, batch_args=data, client=client, errors="raise", chunksize=3)
