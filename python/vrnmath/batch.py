"""vrnmath.minimize_many and vrnmath.least_squares_many: independent minimizations or
fits, in this process or on a Dask cluster.

Both faces share one batch machinery: a job (_MinimizeJob, _FitJob) says how one item is
set up, run and failed; _run_chunk runs a chunk of items with it (keeping or raising each
item's failure and reporting each finished item), _on_dask spreads the chunks over a
cluster with retries, and _Progress shows or reports the progress.
"""

import inspect
import math
import re
import numbers
import pickle
import sys
import time
from typing import Any, Callable, Iterable, List, Optional, Sequence, Union

from . import _vrnmath
from ._least_squares import least_squares
from ._minimize import _Call, minimize, result_from_json
from ._result import OptimizeResult

__all__ = ["minimize_many", "least_squares_many"]

#: Most times a Dask chunk whose task failed is run again (retries=).
MAX_RETRIES = 100


def _failure(index, error):
    """The result of a minimization that could not run: not a success, with a message naming it."""
    message = "item %d: %s" % (index, error)
    return OptimizeResult(x=None, fun=math.nan, jac=None, success=False, status=2, outcome="refused", code=6,
                          message=message, warnings=[message], nit=0, nfev=0, njev=0, nhev=0, item=index,
                          error=error)


def _fit_failure(index, error):
    """The result of a fit that could not run: not a success (SciPy's status -1), with a
    message naming it."""
    message = "item %d: %s" % (index, error)
    return OptimizeResult(x=None, cost=math.nan, fun=None, jac=None, grad=None, optimality=math.nan,
                          success=False, status=-1, outcome="refused", code=6, message=message,
                          warnings=[message], nit=0, nfev=0, njev=0, item=index, error=error)


def _error_text(e):
    """An item's exception as its failure names it (a ValueError is the library's refusal)."""
    return e if isinstance(e, ValueError) else "%s: %s" % (type(e).__name__, e)


class _MinimizeJob:
    """One vrnmath.minimize per item (minimize_many). Travels to Dask workers with its
    callables (cloudpickle takes lambdas and closures)."""

    name = "minimize_many"

    def __init__(self, fun, jac, hess, method, options, threads=1):
        self.fun, self.jac, self.hess, self.method = fun, jac, hess, method
        self.options, self.threads = options, threads

    def check(self):
        unknown = set(self.options) - set(_MINIMIZE_KEYWORDS)
        if unknown:
            raise TypeError("minimize_many() got an unexpected keyword argument %r" % sorted(unknown)[0])

    def setup(self, x0, args):
        """The item's run, ready to go; ValueError when the item is refused before it runs."""
        return _Call(self.fun, x0, args, self.jac, self.hess, self.method, **self.options)

    @staticmethod
    def run(call):
        return call.run()

    failure = staticmethod(_failure)

    def run_together(self, ready, results, first_index, errors, on_item):
        """Runs the set-up items (position, call) side by side when they can: a compiled
        objective (vrnmath.ReferenceProblem, with its own derivatives or none) and no Python
        callback or log function run on the library's pool of `threads` threads
        (vrn::MinimizeMany), without the interpreter. Returns False when they cannot."""
        calls = [c for _, c in ready]
        if not (calls and all(c.compiled and c.callback is None and c.row_sink is None for c in calls)):
            return False
        first = calls[0]
        positions = [k for k, _ in ready]

        def convert(local, text):
            k = positions[local]
            return _compiled_result(text, first.capture, first_index + k, local, errors)

        done = {}

        def item_done(local, text):
            done[local] = convert(local, text)
            on_item(first_index + positions[local], done[local])

        texts = _vrnmath._minimize_many(self.fun, [c.x for c in calls], first.options, first.compiled_jac,
                                        first.compiled_hess, first.capture, self.threads,
                                        item_done if on_item is not None else None)
        for local, text in enumerate(texts):
            results[positions[local]] = done[local] if local in done else convert(local, text)
        return True


