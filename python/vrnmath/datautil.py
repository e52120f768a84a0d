"""The data utilities on NumPy arrays.

The library itself leaves some conditions to its caller (ascending abscissae, enough
points, positive abscissae for logarithms) and answers otherwise with its null value or
meaningless numbers; these functions check them and raise ValueError instead. Input
arrays are never changed.
"""

import numbers
from typing import Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _vrnmath

FloatArray = npt.NDArray[np.float64]
IndexArray = npt.NDArray[np.intp]

#: The library's null value, marking a missing double.
NULL: float = _vrnmath.NULL_VALUE

__all__ = ["NULL", "bracket", "fit_type_curve", "indirect_sort", "interpolate", "normal_deviates", "slope"]


def _vector(name: str, a: npt.ArrayLike, minimum: int = 0) -> FloatArray:
    try:
        v = np.array(a, dtype=float)
    except (TypeError, ValueError) as e:
        raise ValueError("%s must be an array of real numbers: %s" % (name, e)) from None
    if v.ndim != 1:
        raise ValueError("%s must be one-dimensional, got shape %s" % (name, v.shape))
    if v.size < minimum:
        raise ValueError("%s needs at least %d values, got %d" % (name, minimum, v.size))
    return v


def _points(name: str, at: npt.ArrayLike) -> Tuple[FloatArray, bool]:
    p = np.array(at, dtype=float)
    return p, p.ndim == 0


def _ascending(name: str, v: FloatArray, strict: bool) -> None:
    d = np.diff(v)
    bad = np.flatnonzero(~(d > 0) if strict else ~(d >= 0))
    if bad.size:
        i = bad[0]
        raise ValueError("%s must be %sascending; %s[%d] = %r is followed by %r"
                         % (name, "strictly " if strict else "", name, i, float(v[i]), float(v[i + 1])))


def interpolate(x: npt.ArrayLike, y: npt.ArrayLike, at: npt.ArrayLike, *, derivative: bool = False,
                skip_null: bool = False) -> Union[float, FloatArray]:
    """The four-point Lagrange interpolant of the table (x, y) at the points at (or its
    derivative with derivative=True). Outside the table the first or last cubic is
    extrapolated. skip_null drops the pairs where x or y is missing (NULL, or NaN) and
    then needs at least 5 pairs; otherwise at least 4 points. x must be strictly
    ascending. Returns a float for a scalar at, else an array of at's shape."""
    xv = _vector("x", x)
    yv = _vector("y", y)
    if xv.size != yv.size:
        raise ValueError("x and y must have the same length, got %d and %d" % (xv.size, yv.size))
    if skip_null:
        xv[np.isnan(xv)] = NULL
        yv[np.isnan(yv)] = NULL
        kept = (xv != NULL) & (yv != NULL)
        if np.count_nonzero(kept) < 5:
            raise ValueError("interpolation skipping missing values needs at least 5 complete pairs, got %d"
                             % np.count_nonzero(kept))
        _ascending("x (without missing values)", xv[kept], strict=True)
    else:
        if xv.size < 4:
            raise ValueError("interpolation needs at least 4 points, got %d" % xv.size)
        if not (np.all(np.isfinite(xv))):
            raise ValueError("x must be finite (use skip_null=True for missing values)")
        _ascending("x", xv, strict=True)
    p, scalar = _points("at", at)
    out = _vrnmath._interpolate(xv, yv, np.ascontiguousarray(p.reshape(-1) if scalar else p),
                                bool(derivative), bool(skip_null))
    return float(out[0]) if scalar else out


def bracket(values: npt.ArrayLike, at: npt.ArrayLike) -> Union[int, IndexArray]:
    """Index i of the interval values[i] <= at < values[i+1] of an ascending array
    (at = values[-1] gives len - 2; values outside are clamped to the first or last
    interval). Needs at least 2 values. Returns an int for a scalar at."""
    v = _vector("values", values, minimum=2)
    if not np.all(np.isfinite(v)):
        raise ValueError("values must be finite")
    _ascending("values", v, strict=False)
    p, scalar = _points("at", at)
    out = _vrnmath._bracket(v, np.ascontiguousarray(p.reshape(-1) if scalar else p))
    return int(out[0]) if scalar else out.astype(np.intp)


