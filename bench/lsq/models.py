"""The regression set of the least-squares benchmark: models with synthetic data, each
from a near and a far start point.

Every model is written with NumPy functions that accept complex arguments, so that its
Jacobian is taken by complex steps (exact to rounding) and counts as an analytic one.
The data are the model at the true parameters plus a fixed pseudo-random noise (none
for the zero-residual problem); the reference answer is the least-squares solution found
by a tight fit started at the true parameters (see run.py).
"""

import numpy as np

RNG = np.random.default_rng(20261208)


def _noise(size, scale):
    return scale * RNG.standard_normal(size)


class Model:
    def __init__(self, name, kind, f, x, truth, starts, noise, zero=False, digits=None, relative=False):
        self.name = name
        self.kind = kind
        self.f = f
        self.x = np.asarray(x, dtype=float)
        self.truth = np.asarray(truth, dtype=float)
        self.starts = [np.asarray(s, dtype=float) for s in starts]
        clean = np.real(f(self.truth, self.x))
        if digits is not None:
            # Nearly exact data: the model rounded to this many significant digits.
            self.y = np.array([float("%.*e" % (digits - 1, v)) for v in clean])
        elif relative:
            self.y = clean * (1 + _noise(self.x.size, noise))
        else:
            self.y = clean if zero else clean + _noise(self.x.size, noise * np.max(np.abs(clean)))
        self.zero = zero

    def residual(self, p):
        return np.real(self.f(p, self.x)) - self.y

    def jacobian(self, p):
        p = np.asarray(p, dtype=float)
        h = 1e-30
        jac = np.empty((self.x.size, p.size))
        for j in range(p.size):
            q = p.astype(complex)
            q[j] += 1j * h
            jac[:, j] = np.imag(self.f(q, self.x)) / h
        return jac


def models():
    m = []
    m.extend(_base())
    m.extend(_hard())
    return m