class _FitJob:
    """One vrnmath.least_squares per item (least_squares_many)."""

    name = "least_squares_many"

    def __init__(self, fun, jac, kwargs, options):
        self.fun, self.jac, self.kwargs, self.options = fun, jac, kwargs, options

    def check(self):
        unknown = set(self.options) - set(_FIT_KEYWORDS)
        if unknown:
            raise TypeError("least_squares_many() got an unexpected keyword argument %r" % sorted(unknown)[0])

    @staticmethod
    def setup(x0, args):
        return x0, args

    def run(self, item):
        x0, args = item
        return least_squares(self.fun, x0, self.jac, args=args, kwargs=self.kwargs, **self.options)

    failure = staticmethod(_fit_failure)

    @staticmethod
    def run_together(ready, results, first_index, errors, on_item):
        return False


def _compiled_result(text, capture, index, local, errors):
    """The result of item `index` from vrn::MinimizeMany's JSON, where the item was number
    `local` of the compiled batch (whose refusal messages begin "item <local>: ")."""
    try:
        return result_from_json(text, capture)
    except ValueError as e:
        why = str(e)
        prefix = "item %d: " % local
        if why.startswith(prefix):
            why = why[len(prefix):]
        if errors == "raise":
            raise ValueError(why) from None
        return _failure(index, why)


def _run_chunk(tasks, job, first_index=0, errors="keep", on_item=None):
    """Runs a list of (x0, args) with the job; in this process or on a Dask worker.

    The items run side by side where the job can (a compiled minimization batch), else one
    after the other; both give what one call of the job's function per task gives. An item
    that is refused or raises becomes a failed result naming its index (errors="keep"),
    or raises (errors="raise"). on_item(index, result), if given, is called once per
    finished item (for a compiled batch on threads: in the order they finish, from the
    library's threads, one call at a time)."""
    if not tasks:
        return []
    job.check()
    results = [None] * len(tasks)
    ready = []  # (position, item) of the items that could be set up
    for k, (x0, args) in enumerate(tasks):
        try:
            ready.append((k, job.setup(x0, args)))
        except ValueError as e:
            if errors == "raise":
                raise
            results[k] = job.failure(first_index + k, e)
            if on_item is not None:
                on_item(first_index + k, results[k])
    if job.run_together(ready, results, first_index, errors, on_item):
        return results
    for k, item in ready:
        try:
            results[k] = job.run(item)
        except (KeyboardInterrupt, SystemExit):
            raise
        except Exception as e:  # the item's own failure: kept as its result
            if errors == "raise":
                raise
            results[k] = job.failure(first_index + k, _error_text(e))
        if on_item is not None:
            on_item(first_index + k, results[k])
    return results


def _picklable(error):
    try:
        pickle.dumps(error)
        return error
    except Exception:
        return repr(error)


def _run_chunk_at(tasks, first_index, job, errors):
    """_run_chunk for a chunk whose first item has index first_index (Dask maps over both).
    A failure's exception that cannot travel back to the client travels as its text."""
    results = _run_chunk(tasks, job, first_index, errors)
    for r in results:
        if "error" in r:
            r["error"] = _picklable(r["error"])
    return results


# ---------------------------------------------------------------------------- progress

#: Seconds between two lines of the plain progress display when stderr is not a terminal,
#: and between two rewrites of the line when it is.
LINE_INTERVAL_S = 5.0
TTY_INTERVAL_S = 0.2


def _tqdm():
    """tqdm's bar class, or None when tqdm is not installed."""
    try:
        from tqdm import tqdm
    except ImportError:
        return None
    return tqdm


