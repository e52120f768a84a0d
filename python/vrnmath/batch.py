"""vrnmath.minimize_many: independent minimizations, in this process or on a Dask cluster."""

import inspect
import math
import re
import numbers

from . import _vrnmath
from ._minimize import _Call, minimize, result_from_json
from ._result import OptimizeResult

__all__ = ["minimize_many"]


def _failure(index, error):
    """The result of an item that could not run: not a success, with a message naming it."""
    message = "item %d: %s" % (index, error)
    return OptimizeResult(x=None, fun=math.nan, jac=None, success=False, status=2, outcome="refused", code=6,
                          message=message, warnings=[message], nit=0, nfev=0, njev=0, nhev=0, item=index,
                          error=error)


def _run_chunk(tasks, fun, jac, hess, method, options, threads=1, first_index=0, errors="keep"):
    """Runs a list of (x0, args); in this process or on a Dask worker.

    A compiled objective (vrnmath.ReferenceProblem, with its own derivatives or none) and
    no Python callback or log function run on the library's pool of `threads` threads
    (vrn::MinimizeMany), without the interpreter; anything else runs one minimization
    after the other. Both give what one vrnmath.minimize call per task gives. An item
    that is refused or raises becomes a failed result naming its index (errors="keep"),
    or raises (errors="raise")."""
    if not tasks:
        return []
    _check_keywords(options)
    calls, results = [], []
    for k, (x0, args) in enumerate(tasks):
        try:
            calls.append(_Call(fun, x0, args, jac, hess, method, **options))
        except ValueError as e:
            if errors == "raise":
                raise
            calls.append(_failure(first_index + k, e))
    ready = [c for c in calls if isinstance(c, _Call)]
    if ready and all(c.compiled and c.callback is None and c.row_sink is None for c in ready):
        first = ready[0]
        texts = iter(_vrnmath._minimize_many(fun, [c.x for c in ready], first.options, first.compiled_jac,
                                             first.compiled_hess, first.capture, threads))
    else:
        texts = None
    for k, c in enumerate(calls):
        if not isinstance(c, _Call):
            results.append(c)
            continue
        try:
            if texts is not None:
                try:
                    results.append(result_from_json(next(texts), c.capture))
                except ValueError as e:
                    # The library names the item by its place among the runs it was given;
                    # the index that means something here is added below.
                    raise ValueError(re.sub(r"^item \d+: ", "", str(e), count=1)) from None
            else:
                results.append(c.run())
        except (KeyboardInterrupt, SystemExit):
            raise
        except Exception as e:  # the item's own failure: kept as its result
            if errors == "raise":
                raise
            results.append(_failure(first_index + k, "%s: %s" % (type(e).__name__, e)
                                    if not isinstance(e, ValueError) else e))
    return results


def _run_chunk_at(tasks, first_index, **kwargs):
    """_run_chunk for a chunk whose first item has index first_index (Dask maps over both)."""
    return _run_chunk(tasks, first_index=first_index, **kwargs)


def _check_keywords(options):
    unknown = set(options) - set(_MINIMIZE_KEYWORDS)
    if unknown:
        raise TypeError("minimize_many() got an unexpected keyword argument %r" % sorted(unknown)[0])


def minimize_many(fun, x0s, args=(), jac=None, hess=None, method=None, *, batch_args=None, client=None,
                  chunksize=None, threads=1, errors="keep", **options):
    """One vrnmath.minimize(fun, x0, args, jac, hess, method, **options) per start point
    in x0s; the results come back as a list in the order of x0s.

    batch_args  optional sequence, one args tuple per start point (for fits of many data
                sets with one objective); it replaces args.
    threads     minimizations run side by side in this process (default 1, one after the
                other). Only a compiled objective (vrnmath.ReferenceProblem with jac and
                hess None or True, no callback, log None or True) uses them: each run has
                its own engine on the library's thread pool, without the interpreter lock,
                and gives what it gives alone. Python objectives always run one after the
                other (the interpreter lock would serialize them anyway). On a Dask
                cluster it applies within each chunk. Evaluation threads within a run
                (minimize's threads=) are not used here.
    client      None runs the minimizations in this process.
                A dask.distributed.Client submits them to its cluster in chunks of
                chunksize runs (default: about four chunks per worker) and gathers the
                results in order. fun, jac, hess, the arguments and callback must then
                be picklable (cloudpickle takes lambdas and closures), and callback and
                log run on the workers: use log=True to get the rows back in the
                results.
    errors      "keep" (default): an item that is refused (f not finite at its start
                point, say) or whose fun raises gets a result with success False, status
                2, outcome "refused" and a message naming its index ("item 17: ..."); the
                other items finish. "raise": the first such error propagates.
    """
    if errors not in ("keep", "raise"):
        raise ValueError("errors must be 'keep' or 'raise', got %r" % (errors,))
    if isinstance(threads, bool) or not isinstance(threads, numbers.Integral) or threads < 1:
        raise ValueError("threads must be an integer of at least 1, got %r" % (threads,))
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
        return _run_chunk(tasks, fun, jac, hess, method, options, int(threads), 0, errors)

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
    firsts = list(range(0, len(tasks), chunksize))
    futures = client.map(_run_chunk_at, chunks, firsts, fun=fun, jac=jac, hess=hess, method=method,
                         options=options, threads=int(threads), errors=errors, pure=False)
    try:
        parts = client.gather(futures)
    finally:
        for f in futures:
            f.release()
    return [r for part in parts for r in part]


_MINIMIZE_KEYWORDS = {name: p for name, p in inspect.signature(minimize).parameters.items()
                      if p.kind is inspect.Parameter.KEYWORD_ONLY}