def _base():
    m = []
    t = np.linspace(0, 8, 40)
    m.append(Model("exp decay", "exponential", lambda p, t: p[0] * np.exp(-p[1] * t) + p[2], t,
                   [5.0, 0.7, 1.5], [[4.0, 0.6, 1.0], [1.0, 3.0, -2.0]], 0.01))
    m.append(Model("double exponential", "exponential",
                   lambda p, t: p[0] * np.exp(-p[1] * t) + p[2] * np.exp(-p[3] * t), t,
                   [4.0, 2.0, 2.0, 0.25], [[3.5, 1.8, 2.5, 0.3], [1.0, 5.0, 1.0, 0.05]], 0.002))
    tg = np.arange(25) * 120.0
    m.append(Model("growth, badly scaled", "badly scaled", lambda p, t: p[0] * np.exp(p[1] * t), tg,
                   [2.5e-4, 8e-4], [[2e-4, 7e-4], [1e-3, 1e-4]], 0.002))
    s = np.linspace(0.02, 2.0, 18)
    m.append(Model("Michaelis-Menten", "rational", lambda p, s: p[0] * s / (p[1] + s), s,
                   [2.1, 0.35], [[2.0, 0.3], [10.0, 5.0]], 0.01))
    u = np.array([4.0, 2.0, 1.0, 0.5, 0.25, 0.167, 0.125, 0.1, 0.0833, 0.0714, 0.0625])
    m.append(Model("Kowalik-Osborne rational", "rational",
                   lambda p, u: p[0] * (u ** 2 + p[1] * u) / (u ** 2 + p[2] * u + p[3]), u,
                   [0.1928, 0.1913, 0.1231, 0.1361], [[0.25, 0.39, 0.415, 0.39], [25.0, 39.0, 41.5, 39.0]], 0.005))
    x = np.linspace(-3.0, 3.0, 50)
    m.append(Model("rational 2/2", "rational",
                   lambda p, x: (p[0] + p[1] * x + p[2] * x ** 2) / (1 + p[3] * x + p[4] * x ** 2), x,
                   [1.0, 0.5, 0.8, 0.3, 0.4], [[1.1, 0.4, 0.7, 0.25, 0.35], [0.5, 0.0, 0.0, 0.0, 0.1]], 0.005))
    xg = np.linspace(0, 20, 60)
    m.append(Model("Gaussian peak", "peak",
                   lambda p, x: p[0] * np.exp(-0.5 * ((x - p[1]) / p[2]) ** 2) + p[3], xg,
                   [3.0, 9.0, 1.5, 0.4], [[2.5, 8.5, 1.2, 0.3], [1.0, 6.0, 4.0, 0.0]], 0.01))
    m.append(Model("two overlapping peaks", "nearly unidentifiable",
                   lambda p, x: p[0] * np.exp(-0.5 * ((x - p[1]) / 1.2) ** 2)
                   + p[2] * np.exp(-0.5 * ((x - p[3]) / 1.2) ** 2), xg,
                   [2.0, 9.0, 1.5, 10.2], [[2.2, 8.8, 1.3, 10.4], [1.0, 7.0, 1.0, 12.0]], 0.002))
    m.append(Model("Lorentzian", "peak", lambda p, x: p[0] / (1 + ((x - p[1]) / p[2]) ** 2) + p[3], xg,
                   [4.0, 11.0, 0.8, 0.2], [[3.5, 10.8, 1.0, 0.1], [1.0, 9.5, 3.0, 0.0]], 0.01))
    tl = np.linspace(0, 30, 45)
    m.append(Model("logistic", "sigmoid", lambda p, t: p[0] / (1 + np.exp(-p[1] * (t - p[2]))), tl,
                   [80.0, 0.35, 14.0], [[75.0, 0.3, 13.0], [20.0, 1.5, 5.0]], 0.01))
    m.append(Model("Gompertz", "sigmoid", lambda p, t: p[0] * np.exp(-p[1] * np.exp(-p[2] * t)), tl,
                   [60.0, 5.0, 0.2], [[55.0, 4.5, 0.22], [100.0, 1.0, 1.0]], 0.01))
    td = np.linspace(0, 3000, 40)
    m.append(Model("Arps hyperbolic decline", "nearly unidentifiable",
                   lambda p, t: p[0] / (1 + p[1] * p[2] * t) ** (1 / p[1]), td,
                   [1200.0, 0.6, 2.5e-3], [[1100.0, 0.5, 2e-3], [500.0, 1.5, 1e-2]], 0.005))
    xp = np.linspace(1, 50, 30)
    m.append(Model("power law", "power", lambda p, x: p[0] * x ** p[1], xp,
                   [3.0, 0.65], [[2.5, 0.6], [0.1, 2.0]], 0.01))
    xw = np.linspace(0.1, 10, 35)
    m.append(Model("Weibull curve", "sigmoid", lambda p, x: p[0] * (1 - np.exp(-(x / p[1]) ** p[2])), xw,
                   [10.0, 3.0, 2.2], [[9.0, 2.8, 2.0], [3.0, 8.0, 0.7]], 0.01))
    xh = np.logspace(-2, 2, 30)
    m.append(Model("Hill", "rational", lambda p, x: p[0] * x ** p[2] / (p[1] ** p[2] + x ** p[2]), xh,
                   [1.8, 0.9, 1.7], [[1.7, 1.0, 1.5], [5.0, 10.0, 0.5]], 0.01))
    ts = np.linspace(0, 10, 80)
    m.append(Model("damped sine", "oscillation", lambda p, t: p[0] * np.exp(-p[1] * t) * np.sin(p[2] * t + p[3]),
                   ts, [2.0, 0.3, 2.5, 0.5], [[1.8, 0.25, 2.45, 0.4], [1.0, 0.1, 2.2, 0.0]], 0.01))
    m.append(Model("close rates", "nearly unidentifiable",
                   lambda p, t: p[0] * np.exp(-p[1] * t) + p[2] * np.exp(-p[3] * t), t,
                   [3.0, 0.5, 2.0, 0.8], [[3.2, 0.45, 1.8, 0.85], [1.0, 0.2, 1.0, 2.0]], 0.0005))
    xm = np.array([77.6, 114.9, 141.1, 190.8, 239.9, 289.0, 332.8, 378.4, 434.8, 477.3, 536.8, 593.1, 689.1, 760.0])
    m.append(Model("saturation, zero residual", "zero residual", lambda p, x: p[0] * (1 - np.exp(-p[1] * x)), xm,
                   [240.0, 5.5e-4], [[250.0, 5e-4], [500.0, 1e-4]], 0.0, zero=True))
    xe = np.linspace(400, 500, 35)
    m.append(Model("scaled Gaussian", "badly scaled",
                   lambda p, x: p[0] / p[1] * np.exp(-0.5 * ((x - p[2]) / p[1]) ** 2), xe,
                   [1.55, 4.1, 451.5], [[1.5, 5.0, 450.0], [1.0, 10.0, 460.0]], 0.005))
    tk = np.linspace(290.0, 380.0, 20)
    m.append(Model("Arrhenius", "badly scaled", lambda p, T: p[0] * np.exp(-p[1] / (8.314 * T)), tk,
                   [3.0e7, 5.2e4], [[2.0e7, 5.0e4], [1.0e5, 3.0e4]], 0.01))
    xb = np.linspace(5.0, 100.0, 30)
    m.append(Model("Bennett-type", "power", lambda p, x: p[0] * (p[1] + x) ** (-1 / p[2]), xb,
                   [-2500.0, 40.0, 0.9], [[-2000.0, 50.0, 0.8], [-4000.0, 45.0, 0.85]], 0.002))
    xl = np.linspace(0.5, 20, 30)
    m.append(Model("log model", "logarithmic", lambda p, x: p[0] + p[1] * np.log(x + p[2]), xl,
                   [2.0, 3.0, 1.5], [[1.8, 3.2, 1.2], [0.0, 1.0, 5.0]], 0.005))
    xt = np.linspace(-3.0, 2.0, 40)
    m.append(Model("rational 3/3", "rational",
                   lambda p, x: (p[0] + p[1] * x + p[2] * x ** 2 + p[3] * x ** 3)
                   / (1 + p[4] * x + p[5] * x ** 2 + p[6] * x ** 3), xt,
                   [1000.0, 1200.0, 500.0, 70.0, 0.9, 0.4, 0.05],
                   [[1000.0, 1000.0, 400.0, 40.0, 0.7, 0.3, 0.03], [1300.0, 1500.0, 530.0, 75.0, 1.0, 0.4, 0.05]],
                   0.001))
    xx = np.array([1.0, 2.0, 3.0, 5.0, 7.0, 10.0])
    m.append(Model("BOD saturation", "exponential", lambda p, x: p[0] * (1 - np.exp(-p[1] * x)), xx,
                   [213.0, 0.55], [[200.0, 0.6], [1.0, 1.0]], 0.03))
    xy = np.arange(50.0, 126.0, 5.0)
    m.append(Model("Meyer, extremely badly scaled", "badly scaled", lambda p, x: p[0] * np.exp(p[1] / (x + p[2])),
                   xy, [5.6e-3, 6181.0, 345.0], [[2e-2, 4000.0, 250.0], [2.0, 4e5, 2.5e4]], 0.001))
    xr = np.arange(1.0, 16.0)
    m.append(Model("sigmoid with shape (Richards)", "sigmoid",
                   lambda p, x: p[0] / (1 + np.exp(p[1] - p[2] * x)) ** (1 / p[3]), xr,
                   [700.0, 5.3, 0.76, 1.28], [[690.0, 5.0, 0.7, 1.2], [100.0, 10.0, 1.0, 1.0]], 0.005))
    xo = np.linspace(0.0, 320.0, 33)
    m.append(Model("Osborne constant + two exponentials", "exponential",
                   lambda p, x: p[0] + p[1] * np.exp(-x * p[3]) + p[2] * np.exp(-x * p[4]), xo,
                   [0.375, 1.94, -1.46, 0.0129, 0.0221], [[0.5, 1.5, -1.0, 0.01, 0.02], [50.0, 150.0, -100.0, 1.0, 2.0]],
                   0.002))
    xz = np.linspace(0.0, 1.15, 24)
    m.append(Model("three exponentials (Lanczos-type)", "nearly unidentifiable",
                   lambda p, x: p[0] * np.exp(-p[1] * x) + p[2] * np.exp(-p[3] * x) + p[4] * np.exp(-p[5] * x), xz,
                   [0.0951, 1.0, 0.8607, 3.0, 1.5576, 5.0], [[0.12, 1.1, 0.8, 3.2, 1.5, 5.2], [1.2, 0.3, 5.6, 5.5, 6.5, 7.6]],
                   1e-5))
    xq = np.arange(1.0, 251.0)
    m.append(Model("two Gaussians on a decaying baseline", "peak",
                   lambda p, x: p[0] * np.exp(-p[1] * x) + p[2] * np.exp(-((x - p[3]) / p[4]) ** 2)
                   + p[5] * np.exp(-((x - p[6]) / p[7]) ** 2), xq,
                   [99.0, 0.011, 100.0, 111.0, 23.0, 74.0, 140.0, 19.7],
                   [[96.0, 0.009, 103.0, 106.0, 18.0, 72.0, 151.0, 18.0],
                    [94.0, 0.0105, 99.0, 112.0, 30.0, 80.0, 130.0, 25.0]], 0.005))
    xs = np.arange(1.0, 169.0)
    m.append(Model("sum of sines (annual and longer cycles)", "oscillation",
                   lambda p, x: p[0] + p[1] * np.cos(2 * np.pi * x / 12) + p[2] * np.sin(2 * np.pi * x / 12)
                   + p[4] * np.cos(2 * np.pi * x / p[3]) + p[5] * np.sin(2 * np.pi * x / p[3])
                   + p[7] * np.cos(2 * np.pi * x / p[6]) + p[8] * np.sin(2 * np.pi * x / p[6]), xs,
                   [10.5, 3.08, 0.53, 44.3, -1.62, 0.53, 26.9, 0.21, 1.5],
                   [[11.0, 3.0, 0.5, 44.0, -1.5, 0.5, 26.0, -0.1, 1.5],
                    [11.0, 3.0, 0.5, 40.0, -0.7, -1.3, 25.0, -0.3, 1.4]], 0.05))
    xk = np.linspace(9.0, 79.0, 9)
    m.append(Model("logistic from a poor start", "sigmoid", lambda p, x: p[0] / (1 + np.exp(p[1] - p[2] * x)), xk,
                   [72.46, 2.618, 0.0674], [[75.0, 2.5, 0.07], [100.0, 1.0, 0.1]], 0.01))
    xw3 = np.sort(np.random.default_rng(5).uniform(24.0, 900.0, 236))
    m.append(Model("rational 3/3 over a wide range", "badly scaled",
                   lambda p, x: (p[0] + p[1] * x + p[2] * x ** 2 + p[3] * x ** 3)
                   / (1 + p[4] * x + p[5] * x ** 2 + p[6] * x ** 3), xw3,
                   [1.0776, -0.12269, 4.0864e-3, -1.4263e-6, -5.7610e-3, 2.4054e-4, -1.2314e-7],
                   [[1.0, -0.1, 0.005, -1e-6, -0.005, 1e-4, -1e-7], [10.0, -1.0, 0.05, -1e-5, -0.05, 0.001, -1e-6]],
                   0.005))
    return m


