"""The reference problems of problems/ReferenceProblems.h in Python, every expression
evaluated in the order the C++ code evaluates it, so that the minimizer sees the same
bits from these callables as from the compiled problems."""

import math

import numpy as np


class Rosenbrock:
    x0 = [-1.2, 1.0]

    def f(self, x):
        x0, x1 = x.tolist()
        t1 = x1 - x0 * x0
        t2 = 1.0 - x0
        return 100.0 * t1 * t1 + t2 * t2

    def g(self, x):
        x0, x1 = x.tolist()
        t1 = x1 - x0 * x0
        t2 = 1.0 - x0
        return np.array([-400.0 * x0 * t1 - 2.0 * t2, 200.0 * t1])

    def h(self, x):
        x0, x1 = x.tolist()
        h00 = 1200.0 * x0 * x0 - 400.0 * x1 + 2.0
        h01 = -400.0 * x0
        return np.array([[h00, h01], [h01, 200.0]])


class PowellSingular:
    x0 = [3.0, -1.0, 0.0, 1.0]

    @staticmethod
    def terms(x):
        x0, x1, x2, x3 = x.tolist()
        return x0 + 10.0 * x1, x2 - x3, x1 - 2.0 * x2, x0 - x3

    def f(self, x):
        t1, t2, t3, t4 = self.terms(x)
        return t1 * t1 + 5.0 * t2 * t2 + t3 * t3 * t3 * t3 + 10.0 * t4 * t4 * t4 * t4

    def g(self, x):
        t1, t2, t3, t4 = self.terms(x)
        c3 = t3 * t3 * t3
        c4 = t4 * t4 * t4
        return np.array([2.0 * t1 + 40.0 * c4, 20.0 * t1 + 4.0 * c3, 10.0 * t2 - 8.0 * c3,
                         -10.0 * t2 - 40.0 * c4])

    def h(self, x):
        t1, t2, t3, t4 = self.terms(x)
        s3 = t3 * t3
        s4 = t4 * t4
        return np.array([[2.0 + 120.0 * s4, 20.0, 0.0, -120.0 * s4],
                         [20.0, 200.0 + 12.0 * s3, -24.0 * s3, 0.0],
                         [0.0, -24.0 * s3, 10.0 + 48.0 * s3, -10.0],
                         [-120.0 * s4, 0.0, -10.0, 10.0 + 120.0 * s4]])


class Wood:
    x0 = [-3.0, -1.0, -3.0, -1.0]

    def f(self, x):
        x0, x1, x2, x3 = x.tolist()
        t1 = x1 - x0 * x0
        t2 = 1.0 - x0
        t3 = x3 - x2 * x2
        t4 = 1.0 - x2
        t5 = x1 - 1.0
        t6 = x3 - 1.0
        return (100.0 * t1 * t1 + t2 * t2 + 90.0 * t3 * t3 + t4 * t4
                + 10.1 * (t5 * t5 + t6 * t6) + 19.8 * t5 * t6)

    def g(self, x):
        x0, x1, x2, x3 = x.tolist()
        t1 = x1 - x0 * x0
        t2 = 1.0 - x0
        t3 = x3 - x2 * x2
        t4 = 1.0 - x2
        t5 = x1 - 1.0
        t6 = x3 - 1.0
        return np.array([-400.0 * x0 * t1 - 2.0 * t2, 200.0 * t1 + 20.2 * t5 + 19.8 * t6,
                         -360.0 * x2 * t3 - 2.0 * t4, 180.0 * t3 + 20.2 * t6 + 19.8 * t5])


class Beale:
    x0 = [1.0, 1.0]

    @staticmethod
    def terms(x):
        a, b = x.tolist()
        b2 = b * b
        b3 = b2 * b
        return a, b, b2, b3, 1.5 - a + a * b, 2.25 - a + a * b2, 2.625 - a + a * b3

    def f(self, x):
        *_, u1, u2, u3 = self.terms(x)
        return u1 * u1 + u2 * u2 + u3 * u3

    def g(self, x):
        a, b, b2, b3, u1, u2, u3 = self.terms(x)
        ga = 2.0 * (u1 * (b - 1.0) + u2 * (b2 - 1.0) + u3 * (b3 - 1.0))
        gb = 2.0 * (u1 * a + u2 * 2.0 * a * b + u3 * 3.0 * a * b2)
        return np.array([ga, gb])

    def h(self, x):
        a, b, b2, b3, u1, u2, u3 = self.terms(x)
        d1a = b - 1.0
        d2a = b2 - 1.0
        d3a = b3 - 1.0
        d1b = a
        d2b = 2.0 * a * b
        d3b = 3.0 * a * b2
        haa = 2.0 * (d1a * d1a + d2a * d2a + d3a * d3a)
        hab = 2.0 * (d1a * d1b + u1 + d2a * d2b + u2 * 2.0 * b + d3a * d3b + u3 * 3.0 * b2)
        hbb = 2.0 * (d1b * d1b + d2b * d2b + u2 * 2.0 * a + d3b * d3b + u3 * 6.0 * a * b)
        return np.array([[haa, hab], [hab, hbb]])


class HelicalValley:
    x0 = [-1.0, 0.0, 0.0]

    @staticmethod
    def theta(a, b):
        tp = 2.0 * math.pi
        if a > 0.0:
            return math.atan(b / a) / tp
        if a < 0.0:
            return math.atan(b / a) / tp + 0.5
        return 0.25 if b >= 0.0 else -0.25

    def f(self, x):
        a, b, c = x.tolist()
        u = c - 10.0 * self.theta(a, b)
        v = math.sqrt(a * a + b * b) - 1.0
        return 100.0 * (u * u + v * v) + c * c


class Quadratic3:
    x0 = [-1.0, 2.0, 0.5]
    A = ((4.0, 1.0, 0.5), (1.0, 3.0, -0.5), (0.5, -0.5, 2.0))
    c = (1.0, -2.0, 3.0)

    def ad(self, x):
        d = [xi - ci for xi, ci in zip(x.tolist(), self.c)]
        return d, [r[0] * d[0] + r[1] * d[1] + r[2] * d[2] for r in self.A]

    def f(self, x):
        d, adv = self.ad(x)
        return 0.5 * (d[0] * adv[0] + d[1] * adv[1] + d[2] * adv[2])

    def g(self, x):
        return np.array(self.ad(x)[1])


class OneParameter:
    x0 = [-1.0]

    def f(self, x):
        t = x[0] - 2.0
        return t * t * t * t + t * t + 1.0

    def g(self, x):
        t = x[0] - 2.0
        return np.array([4.0 * t * t * t + 2.0 * t])

    def h(self, x):
        t = x[0] - 2.0
        return np.array([[12.0 * t * t + 2.0]])


PROBLEMS = {"rosenbrock": Rosenbrock, "powell": PowellSingular, "wood": Wood, "beale": Beale,
            "helical": HelicalValley, "quadratic": Quadratic3, "onedim": OneParameter}
