"""vrnmath.minimize_many: independent minimizations, in this process or on a Dask cluster."""

import math

from ._minimize import minimize

__all__ = ["minimize_many"]


def _run_chunk(tasks, fun, jac, hess, method, options):
    """Runs a list of (x0, args) one after the other; executed on a Dask worker."""
    return [minimize(fun, x0, args, jac, hess, method, **options) for x0, args in tasks]


def minimize_many(fun, x0s, args=(), jac=None, hess=None, method="hook", *, batch_args=None, client=None,
                  chunksize=None, **options):
    """One vrnmath.minimize(fun, x0, args, jac, hess, method, **options) per start point
    in x0s; the results come back as a list in the order of x0s.

    batch_args  optional sequence, one args tuple per start point (for fits of many data
                sets with one objective); it replaces args.
    client      None runs the minimizations in this process, one after the other.
                A dask.distributed.Client submits them to its cluster in chunks of
                chunksize runs (default: about four chunks per worker) and gathers the
                results in order. fun, jac, hess, the arguments and callback must then
                be picklable (cloudpickle takes lambdas and closures), and callback and
                log run on the workers: use log=True to get the rows back in the
                results. The first exception raised in any run propagates.
    """
    starts = list(x0s)
    if batch_args is None:
        run_args = [args if isinstance(args, tuple) else (args,)] * len(starts)
    else:
        run_args = [a if isinstance(a, tuple) else (a,) for a in batch_args]
        if len(run_args) != len(starts):
            raise ValueError("batch_args must have one entry per start point (%d), got %d"
                             % (len(starts), len(run_args)))
    tasks = list(zip(starts, run_args))
    if client is None:
        # Not yet: compiled objectives (vrnmath.ReferenceProblem) on the C++ thread pool of
        # vrn::MinimizeMany; until then every batch runs here one minimization at a time.
        return _run_chunk(tasks, fun, jac, hess, method, options)

    log = options.get("log")
    if log not in (None, False, True):
        raise ValueError("with a client, log must be True (the rows come back in the results) or None")
    if not tasks:
        return []
    if chunksize is None:
        try:
            workers = max(1, len(client.scheduler_info().get("workers", {})))
        except Exception:  # a client that cannot say how many workers it has
            workers = 1
        chunksize = max(1, math.ceil(len(tasks) / (4 * workers)))
    elif isinstance(chunksize, bool) or not isinstance(chunksize, int) or chunksize < 1:
        raise ValueError("chunksize must be a positive integer, got %r" % (chunksize,))
    chunks = [tasks[i:i + chunksize] for i in range(0, len(tasks), chunksize)]
    futures = client.map(_run_chunk, chunks, fun=fun, jac=jac, hess=hess, method=method, options=options,
                         pure=False)
    try:
        parts = client.gather(futures)
    finally:
        for f in futures:
            f.release()
    return [r for part in parts for r in part]
