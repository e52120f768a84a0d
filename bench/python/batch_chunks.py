"""Times vrnmath.minimize_many on a Dask LocalCluster for several chunk sizes: the type-curve
fits of examples/python/batch_dask.py (3 parameters, 60 points, hook step, analytic gradient).

    PYTHONPATH=build/python /usr/bin/python3 bench/python/batch_chunks.py
    PYTHONPATH=build/python /usr/bin/python3 bench/python/batch_chunks.py --fits 1000 --repeat 3 --sizes 1 5 25 125

Every chunk size runs --repeat times, the sizes interleaved so that a burst of load on a
shared machine does not fall on one size only; the table gives the median and the range
of fits per second, and checks each batch against the in-process results bit for bit.
"default" is the chunk size minimize_many chooses itself.
"""

import argparse
import importlib.util
import pathlib
import statistics
import time

import vrnmath

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "python" / "batch_dask.py"


def load_example():
    found = importlib.util.spec_from_file_location("batch_dask", EXAMPLE)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--fits", type=int, default=1000)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--sizes", nargs="+", default=["1", "5", "25", "125", "default"])
    args = parser.parse_args()

    example = load_example()
    _, starts, data = example.synthetic_curves(args.fits)
    f, g = example.sum_of_squares, example.gradient
    started = time.perf_counter()
    serial = vrnmath.minimize_many(f, starts, jac=g, batch_args=data)
    serial_time = time.perf_counter() - started

    from dask.distributed import Client, LocalCluster

    times = {size: [] for size in args.sizes}
    with LocalCluster(n_workers=args.workers, threads_per_worker=1, dashboard_address=None,
                      silence_logs=40) as cluster, Client(cluster) as client:
        client.run(lambda: __import__("vrnmath"))
        vrnmath.minimize_many(f, starts[:20], jac=g, batch_args=data[:20], client=client)  # warm up
        for _ in range(args.repeat):
            for size in args.sizes:
                chunksize = None if size == "default" else int(size)
                started = time.perf_counter()
                remote = vrnmath.minimize_many(f, starts, jac=g, batch_args=data, client=client,
                                               chunksize=chunksize)
                times[size].append(time.perf_counter() - started)
                if not all(a.x.tobytes() == b.x.tobytes() and a.fun == b.fun for a, b in zip(serial, remote)):
                    raise SystemExit("chunk size %s: results differ from the in-process run" % size)
    print("in process: %.2f s, %.0f fits/s" % (serial_time, args.fits / serial_time))
    print("| chunk size | chunks | fits/s median | fits/s range | s median |")
    print("|---|---:|---:|---:|---:|")
    for size in args.sizes:
        rates = sorted(args.fits / t for t in times[size])
        if size == "default":
            chunks = "-"
        else:
            chunks = str(-(-args.fits // int(size)))
        print("| %s | %s | %.0f | %.0f to %.0f | %.2f |" % (size, chunks, statistics.median(rates), rates[0],
                                                            rates[-1], statistics.median(times[size])))
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