def _hard():
    """The hard group: the pathologies of certified nonlinear-regression suites, with data of
    our own. The first start is the nearer one, the second the far, hostile one."""
    m = []

    def add(name, f, x, truth, near, far, noise=0.0, **kw):
        m.append(Model(name, "hard", f, x, truth, [near, far], noise, **kw))

    # Exponential of a ratio, parameters 10 decades apart; the far start's exp() is ~1e80.
    x1 = np.arange(50.0, 130.0, 5.0)
    add("H exp of a ratio, 10 decades", lambda p, x: p[0] * np.exp(p[1] / (x + p[2])), x1,
        [2.0e-6, 8.0e3, 380.0], [1.0e-5, 6.0e3, 350.0], [1.0, 2.0e4, 50.0], 1e-3, relative=True)
    # A rational decay exp(-b1 x) / (b2 + b3 x) on 214 points; the far start puts the pole of
    # the denominator at x = 2, inside the data.
    x2 = np.sort(np.concatenate([np.linspace(0.5, 6.0, 107), np.linspace(0.5, 6.0, 107) + 0.013]))
    add("H exp over a linear denominator, pole in range", lambda p, x: np.exp(-p[0] * x) / (p[1] + p[2] * x), x2,
        [0.19, 0.0061, 0.0105], [0.15, 0.008, 0.01], [0.1, 0.01, -0.005], 0.03, relative=True)
    # Rational 2/2 on a wide x-range; the far start's denominator vanishes at x = 27.6 and 72.4.
    x3 = np.linspace(9.0, 79.0, 151)
    add("H rational 2/2, poles in range", lambda p, x: (p[0] + p[1] * x + p[2] * x ** 2)
        / (1 + p[3] * x + p[4] * x ** 2), x3, [1.5, -0.12, 0.0035, -0.0015, 1.8e-5],
        [1.2, -0.1, 0.003, -0.001, 1.5e-5], [2.0, -0.1, 0.005, -0.05, 5.0e-4], 0.002)
    # A narrow Gaussian on a wide x-range; the far start's peak sits 40 away (flat cost).
    x4 = np.linspace(380.0, 520.0, 71)
    add("H narrow peak, far start misses it", lambda p, x: p[0] / p[1] * np.exp(-0.5 * ((x - p[2]) / p[1]) ** 2), x4,
        [12.0, 2.6, 431.3], [10.0, 3.0, 433.0], [1.0, 10.0, 480.0], 0.005)
    # Saturation on 6 points from (1, 1).
    x5 = np.array([0.5, 1.0, 2.0, 4.0, 6.0, 9.0])
    add("H saturation on 6 points", lambda p, x: p[0] * (1 - np.exp(-p[1] * x)), x5,
        [200.0, 0.5], [150.0, 0.8], [1.0, 1.0], 0.03)
    # Rational 3/3 over two decades of x, coefficients from 1e-7 to 1e3, nearly exact data.
    x6 = np.geomspace(10.0, 1000.0, 120)
    add("H rational 3/3, coefficients 1e-7..1e3", lambda p, x: (p[0] + p[1] * x + p[2] * x ** 2 + p[3] * x ** 3)
        / (1 + p[4] * x + p[5] * x ** 2 + p[6] * x ** 3), x6,
        [500.0, 12.0, 0.05, 3.0e-5, 0.02, 1.0e-4, 1.5e-7],
        [400.0, 10.0, 0.04, 2.0e-5, 0.015, 0.8e-4, 1.0e-7],
        [100.0, 1.0, 0.1, 1.0e-4, 0.1, 1.0e-3, 1.0e-6], 1e-4)
    # Bennett-like: b1 (b2 + x)^(-1/b3) on a short x-range far from 0, very slow convergence.
    x7 = np.exp(np.linspace(np.log(7.5), np.log(12.0), 154))
    add("H power with offset, slow (Bennett-like)", lambda p, x: p[0] * (p[1] + x) ** (-1 / p[2]), x7,
        [-2500.0, 45.0, 0.93], [-1800.0, 42.0, 0.85], [-4000.0, 55.0, 0.7], 5e-5, relative=True)
    # Three exponentials, data to 13 digits: the answer rests on residuals of 1e-13.
    x8 = np.arange(0.0, 1.2001, 0.05)
    lan = lambda p, x: p[0] * np.exp(-p[1] * x) + p[2] * np.exp(-p[3] * x) + p[4] * np.exp(-p[5] * x)
    add("H three exponentials, 13 digits", lan, x8, [0.12, 0.9, 0.75, 2.6, 1.6, 5.4],
        [0.5, 0.7, 3.6, 4.2, 4.0, 6.3], [1.2, 0.3, 5.6, 5.5, 6.5, 7.6], digits=13)
    add("H three exponentials, 6 digits", lan, x8, [0.12, 0.9, 0.75, 2.6, 1.6, 5.4],
        [0.5, 0.7, 3.6, 4.2, 4.0, 6.3], [1.2, 0.3, 5.6, 5.5, 6.5, 7.6], digits=6)
    # Two exponentials with nearly exact data, rates close together.
    add("H two exponentials, 11 digits", lambda p, x: p[0] * np.exp(-p[1] * x) + p[2] * np.exp(-p[3] * x),
        np.linspace(0.0, 3.0, 31), [2.0, 1.3, 1.0, 3.1], [1.5, 1.0, 1.5, 4.0], [1.0, 0.1, 1.0, 10.0], digits=11)
    # Richards sigmoid from far starts.
    x9 = np.arange(1.0, 21.0)
    add("H Richards sigmoid, far start", lambda p, x: p[0] / (1 + np.exp(p[1] - p[2] * x)) ** (1 / p[3]), x9,
        [500.0, 4.0, 0.5, 0.8], [450.0, 3.5, 0.45, 0.9], [100.0, 10.0, 1.0, 1.0], 0.005)
    # Saturation b1 b2 x / (1 + b2 x): the far start b2 = 1e-5 makes the two columns of J
    # nearly proportional (rank deficient to 1e-2).
    x10 = np.array([77.6, 114.9, 141.1, 190.8, 239.9, 289.0, 332.8, 378.4, 434.8, 477.3, 536.8, 593.1, 689.1, 760.0])
    add("H Michaelis-type, nearly rank-deficient start", lambda p, x: p[0] * p[1] * x / (1 + p[1] * x), x10,
        [300.0, 2.0e-3], [250.0, 1.5e-3], [500.0, 1.0e-5], 0.002)
    # A two-variable log-response model (Nelson-like), parameters 1e-9..1; the far start's
    # small b2 leaves the b3 column nearly 0.
    a1, a2 = np.meshgrid([1.0, 2.0, 4.0, 8.0, 16.0, 32.0, 48.0, 64.0], [150.0, 180.0, 210.0, 240.0, 270.0])
    a1 = np.tile(a1.ravel(), 3)
    a2 = np.tile(a2.ravel(), 3)  # the second variable, read by the model
    add("H two-variable decay, parameters 1e-9..1", lambda p, x: p[0] - p[1] * x * np.exp(-p[2] * a2),
        a1, [2.6, 4.0e-9, -0.06], [2.5, 5.0e-9, -0.055], [2.0, 1.0e-4, -0.01], 0.01)
    # Growth-saturation (1 - (1 + b2 x / 2)^-2) with b2 ~ 5e-4.
    add("H saturation with a small rate", lambda p, x: p[0] * (1 - (1 + p[1] * x / 2) ** -2), x10,
        [330.0, 4.5e-4], [300.0, 3.0e-4], [500.0, 1.0e-4], 0.001)
    # An arctan model with parameters 1e-6..1e3 (Roszman-like).
    x11 = -np.geomspace(4800.0, 450.0, 25)
    add("H arctan step, parameters 1e-6..1e3", lambda p, x: p[0] - p[1] * x - np.arctan(p[2] / (x - p[3])) / np.pi,
        x11, [0.2, -6.0e-6, 1200.0, -180.0], [0.2, -5.0e-6, 1100.0, -150.0], [0.1, -1.0e-5, 1000.0, -100.0], 0.002)
    # Two Gaussians that overlap strongly on an exponential baseline, 250 points (Gauss3-like).
    x12 = np.arange(1.0, 251.0)
    add("H two close Gaussians on a baseline", lambda p, x: p[0] * np.exp(-p[1] * x)
        + p[2] * np.exp(-((x - p[3]) / p[4]) ** 2) + p[5] * np.exp(-((x - p[6]) / p[7]) ** 2), x12,
        [98.0, 0.0105, 100.0, 111.6, 23.3, 73.7, 147.8, 19.7],
        [95.0, 0.0095, 85.0, 108.0, 26.0, 76.0, 142.0, 24.0],
        [93.0, 0.008, 90.0, 116.0, 18.0, 70.0, 136.0, 22.0], 0.015)
    return m
