"""vrnmath.minimize_many keeps what it can: hostile items become failures naming their
index while the others equal single runs (in process, on the library's threads and on
Dask), progress is reported once per item, and a Dask worker killed mid-batch costs no
result."""

import io
import os
import signal

import numpy as np
import pytest

import vrnmath
from vrnmath import batch as batch_module

NORMAL, NOT_FINITE, RAISES = 0, 1, 2


def hostile_batch(count, hostile):
    """A shifted Rosenbrock valley per item; the items in `hostile` alternate between an
    objective that is inf at the start point and one that raises. Built inside a function
    so that cloudpickle sends the objective to Dask workers by value."""

    def fun(x, c, mode):
        if mode == RAISES:
            raise RuntimeError("hostile item")
        if mode == NOT_FINITE:
            return float("inf")
        return float(100.0 * (x[1] - (x[0] - c) ** 2) ** 2 + (1.0 - x[0] + c) ** 2)

    rng = np.random.default_rng(5)
    shifts = rng.uniform(-1.0, 1.0, count)
    modes = [NORMAL] * count
    for k, i in enumerate(sorted(hostile)):
        modes[i] = NOT_FINITE if k % 2 == 0 else RAISES
    starts = [np.array([c - 1.2, 1.0]) for c in shifts]
    return fun, starts, [(c, m) for c, m in zip(shifts, modes)]


HOSTILE = [0, 17, 101, 250, 399, 400, 512, 777, 998, 999]


def same(a, b):
    return (a.x.tobytes() == b.x.tobytes() and a.fun == b.fun and a.code == b.code and a.nit == b.nit
            and (a.nfev, a.njev, a.nhev) == (b.nfev, b.njev, b.nhev) and a.message == b.message)


def check_hostile_results(results, fun, starts, data):
    assert len(results) == len(starts)
    for i, (x0, args, r) in enumerate(zip(starts, data, results)):
        mode = args[1]
        if mode == NORMAL:
            assert same(r, vrnmath.minimize(fun, x0, args)), i
            continue
        assert not r.success and r.status == 2 and r.outcome == "refused" and r.item == i
        assert r.message.startswith("item %d: " % i), r.message
        assert r.message.count("item ") == 1, r.message
        if mode == RAISES:
            assert r.message == "item %d: RuntimeError: hostile item" % i
        else:
            assert r.message == "item %d: the objective is not finite at the start point (f = inf)" % i
    assert sum(r.success is False and r.outcome == "refused" for r in results) == len(HOSTILE)


def test_hostile_items_in_process():
    fun, starts, data = hostile_batch(1000, HOSTILE)
    results = vrnmath.minimize_many(fun, starts, batch_args=data)
    check_hostile_results(results, fun, starts, data)


def test_hostile_items_on_dask(client):
    fun, starts, data = hostile_batch(1000, HOSTILE)
    reported = {}
    results = vrnmath.minimize_many(fun, starts, batch_args=data, client=client,
                                    progress=lambda i, r: reported.setdefault(i, []).append(r))
    check_hostile_results(results, fun, starts, data)
    assert sorted(reported) == list(range(1000))
    assert all(len(v) == 1 and v[0] is results[i] for i, v in reported.items())


@pytest.mark.parametrize("chunksize", [1, 7, 300])
def test_failures_name_the_batch_index_in_every_chunk(client, chunksize):
    fun, starts, data = hostile_batch(40, [3, 7, 20, 39])
    results = vrnmath.minimize_many(fun, starts, batch_args=data, client=client, chunksize=chunksize)
    assert [r.item for r in results if "item" in r] == [3, 7, 20, 39]


@pytest.mark.parametrize("threads", [1, 2])
def test_hostile_starts_of_a_compiled_batch(threads):
    # Rosenbrock overflows to inf at x0 = 1e200; NaN in x0 is refused before the batch runs,
    # so the compiled batch holds fewer items than the list and must still name the list's index.
    p = vrnmath.problems.get("rosenbrock")
    rng = np.random.default_rng(3)
    starts = [p.x0 + rng.uniform(-0.5, 0.5, 2) for _ in range(1000)]
    bad_start = {5: np.array([np.nan, 1.0]), 300: np.array([1.0, np.inf])}
    overflow = [17, 18, 640, 999]
    for i, x in bad_start.items():
        starts[i] = x
    for i in overflow:
        starts[i] = np.array([1e200, 1.0])
    seen = []
    results = vrnmath.minimize_many(p, starts, jac=True, threads=threads,
                                    progress=lambda i, r: seen.append((i, r)))
    assert len(results) == 1000
    for i, (x0, r) in enumerate(zip(starts, results)):
        if i in bad_start:
            assert r.message.startswith("item %d: x0 must be finite" % i), r.message
        elif i in overflow:
            assert r.message == "item %d: the objective is not finite at the start point (f = inf)" % i
            assert r.item == i and not r.success
        else:
            assert same(r, vrnmath.minimize(p, x0, jac=True)), i
    assert sorted(i for i, _ in seen) == list(range(1000))
    assert all(r is results[i] for i, r in seen)


