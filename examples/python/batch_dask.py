"""Fits many synthetic type curves with vrnmath.minimize_many, in this process and on a
Dask cluster, and prints the throughput of both.

    PYTHONPATH=build/python /usr/bin/python3 examples/python/batch_dask.py
    PYTHONPATH=build/python /usr/bin/python3 examples/python/batch_dask.py --fits 200 --workers 4
    PYTHONPATH=build/python /usr/bin/python3 examples/python/batch_dask.py --scheduler scheduler:8786

Each data set is a drawdown-like curve p(t) = a - m ln(1 + t / tau) sampled at 60 times
with normal noise (the library's generator); each fit finds (a, m, tau) by least squares
with the hook-step method and an analytic gradient. Without --scheduler the script starts
a LocalCluster of --workers processes; with it, it connects to that scheduler (the
workers there need numpy and the vrnmath package on their PYTHONPATH).
"""

import argparse
import time
from collections import Counter

import numpy as np

import vrnmath

TIMES = np.geomspace(0.01, 100.0, 60)


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


def synthetic_curves(count, seed=1):
    rng = np.random.default_rng(seed)
    noise = vrnmath.normal_deviates(count * TIMES.size, sigma=0.02, seed=seed).reshape(count, TIMES.size)
    truth = np.column_stack([rng.uniform(80, 120, count), rng.uniform(1, 5, count), rng.uniform(0.1, 3, count)])
    data = [(TIMES, a - m * np.log1p(TIMES / tau) + e) for (a, m, tau), e in zip(truth, noise)]
    starts = [np.array([p[0], 2.0, 1.0]) for _, p in data]
    return truth, starts, data


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--fits", type=int, default=1000, help="number of curves to fit (default 1000)")
    parser.add_argument("--workers", type=int, default=2, help="LocalCluster worker processes (default 2)")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler, e.g. scheduler:8786")
    args = parser.parse_args()

    truth, starts, data = synthetic_curves(args.fits)

    started = time.perf_counter()
    serial = vrnmath.minimize_many(sum_of_squares, starts, jac=gradient, batch_args=data)
    serial_time = time.perf_counter() - started

    from dask.distributed import Client, LocalCluster

    if args.scheduler:
        cluster = None
        client = Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, dashboard_address=None)
        client = Client(cluster)
    try:
        workers = len(client.scheduler_info()["workers"])
        client.run(lambda: __import__("vrnmath"))  # load the module on every worker before timing
        started = time.perf_counter()
        remote = vrnmath.minimize_many(sum_of_squares, starts, jac=gradient, batch_args=data, client=client)
        remote_time = time.perf_counter() - started
    finally:
        client.close()
        if cluster is not None:
            cluster.close()

    same = all(a.x.tobytes() == b.x.tobytes() and a.fun == b.fun for a, b in zip(serial, remote))
    outcomes = Counter(r.message for r in remote)
    error = np.max(np.abs(np.array([r.x for r in remote]) - truth) / np.abs(truth), axis=0)
    print("fits: %d, largest relative error of (a, m, tau): %.2g %.2g %.2g" % (args.fits, *error))
    for message, count in outcomes.most_common():
        print("  %5d  %s" % (count, message))
    print("in process : %7.2f s  %8.1f fits/s" % (serial_time, args.fits / serial_time))
    print("dask (%d workers): %7.2f s  %8.1f fits/s" % (workers, remote_time, args.fits / remote_time))
    print("results identical to the in-process run: %s" % ("yes" if same else "NO"))
    return 0 if same else 1


if __name__ == "__main__":
    raise SystemExit(main())
