"""The result type of vrnmath.minimize."""

try:  # SciPy's own result type when SciPy is there, so results mix with SciPy's.
    from scipy.optimize import OptimizeResult as _SciPyResult
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

else:
    class _EmptyDict:
        def __repr__(self):
            return "{}"

    def _printable(value):
        """value with every empty dict in it replaced by a stand-in that prints as {}."""
        if isinstance(value, dict):
            return {k: _printable(v) for k, v in value.items()} if value else _EmptyDict()
        return value

    class OptimizeResult(_SciPyResult):
        """SciPy's result type, whose printout also copes with an empty nested dict (the
        "checks" of a run without derivative checks): SciPy's formatter fails on one."""

        def __repr__(self):
            return _SciPyResult.__repr__(_SciPyResult({k: _printable(v) for k, v in self.items()}))

__all__ = ["OptimizeResult"]