@pytest.mark.parametrize("compiled", [False, True])
def test_errors_raise_propagates_the_first_error(compiled):
    p = vrnmath.problems.get("rosenbrock")
    starts = [p.x0, np.array([1e200, 1.0]), p.x0]
    fun = p if compiled else (lambda x: p(x))
    with pytest.raises(ValueError, match=r"^the objective is not finite at the start point \(f = inf\)$"):
        vrnmath.minimize_many(fun, starts, errors="raise", threads=2)
    fun, starts, data = hostile_batch(5, [1, 3])  # item 1: inf, item 3: raises
    data[1] = (data[1][0], NORMAL)
    with pytest.raises(RuntimeError, match="hostile item"):
        vrnmath.minimize_many(fun, starts, batch_args=data, errors="raise")


def test_errors_raise_on_dask(client):
    fun, starts, data = hostile_batch(20, [4, 9])
    data[4] = (data[4][0], RAISES)
    with pytest.raises(RuntimeError, match="hostile item"):
        vrnmath.minimize_many(fun, starts, batch_args=data, client=client, errors="raise", chunksize=3)


def test_progress_callable_in_input_order_for_python_objectives():
    fun, starts, data = hostile_batch(30, [2, 11])
    seen = []
    results = vrnmath.minimize_many(fun, starts, batch_args=data, progress=lambda i, r: seen.append((i, r)))
    assert [i for i, _ in seen] == list(range(30))
    assert all(r is results[i] for i, r in seen)


@pytest.mark.parametrize("compiled", [False, True])
def test_an_exception_of_progress_propagates(compiled):
    p = vrnmath.problems.get("rosenbrock")
    fun = p if compiled else (lambda x: p(x))
    calls = []

    def progress(i, r):
        calls.append(i)
        raise KeyError("progress failed")

    with pytest.raises(KeyError, match="progress failed"):
        vrnmath.minimize_many(fun, [p.x0] * 6, threads=2, progress=progress)
    assert len(calls) == 1  # not called again after its error


def test_progress_bar_with_tqdm(capsys):
    pytest.importorskip("tqdm", reason="tqdm (python3-tqdm) is not installed")
    fun, starts, data = hostile_batch(20, [4])
    vrnmath.minimize_many(fun, starts, batch_args=data, progress=True)
    err = capsys.readouterr().err
    assert "minimize_many" in err and "20/20" in err and "failed=1" in err


class Terminal(io.StringIO):
    def isatty(self):
        return True


@pytest.mark.parametrize("tty", [False, True])
def test_plain_progress_line_without_tqdm(monkeypatch, tty):
    monkeypatch.setattr(batch_module, "_tqdm", lambda: None)
    monkeypatch.setattr(batch_module, "LINE_INTERVAL_S", 0.0)
    monkeypatch.setattr(batch_module, "TTY_INTERVAL_S", 0.0)
    stream = Terminal() if tty else io.StringIO()
    monkeypatch.setattr("sys.stderr", stream)
    fun, starts, data = hostile_batch(12, [4])
    vrnmath.minimize_many(fun, starts, batch_args=data, progress=True)
    text = stream.getvalue()
    if tty:
        assert text.count("\n") == 1 and text.endswith("\n") and text.count("\r") == 12
        shown = [s.rstrip() for s in text.rstrip("\n").split("\r")[1:]]
    else:
        assert "\r" not in text
        shown = text.splitlines()
    assert len(shown) == 12
    assert shown[0].startswith("minimize_many: 1/12 (8%), ") and shown[0].endswith(" left")
    assert shown[-1].startswith("minimize_many: 12/12 (100%), 1 failed, ") and " items/s, done in " in shown[-1]


def test_plain_progress_line_not_a_terminal_writes_seldom(monkeypatch):
    monkeypatch.setattr(batch_module, "_tqdm", lambda: None)
    stream = io.StringIO()
    monkeypatch.setattr("sys.stderr", stream)
    fun, starts, data = hostile_batch(50, [])
    vrnmath.minimize_many(fun, starts, batch_args=data, progress=True)
    assert stream.getvalue().splitlines()[-1].startswith("minimize_many: 50/50 (100%)")
    assert len(stream.getvalue().splitlines()) <= 2  # the batch takes well under 5 s


