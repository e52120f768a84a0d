"""The result type of vrnmath.minimize."""

try:  # SciPy's own result type when SciPy is there, so results mix with SciPy's.
    from scipy.optimize import OptimizeResult
except ImportError:  # pragma: no cover - exercised only without SciPy
    class OptimizeResult(dict):
        """A dict whose keys are also attributes (r.x is r["x"])."""

        def __getattr__(self, name):
            try:
                return self[name]
            except KeyError as e:
                raise AttributeError(name) from e

        __setattr__ = dict.__setitem__
        __delattr__ = dict.__delitem__

        def __repr__(self):
            if not self:
                return self.__class__.__name__ + "()"
            width = max(map(len, self.keys())) + 1
            return "\n".join(k.rjust(width) + ": " + repr(v) for k, v in sorted(self.items()))

        def __dir__(self):
            return list(self.keys())

__all__ = ["OptimizeResult"]