def _duration_text(seconds):
    if not math.isfinite(seconds):
        return "?"
    seconds = int(round(seconds))
    if seconds >= 3600:
        return "%d:%02d:%02d" % (seconds // 3600, seconds // 60 % 60, seconds % 60)
    return "%d:%02d" % (seconds // 60, seconds % 60)


class _Line:
    """A plain progress display on a stream: one line rewritten in place on a terminal,
    else a new line every LINE_INTERVAL_S seconds (and the last one at the end)."""

    def __init__(self, total, stream, name):
        self.total, self.stream, self.name = total, stream, name
        self.done = self.failed = 0
        self.started = self.shown = time.monotonic()
        try:
            self.tty = bool(stream.isatty())
        except Exception:  # a stream that cannot say
            self.tty = False
        self.width = 0

    def text(self, now):
        elapsed = now - self.started
        rate = self.done / elapsed if elapsed > 0 else math.nan
        left = (self.total - self.done) / rate if rate > 0 else math.nan
        text = "%s: %d/%d (%d%%)" % (self.name, self.done, self.total, 100 * self.done // max(self.total, 1))
        if self.failed:
            text += ", %d failed" % self.failed
        text += ", %s items/s" % (("%.0f" if rate >= 100 else "%.3g") % rate if math.isfinite(rate) else "?")
        if self.done < self.total:
            text += ", %s left" % _duration_text(left)
        else:
            text += ", done in %s" % _duration_text(elapsed)
        return text

    def write(self, now):
        text = self.text(now)
        if self.tty:
            self.stream.write("\r" + text.ljust(self.width))
            self.width = len(text)
        else:
            self.stream.write(text + "\n")
        self.stream.flush()
        self.shown = now

    def update(self, failed):
        self.done += 1
        self.failed += bool(failed)
        now = time.monotonic()
        if self.done == self.total or now - self.shown >= (TTY_INTERVAL_S if self.tty else LINE_INTERVAL_S):
            self.write(now)

    def close(self):
        if self.tty and self.width:
            self.stream.write("\n")
            self.stream.flush()


class _Bar:
    """tqdm's bar with the count of failed items beside it."""

    def __init__(self, tqdm, total, stream, name):
        self.bar = tqdm(total=total, desc=name, unit="item", file=stream)
        self.failed = 0

    def update(self, failed):
        if failed:
            self.failed += 1
            self.bar.set_postfix(failed=self.failed, refresh=False)
        self.bar.update(1)

    def close(self):
        self.bar.close()


class _Progress:
    """What a batch reports per finished item: nothing, a display (headed with the
    batch's name), or the user's progress(index, result). Each item is reported once."""

    def __init__(self, progress, total, name):
        self.display = self.call = None
        if progress is None or progress is False:
            return
        if progress is True:
            if total:
                tqdm = _tqdm()
                stream = sys.stderr
                self.display = (_Bar(tqdm, total, stream, name) if tqdm is not None
                                else _Line(total, stream, name))
        elif callable(progress):
            self.call = progress
        else:
            raise ValueError("progress must be False, True or a callable progress(index, result), got %r"
                             % (progress,))

    @property
    def active(self):
        return self.display is not None or self.call is not None

    def __call__(self, index, result):
        if self.display is not None:
            self.display.update(not result.get("success", False))
        if self.call is not None:
            self.call(index, result)

    def close(self):
        if self.display is not None:
            self.display.close()


# ---------------------------------------------------------------------------- Dask

#: The default chunk size (docs/performance.md, "Batches on Dask: chunk size"): about
#: CHUNKS_PER_WORKER chunks per worker, none larger than MAX_DEFAULT_CHUNK items, unless
#: that would make more than MAX_DEFAULT_TASKS tasks.
CHUNKS_PER_WORKER = 4
MAX_DEFAULT_CHUNK = 50
MAX_DEFAULT_TASKS = 2000


def _default_chunksize(count, workers):
    per_worker = math.ceil(count / (CHUNKS_PER_WORKER * max(1, workers)))
    return max(1, min(MAX_DEFAULT_CHUNK, per_worker), math.ceil(count / MAX_DEFAULT_TASKS))


def _on_dask(client, tasks, chunksize, retries, errors, report, job):
    """The results of the tasks run in chunks on the client's cluster, in input order; each
    chunk is reported as it finishes. With errors="keep" a chunk that still fails after its
    retries gives each of its items a failed result naming the chunk's error."""
    from distributed import as_completed

    if chunksize is None:
        try:
            workers = len(client.scheduler_info().get("workers", {}))
        except Exception:  # a client that cannot say how many workers it has
            workers = 1
        chunksize = _default_chunksize(len(tasks), workers)
    firsts = list(range(0, len(tasks), chunksize))
    chunks = [tasks[i:i + chunksize] for i in firsts]
    # An item's error with errors="raise" would fail again: such chunks are not retried.
    futures = client.map(_run_chunk_at, chunks, firsts, pure=False, retries=retries if errors == "keep" else 0,
                         job=job, errors=errors)
    where = {f.key: k for k, f in enumerate(futures)}
    parts = [None] * len(chunks)
    try:
        for future in as_completed(futures):
            k = where[future.key]
            if parts[k] is not None:  # a chunk reported twice (lost and computed again)
                continue
            try:
                part = future.result()
            except (KeyboardInterrupt, SystemExit):
                raise
            except Exception as e:
                if errors == "raise":
                    raise
                why = "its chunk failed on the Dask cluster: %s" % _error_text(e)
                part = [job.failure(firsts[k] + j, why) for j in range(len(chunks[k]))]
            parts[k] = part
            for j, r in enumerate(part):
                report(firsts[k] + j, r)
    finally:
        for f in futures:
            f.release()
    return [r for part in parts for r in part]


# ---------------------------------------------------------------------------- the faces


def _tasks(x0s, args, batch_args):
    """The (x0, args) of every item."""
    starts = list(x0s)
    if batch_args is None:
        run_args = [args if isinstance(args, tuple) else (args,)] * len(starts)
    else:
        run_args = [a if isinstance(a, tuple) else (a,) for a in batch_args]
        if len(run_args) != len(starts):
            raise ValueError("batch_args must have one entry per start point (%d), got %d"
                             % (len(starts), len(run_args)))
    return list(zip(starts, run_args))


def _run_batch(job, tasks, client, chunksize, errors, progress, retries):
    """The results of the job on every task, in input order: in this process, or on the
    client's cluster in chunks; progress is reported once per finished item."""
    if errors not in ("keep", "raise"):
        raise ValueError("errors must be 'keep' or 'raise', got %r" % (errors,))
    if (isinstance(retries, bool) or not isinstance(retries, numbers.Integral)
            or not 0 <= retries <= MAX_RETRIES):
        raise ValueError("retries must be an integer from 0 to %d, got %r" % (MAX_RETRIES, retries))
    if client is not None and chunksize is not None and (
            isinstance(chunksize, bool) or not isinstance(chunksize, numbers.Integral) or chunksize < 1):
        raise ValueError("chunksize must be a positive integer, got %r" % (chunksize,))
    report = _Progress(progress, len(tasks), job.name)
    try:
        if client is None:
            return _run_chunk(tasks, job, 0, errors, report if report.active else None)
        if not tasks:
            return []
        job.check()
        return _on_dask(client, tasks, None if chunksize is None else int(chunksize), int(retries), errors,
                        report, job)
    finally:
        report.close()


def minimize_many(fun: Callable[..., Any], x0s: Iterable[Any], args: Any = (), jac: Any = None, hess: Any = None,
                  method: Union[None, str, int] = None, *, batch_args: Optional[Sequence[Any]] = None,
                  client: Any = None, chunksize: Optional[int] = None, threads: int = 1, errors: str = "keep",
                  progress: Union[bool, Callable[[int, OptimizeResult], Any]] = False, retries: int = 3,
                  **options: Any) -> List[OptimizeResult]:
    """Run one ``vrnmath.minimize(fun, x0, args, jac, hess, method, **options)`` per start point.

    Parameters
    ----------
    fun, args, jac, hess, method
        As for ``vrnmath.minimize``; shared by all items. Defaults: ``args=()``,
        ``jac=None``, ``hess=None``, ``method=None`` (the library's default method).
    x0s : iterable of array_like
        The start points, one per item.
    batch_args : sequence of tuple, optional
        One args tuple per start point (fits of many data sets with one objective); it
        replaces args. Default: None (every item gets args).
    client : dask.distributed.Client, optional
        None (default) runs the items in this process. A client submits them to its
        cluster in chunks of chunksize items and gathers the results; fun, jac, hess, the
        arguments and callback must then be picklable (cloudpickle takes lambdas and
        closures), and callback and log run on the workers: use ``log=True`` to get the
        rows back in the results.
    chunksize : int, optional
        Items per Dask task. Default: None, about four chunks per worker, at most 50
        items per chunk unless that makes more than 2,000 chunks (the measurement behind it
        is in docs/performance.md). Ignored without a client.
    threads : int, optional
        Minimizations run side by side in this process (on a Dask cluster: within each
        chunk). Default: 1, one after the other. Only a compiled objective
        (``vrnmath.ReferenceProblem`` with jac and hess None or True, no callback, log
        None or True) uses them: each run has its own engine on the library's thread
        pool, without the interpreter lock, and gives what it gives alone. Python
        objectives always run one after the other. minimize's evaluation threads are not
        used here.
    errors : {'keep', 'raise'}, optional
        Default ``'keep'``: an item that is refused (f not finite at its start point, a
        bad start point, say) or whose fun, jac or hess raises gets a result with
        ``success`` False, ``status`` 2, ``outcome`` ``'refused'``, ``code`` 6, ``item``
        (its index), ``error`` (the exception or the library's reason) and a message that
        names its index ("item 17: ..."); the other items finish. ``'raise'``: the first
        such error propagates and no results are returned.
    progress : bool or callable, optional
        Default False: nothing is reported. True shows a progress bar with the count, the
        rate and the time left on stderr: tqdm's when tqdm is installed, else one line
        rewritten in place on a terminal, or a new line every 5 seconds when stderr is not
        a terminal. A callable is called as ``progress(index, result)`` once per finished
        item: in input order for Python objectives, in the order the items finish for a
        compiled batch on several threads (from those threads, one call at a time), as
        each chunk finishes on Dask (always in this process). An exception it raises
        propagates (a compiled batch finishes its items first).
    retries : int, optional
        Default 3: on Dask, times a chunk whose task fails is run again (0 to 100). A
        chunk whose worker dies is run again on another worker by the scheduler as well,
        so the results stay complete and identical to serial ones. Not used with
        ``errors='raise'`` (an item's error would repeat) or without a client.
    **options
        The keyword options of ``vrnmath.minimize`` (callback, log, gtol, maxiter, ...),
        the same for every item; each one's default is minimize's.

    Returns
    -------
    list of OptimizeResult
        One result per start point, in the order of x0s.

    Raises
    ------
    ValueError
        For bad batch arguments (errors, threads, chunksize, retries, progress,
        batch_args of another length, a log function with a client), and with
        ``errors='raise'`` for the first refused item.
    TypeError
        For a keyword minimize does not have.
    """
    if errors not in ("keep", "raise"):
        raise ValueError("errors must be 'keep' or 'raise', got %r" % (errors,))
    if isinstance(threads, bool) or not isinstance(threads, numbers.Integral) or threads < 1:
        raise ValueError("threads must be an integer of at least 1, got %r" % (threads,))
    tasks = _tasks(x0s, args, batch_args)
    if client is not None and options.get("log") not in (None, False, True):
        raise ValueError("with a client, log must be True (the rows come back in the results) or None")
    job = _MinimizeJob(fun, jac, hess, method, options, int(threads))
    return _run_batch(job, tasks, client, chunksize, errors, progress, retries)


def least_squares_many(fun: Callable[..., Any], x0s: Iterable[Any], jac: Any = None, *, args: Any = (),
                       kwargs: Optional[dict] = None, batch_args: Optional[Sequence[Any]] = None,
                       client: Any = None, chunksize: Optional[int] = None, errors: str = "keep",
                       progress: Union[bool, Callable[[int, OptimizeResult], Any]] = False, retries: int = 3,
                       **options: Any) -> List[OptimizeResult]:
    """Run one ``vrnmath.least_squares(fun, x0, jac, args=args, kwargs=kwargs, **options)`` per start point.

    The batch machinery is minimize_many's: the same chunks, retries, progress and keeping
    of failures, in this process or on a Dask cluster.

    Parameters
    ----------
    fun, jac
        As for ``vrnmath.least_squares``; shared by all items. Default: ``jac=None``
        (``'2-point'`` differences).
    x0s : iterable of array_like
        The start points, one per item.
    args, kwargs : tuple and dict, optional
        Extra arguments of fun and jac, the same for every item. Default: ``()`` and
        None.
    batch_args : sequence of tuple, optional
        One args tuple per start point (one model fitted to many data sets); it replaces
        args. Default: None (every item gets args).
    client : dask.distributed.Client, optional
        None (default) runs the fits in this process, one after the other. A client
        submits them to its cluster in chunks of chunksize items and gathers the results;
        fun, jac and the arguments must then be picklable (cloudpickle takes lambdas and
        closures).
    chunksize : int, optional
        Items per Dask task. Default: None, as for minimize_many (about four chunks per
        worker, at most 50 items per chunk unless that makes more than 2,000 chunks).
        Ignored without a client.
    errors : {'keep', 'raise'}, optional
        Default ``'keep'``: an item that is refused (residuals not finite at its start
        point, a bad start point, say) or whose fun or jac raises gets a result with
        ``success`` False, ``status`` -1, ``outcome`` ``'refused'``, ``code`` 6, ``item``
        (its index), ``error`` (the exception or the library's reason) and a message that
        names its index ("item 17: ..."); the other items finish. ``'raise'``: the first
        such error propagates and no results are returned.
    progress : bool or callable, optional
        Default False: nothing is reported. True shows a progress bar on stderr (tqdm's
        when it is installed, else a plain line); a callable is called as
        ``progress(index, result)`` once per finished item: in input order in this
        process, as each chunk finishes on Dask (always in this process). An exception it
        raises propagates.
    retries : int, optional
        Default 3: on Dask, times a chunk whose task fails is run again (0 to 100). Not
        used with ``errors='raise'`` or without a client.
    **options
        The keyword options of ``vrnmath.least_squares`` (method, ftol, xtol, gtol,
        x_scale, loss, f_scale, max_nfev, maxiter, trust_radius, success_tol, fallbacks,
        absolute_sigma, threads, ...), the same for every item; each one's default is
        least_squares'. threads are each fit's evaluation threads.

    Returns
    -------
    list of OptimizeResult
        One result per start point, in the order of x0s, each what least_squares gives.

    Raises
    ------
    ValueError
        For bad batch arguments (errors, chunksize, retries, progress, batch_args of
        another length), and with ``errors='raise'`` for the first refused item.
    TypeError
        For a keyword least_squares does not have.
    """
    if not callable(fun):
        raise ValueError("fun must be callable, got %r" % (fun,))
    tasks = _tasks(x0s, args, batch_args)
    job = _FitJob(fun, jac, None if kwargs is None else dict(kwargs), options)
    return _run_batch(job, tasks, client, chunksize, errors, progress, retries)


_MINIMIZE_KEYWORDS = {name: p for name, p in inspect.signature(minimize).parameters.items()
                      if p.kind is inspect.Parameter.KEYWORD_ONLY}
# least_squares' options beyond what least_squares_many takes itself.
_FIT_KEYWORDS = {name: p for name, p in inspect.signature(least_squares).parameters.items()
                 if name not in ("fun", "x0", "jac", "args", "kwargs")}