def test_no_progress_output_by_default(capsys):
    fun, starts, data = hostile_batch(5, [])
    vrnmath.minimize_many(fun, starts, batch_args=data)
    vrnmath.minimize_many(fun, [], progress=True)
    assert capsys.readouterr().err == ""


@pytest.mark.parametrize("kwargs, message", [
    ({"progress": "yes"}, "progress must be False, True or a callable"),
    ({"retries": -1}, "retries must be an integer from 0 to 100"),
    ({"retries": 101}, "retries must be an integer from 0 to 100"),
    ({"retries": True}, "retries must be an integer"),
    ({"retries": 1.5}, "retries must be an integer"),
    ({"errors": "ignore"}, "errors must be 'keep' or 'raise'"),
])
def test_bad_resilience_arguments(kwargs, message):
    with pytest.raises(ValueError, match=message):
        vrnmath.minimize_many(lambda x: float(x @ x), [[1.0, 2.0]], **kwargs)


@pytest.mark.parametrize("count, workers, chunk", [
    (1000, 2, 50), (1000, 8, 32), (10, 2, 2), (1, 0, 1), (0, 2, 1), (10 ** 5, 2, 50), (10 ** 6, 4, 500),
])
def test_default_chunk_size(count, workers, chunk):
    assert batch_module._default_chunksize(count, workers) == chunk


def test_a_killed_worker_loses_nothing():
    distributed = pytest.importorskip("distributed", reason="Dask's distributed (python3-distributed) is not "
                                      "installed")
    import time

    def slow(x, c):
        if x[0] == c - 1.2 and x[1] == 1.0:  # the start point: every chunk takes a while
            time.sleep(0.05)
        return float(100.0 * (x[1] - (x[0] - c) ** 2) ** 2 + (1.0 - x[0] + c) ** 2)

    shifts = np.linspace(-1.0, 1.0, 48)
    starts = [np.array([c - 1.2, 1.0]) for c in shifts]
    data = [(c,) for c in shifts]
    serial = vrnmath.minimize_many(slow, starts, batch_args=data)
    killed = []
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  silence_logs=50) as cluster, distributed.Client(cluster) as client:
        pids = client.run(os.getpid)

        def kill_one(i, r):
            if killed:
                return
            busy = [w for w, keys in client.processing().items() if keys and w in pids]
            if busy:
                os.kill(pids[busy[0]], signal.SIGKILL)
                killed.append(busy[0])

        remote = vrnmath.minimize_many(slow, starts, batch_args=data, client=client, chunksize=4,
                                       progress=kill_one)
        assert killed and pids[killed[0]] not in client.run(os.getpid).values()
    assert killed, "no worker was busy when the first chunk finished"
    assert len(remote) == len(serial)
    assert all(same(a, b) and b.success for a, b in zip(serial, remote))


def test_a_chunk_lost_for_good_becomes_failures_and_the_rest_is_kept():
    # With no allowed failures the scheduler gives up on a task at its worker's first
    # death (KilledWorker): the items of such chunks fail naming that, the others finish.
    distributed = pytest.importorskip("distributed", reason="Dask's distributed (python3-distributed) is not "
                                      "installed")
    import dask

    def deadly(x, c):
        if c == 0.0:
            os._exit(3)  # the worker process dies
        return float(100.0 * (x[1] - (x[0] - c) ** 2) ** 2 + (1.0 - x[0] + c) ** 2)

    shifts = [0.25 * (k + 1) for k in range(20)]
    shifts[13] = 0.0
    starts = [np.array([c - 1.2, 1.0]) for c in shifts]
    data = [(c,) for c in shifts]
    with dask.config.set({"distributed.scheduler.allowed-failures": 0}), distributed.LocalCluster(
            n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
            silence_logs=50) as cluster, distributed.Client(cluster) as client:
        remote = vrnmath.minimize_many(deadly, starts, batch_args=data, client=client, chunksize=4, retries=0)
        client.wait_for_workers(2, timeout=20)  # closing a cluster whose nanny is restarting a worker is slow
    assert len(remote) == 20
    lost = [i for i, r in enumerate(remote) if "item" in r]
    assert set(range(12, 16)) <= set(lost)  # the chunk of item 13
    for i, r in enumerate(remote):
        if i in lost:
            assert r.item == i and r.message.startswith("item %d: its chunk failed on the Dask cluster: " % i)
            assert "KilledWorker" in r.message
        else:
            assert same(r, vrnmath.minimize(deadly, starts[i], data[i]))