def slope(x: npt.ArrayLike, y: npt.ArrayLike, *, weight_index: Optional[int] = None, weight: float = 1.0,
          semilog: bool = False) -> Tuple[float, float]:
    """(slope, intercept) of the least-squares line of y on x (on ln x with semilog=True),
    one point (weight_index) optionally weighted by weight. Needs two distinct x."""
    xv = _vector("x", x, minimum=2)
    yv = _vector("y", y)
    if xv.size != yv.size:
        raise ValueError("x and y must have the same length, got %d and %d" % (xv.size, yv.size))
    if np.unique(xv).size < 2:
        raise ValueError("a slope needs at least two distinct x values")
    if semilog and np.any(~(xv > 0)):
        raise ValueError("semilog slopes need x > 0")
    if weight_index is None:
        index = -1
    else:
        if isinstance(weight_index, bool) or not isinstance(weight_index, numbers.Integral) \
                or not -xv.size <= weight_index < xv.size:
            raise ValueError("weight_index must be an index into x (length %d), got %r" % (xv.size, weight_index))
        index = int(weight_index) % xv.size
    if not np.isfinite(weight):
        raise ValueError("weight must be finite, got %r" % (weight,))
    s, b = _vrnmath._slope(xv, yv, index, float(weight), bool(semilog))
    return float(s), float(b)


def fit_type_curve(nodes: npt.ArrayLike, t: npt.ArrayLike, p: npt.ArrayLike, tc: npt.ArrayLike, q: npt.ArrayLike, *,
                   constant: float = 0.0, fit_constant: bool = False) -> Tuple[FloatArray, float]:
    """Fits the type curve g on its nodes (at least 4, > 0, evenly spaced in ln) to the
    observations p at times t, modelled as p_i = c - sum_k dq_k g(t_i - tc_k) over the
    input changes tc (ascending) with levels q (dq_k = q_k - q_(k-1)). The constant c is
    constant, or fitted with fit_constant=True.
    Returns (g at the nodes, c); vrnmath.interpolate(nodes, g, t) evaluates the curve."""
    xv = _vector("nodes", nodes, minimum=4)
    if not np.all(np.isfinite(xv)) or np.any(xv <= 0):
        raise ValueError("nodes must be finite and greater than 0")
    _ascending("nodes", xv, strict=True)
    lx = np.log(xv)
    if not np.allclose(np.diff(lx), (lx[-1] - lx[0]) / (xv.size - 1), rtol=1e-6, atol=0.0):
        raise ValueError("nodes must be evenly spaced in ln x")
    tv = _vector("t", t, minimum=1)
    pv = _vector("p", p)
    if pv.size != tv.size:
        raise ValueError("t and p must have the same length, got %d and %d" % (tv.size, pv.size))
    tcv = _vector("tc", tc, minimum=1)
    _ascending("tc", tcv, strict=False)
    qv = _vector("q", q)
    if qv.size < tcv.size:
        raise ValueError("q needs one level per change (%d), got %d" % (tcv.size, qv.size))
    for name, v in (("t", tv), ("p", pv), ("tc", tcv), ("q", qv)):
        if not np.all(np.isfinite(v)):
            raise ValueError("%s must be finite" % name)
    if not np.isfinite(constant):
        raise ValueError("constant must be finite, got %r" % (constant,))
    g, c = _vrnmath._fit_type_curve(xv, tv, pv, tcv, qv, float(constant), bool(fit_constant))
    return g, float(c)


def indirect_sort(a: npt.ArrayLike) -> IndexArray:
    """The permutation that sorts a ascending: a[indirect_sort(a)] is sorted. Equal
    values keep no particular order."""
    v = _vector("a", a)
    if np.any(np.isnan(v)):
        raise ValueError("a must not hold NaN (it has no place in the order)")
    return _vrnmath._indirect_sort(v).astype(np.intp)


def normal_deviates(size: int, sigma: float = 1.0, mean: float = 0.0, *, seed: Optional[int] = None) -> FloatArray:
    """size normal deviates (polar method on the library's generator) with standard
    deviation sigma and mean mean. The generator is one for the whole process: a seed
    restarts its sequence, no seed reseeds it from the clock."""
    if isinstance(size, bool) or not isinstance(size, numbers.Integral) or size < 0:
        raise ValueError("size must be a non-negative integer, got %r" % (size,))
    if not (np.isfinite(sigma) and np.isfinite(mean)) or sigma < 0:
        raise ValueError("sigma must be finite and >= 0 and mean finite, got %r, %r" % (sigma, mean))
    if seed is not None and (isinstance(seed, bool) or not isinstance(seed, numbers.Integral)
                             or not 0 <= seed < 2 ** 32):
        raise ValueError("seed must be an integer from 0 to 2**32 - 1, got %r" % (seed,))
    return _vrnmath._normal_deviates(int(size), float(sigma), float(mean), None if seed is None else int(seed))
