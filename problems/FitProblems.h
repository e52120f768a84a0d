// Fits of models to data: the problems a user of the minimizer most often brings, next
// to the classic test problems of problems/ClassicProblems.h (same interface: fx, grad,
// hess, x0, fstar, xstar, IsSolved).
//
//     fits::GammaLikelihood      n = 2,  negative log-likelihood of 10,000 gamma samples (f* ~ 2e4)
//     fits::LogisticRegression   n = 51, L2-regularised logistic regression, 5,000 x 50 data
//     fits::GaussianPeaks        n = 12, four Gaussian peaks fitted to 300 noisy points (f* ~ 263)
//     fits::ExponentialDecline   n = 3,  a exp(-b t) + c fitted to 60 noisy rates
//
// The data come from a seeded generator of our own (SplitMix64, Box-Muller) so that every
// machine builds the same data, bit for bit as far as its libm agrees. Each fit finds its
// minimizer when it is built: Newton's method with the analytic Hessian, started at the
// parameters the data were drawn with (or at zero for the convex logistic fit), run until
// the step stops changing x. fstar = fx(xstar).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "problems/ClassicProblems.h"

namespace fits {

using std::exp;

// SplitMix64: a 64-bit seeded generator with good statistics and a one-line state.
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : m_State(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (m_State += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Uniform in the open interval (0, 1): the top 53 bits, shifted by half a step.
    double Uniform() { return (static_cast<double>(Next() >> 11) + 0.5) * 0x1.0p-53; }
    // Standard normal by the Box-Muller transform (one value per two uniforms).
    double Normal() {
        double u1 = Uniform(), u2 = Uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * 3.141592653589793 * u2);
    }
    // Gamma(shape, 1) for shape >= 1 by Marsaglia and Tsang's squeeze; at most 1000 tries
    // (each succeeds with probability above 0.95), then the mean.
    double Gamma(double shape) {
        double d = shape - 1.0 / 3.0, c = 1.0 / std::sqrt(9.0 * d);
        for (int attempt = 0; attempt < 1000; ++attempt) {
            double z = Normal();
            double v = 1.0 + c * z;
            if (v <= 0.0)
                continue;
            v = v * v * v;
            double u = Uniform();
            if (std::log(u) < 0.5 * z * z + d - d * v + d * std::log(v))
                return d * v;
        }
        return shape;
    }

private:
    std::uint64_t m_State;
};

// Digamma psi(x) and trigamma psi'(x) for x > 0: the recurrences psi(x) = psi(x + 1) - 1/x and
// psi'(x) = psi'(x + 1) + 1/x^2 up to x >= 10, then the asymptotic series (error below 1e-15).
inline double Digamma(double x) {
    double r = 0.0;
    for (int k = 0; k < 64 && x < 10.0; ++k) {
        r -= 1.0 / x;
        x += 1.0;
    }
    double x2 = 1.0 / (x * x);
    return r + std::log(x) - 0.5 / x -
           x2 * (1.0 / 12.0 -
                 x2 * (1.0 / 120.0 - x2 * (1.0 / 252.0 - x2 * (1.0 / 240.0 - x2 * (1.0 / 132.0)))));
}
inline double Trigamma(double x) {
    double r = 0.0;
    for (int k = 0; k < 64 && x < 10.0; ++k) {
        r += 1.0 / (x * x);
        x += 1.0;
    }
    double x2 = 1.0 / (x * x);
    return r + 1.0 / x + 0.5 * x2 +
           x2 / x *
               (1.0 / 6.0 - x2 * (1.0 / 30.0 - x2 * (1.0 / 42.0 - x2 * (1.0 / 30.0 - x2 * (5.0 / 66.0)))));
}

// Newton's method with the problem's analytic Hessian from x: each step solves H s = -g by
// Cholesky (adding a multiple of the identity while H is not positive definite) and is
// halved until f decreases. Stops when the step no longer changes x (or after 200 steps).
inline std::vector<double> NewtonMinimize(const golden::TestProblem& p, std::vector<double> x) {
    const int n = p.n;
    const size_t un = static_cast<size_t>(n);
    std::vector<double> g(un), h(un * un), l(un * un), s(un), trial(un);
    double f = p.fx(x.data());
    for (int iteration = 0; iteration < 200; ++iteration) {
        p.grad(x.data(), g.data());
        std::fill(h.begin(), h.end(), 0.0);
        p.hess(x.data(), h.data());
        double shift = 0.0;
        bool factored = false;
        for (int attempt = 0; attempt < 60 && !factored; ++attempt) {
            factored = true;
            for (int j = 0; j < n && factored; ++j) {
                for (int i = j; i < n; ++i) {
                    double v = h[static_cast<size_t>(i * n + j)] + (i == j ? shift : 0.0);
                    for (int k = 0; k < j; ++k)
                        v -= l[static_cast<size_t>(i * n + k)] * l[static_cast<size_t>(j * n + k)];
                    if (i == j) {
                        if (!(v > 0.0)) {
                            factored = false;
                            break;
                        }
                        l[static_cast<size_t>(j * n + j)] = std::sqrt(v);
                    } else {
                        l[static_cast<size_t>(i * n + j)] = v / l[static_cast<size_t>(j * n + j)];
                    }
                }
            }
            if (!factored) {
                double scale = 0.0;
                for (int i = 0; i < n; ++i)
                    scale = std::max(scale, std::fabs(h[static_cast<size_t>(i * n + i)]));
                shift = shift == 0.0 ? 1e-10 * std::max(scale, 1.0) : 4.0 * shift;
            }
        }
        if (!factored)
            break;
        for (int i = 0; i < n; ++i) { // L y = -g
            double v = -g[static_cast<size_t>(i)];
            for (int k = 0; k < i; ++k)
                v -= l[static_cast<size_t>(i * n + k)] * s[static_cast<size_t>(k)];
            s[static_cast<size_t>(i)] = v / l[static_cast<size_t>(i * n + i)];
        }
        for (int i = n - 1; i >= 0; --i) { // L^T s = y
            double v = s[static_cast<size_t>(i)];
            for (int k = i + 1; k < n; ++k)
                v -= l[static_cast<size_t>(k * n + i)] * s[static_cast<size_t>(k)];
            s[static_cast<size_t>(i)] = v / l[static_cast<size_t>(i * n + i)];
        }
        bool moved = false, decreased = false;
        double t = 1.0;
        for (int halving = 0; halving < 60; ++halving, t *= 0.5) {
            moved = false;
            for (size_t i = 0; i < un; ++i) {
                trial[i] = x[i] + t * s[i];
                moved = moved || trial[i] != x[i];
            }
            if (!moved)
                break;
            double ft = p.fx(trial.data());
            if (ft <= f) {
                decreased = true;
                x = trial;
                f = ft;
                break;
            }
        }
        if (!moved || !decreased)
            break;
    }
    return x;
}

// A fit: a problem whose minimizer is found when it is built (see above).
class Fit : public classic::Problem {
public:
    using classic::Problem::Problem;

protected:
    // Sets xstar and fstar by Newton's method from guess.
    void Solve(const std::vector<double>& guess) {
        xstar = NewtonMinimize(*this, guess);
        fstar = fx(xstar.data());
    }
};

// Negative log-likelihood of N = 10,000 samples of a gamma distribution (shape 2.5, scale
// 1.6, seed 1) in the parameters x = (shape k, scale theta):
//     f = N lgamma(k) + N k log(theta) - (k - 1) sum log y_i + sum y_i / theta.
// NaN unless k > 0 and theta > 0. Start (1, 1), the exponential distribution of mean 1.
class GammaLikelihood : public Fit {
public:
    GammaLikelihood() : Fit("fit-gamma-mle", {1.0, 1.0}, 0.0) {
        SplitMix64 rng(1);
        for (int i = 0; i < kSamples; ++i) {
            double y = 1.6 * rng.Gamma(2.5);
            m_SumY += y;
            m_SumLogY += std::log(y);
        }
        Solve({2.5, 1.6});
    }
    static constexpr int kSamples = 10000;
    double fx(const double* x) const override {
        if (!(x[0] > 0.0 && x[1] > 0.0))
            return std::nan("");
        const double nS = kSamples;
        return nS * std::lgamma(x[0]) + nS * x[0] * std::log(x[1]) - (x[0] - 1.0) * m_SumLogY + m_SumY / x[1];
    }
    void grad(const double* x, double* g) const override {
        const double nS = kSamples;
        g[0] = nS * Digamma(x[0]) + nS * std::log(x[1]) - m_SumLogY;
        g[1] = nS * x[0] / x[1] - m_SumY / (x[1] * x[1]);
    }
    void hess(const double* x, double* h) const override {
        const double nS = kSamples;
        h[0] = nS * Trigamma(x[0]);
        h[1] = h[2] = nS / x[1];
        h[3] = -nS * x[0] / (x[1] * x[1]) + 2.0 * m_SumY / (x[1] * x[1] * x[1]);
    }

private:
    double m_SumY = 0.0, m_SumLogY = 0.0;
};

// L2-regularised logistic regression: 5,000 rows of 50 standard normal features (seed 2),
// labels drawn from the model with weights w_j ~ N(0, 0.8^2) and intercept 0.3. The
// parameters are x = (w_1..w_50, b):
//     f = sum_i [log(1 + exp(z_i)) - y_i z_i] + (lambda / 2) |w|^2,   z_i = w . a_i + b,
// lambda = 1 (the intercept is not penalised). Convex; start at 0 (f = 5000 log 2).
class LogisticRegression : public Fit {
public:
    static constexpr int kRows = 5000, kFeatures = 50;
    static constexpr double kLambda = 1.0;
    LogisticRegression() : Fit("fit-logistic", std::vector<double>(kFeatures + 1, 0.0), 0.0) {
        SplitMix64 rng(2);
        std::vector<double> w(kFeatures);
        for (double& v : w)
            v = 0.8 * rng.Normal();
        m_A.resize(static_cast<size_t>(kRows) * kFeatures);
        m_Y.resize(kRows);
        for (int i = 0; i < kRows; ++i) {
            double z = 0.3;
            for (int j = 0; j < kFeatures; ++j) {
                double a = rng.Normal();
                m_A[static_cast<size_t>(i) * kFeatures + static_cast<size_t>(j)] = a;
                z += w[static_cast<size_t>(j)] * a;
            }
            m_Y[static_cast<size_t>(i)] = rng.Uniform() < 1.0 / (1.0 + std::exp(-z)) ? 1.0 : 0.0;
        }
        Solve(x0);
    }
    double fx(const double* x) const override {
        double f = 0.0;
        for (int i = 0; i < kRows; ++i) {
            double z = Margin(x, i);
            // log(1 + exp(z)) without overflow.
            double softplus = z > 0.0 ? z + std::log1p(std::exp(-z)) : std::log1p(std::exp(z));
            f += softplus - m_Y[static_cast<size_t>(i)] * z;
        }
        double w2 = 0.0;
        for (int j = 0; j < kFeatures; ++j)
            w2 += x[j] * x[j];
        return f + 0.5 * kLambda * w2;
    }
    void grad(const double* x, double* g) const override {
        for (int j = 0; j <= kFeatures; ++j)
            g[j] = 0.0;
        for (int i = 0; i < kRows; ++i) {
            double r = Sigmoid(Margin(x, i)) - m_Y[static_cast<size_t>(i)];
            const double* a = Row(i);
            for (int j = 0; j < kFeatures; ++j)
                g[j] += r * a[j];
            g[kFeatures] += r;
        }
        for (int j = 0; j < kFeatures; ++j)
            g[j] += kLambda * x[j];
    }
    void hess(const double* x, double* h) const override {
        const int m = kFeatures + 1;
        for (int i = 0; i < kRows; ++i) {
            double s = Sigmoid(Margin(x, i));
            double d = s * (1.0 - s);
            const double* a = Row(i);
            for (int j = 0; j < m; ++j) {
                double aj = j < kFeatures ? a[j] : 1.0;
                double daj = d * aj;
                for (int k = 0; k <= j; ++k)
                    h[j * m + k] += daj * (k < kFeatures ? a[k] : 1.0);
            }
        }
        for (int j = 0; j < m; ++j)
            for (int k = 0; k < j; ++k)
                h[k * m + j] = h[j * m + k];
        for (int j = 0; j < kFeatures; ++j)
            h[j * m + j] += kLambda;
    }

private:
    const double* Row(int i) const { return m_A.data() + static_cast<size_t>(i) * kFeatures; }
    double Margin(const double* x, int i) const {
        const double* a = Row(i);
        double z = x[kFeatures];
        for (int j = 0; j < kFeatures; ++j)
            z += x[j] * a[j];
        return z;
    }
    static double Sigmoid(double z) {
        if (z >= 0.0)
            return 1.0 / (1.0 + std::exp(-z));
        double e = std::exp(z);
        return e / (1.0 + e);
    }
    std::vector<double> m_A, m_Y;
};

// Four Gaussian peaks, x = (a_k, mu_k, s_k) for k = 1..4, model
//     sum_k a_k exp(-(t - mu_k)^2 / (2 s_k^2)),
// least squares against 300 points t_i = 10 i / 299 drawn from peaks (10, 2, 0.5), (6, 4, 0.8),
// (8, 6.5, 0.6), (4, 8, 1) with noise N(0, 0.95^2) (seed 3). The residual sum of squares at
// the minimum is about 263: the fit is good, yet f* is far from 0.
class GaussianPeaks : public Fit {
public:
    static constexpr int kPoints = 300;
    GaussianPeaks() : Fit("fit-gaussian-peaks", {8, 2.3, 0.7, 5, 3.7, 0.6, 6, 6.8, 0.8, 5, 7.7, 0.8}, 0.0) {
        SplitMix64 rng(3);
        const std::vector<double> truth = {10, 2, 0.5, 6, 4, 0.8, 8, 6.5, 0.6, 4, 8, 1};
        m_T.resize(kPoints);
        m_Y.resize(kPoints);
        for (int i = 0; i < kPoints; ++i) {
            double t = 10.0 * i / (kPoints - 1);
            m_T[static_cast<size_t>(i)] = t;
            m_Y[static_cast<size_t>(i)] = Model(truth.data(), t) + 0.95 * rng.Normal();
        }
        Solve(truth);
    }
    template <class T> T Value(const T* x) const {
        T f = 0.0;
        for (int i = 0; i < kPoints; ++i)
            f += classic::Square(Model(x, m_T[static_cast<size_t>(i)]) - m_Y[static_cast<size_t>(i)]);
        return f;
    }
    template <class T> static T Model(const T* x, double t) {
        T m = 0.0;
        for (int k = 0; k < 4; ++k)
            m += x[3 * k] * exp(-0.5 * classic::Square((t - x[3 * k + 1]) / x[3 * k + 2]));
        return m;
    }
    double fx(const double* x) const override { return Value<double>(x); }
    void grad(const double* x, double* g) const override { JetGradient(*this, 12, x, g); }
    void hess(const double* x, double* h) const override { JetHessian(*this, 12, x, h); }

    template <class P> static void JetGradient(const P& p, int n, const double* x, double* g) {
        std::array<classic::Jet1, classic::kMaxJetVariables> v;
        for (int i = 0; i < n; ++i)
            v[static_cast<size_t>(i)] = classic::Jet1::Variable(x[i], i, n);
        classic::Jet1 f = p.template Value<classic::Jet1>(v.data());
        for (int i = 0; i < n; ++i)
            g[i] = f.d[static_cast<size_t>(i)];
    }
    template <class P> static void JetHessian(const P& p, int n, const double* x, double* h) {
        std::array<classic::Jet2, classic::kMaxJetVariables> v;
        for (int i = 0; i < n; ++i)
            v[static_cast<size_t>(i)] = classic::Jet2::Variable(x[i], i, n);
        classic::Jet2 f = p.template Value<classic::Jet2>(v.data());
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                h[i * n + j] = f.Hess(i, j);
    }

private:
    std::vector<double> m_T, m_Y;
};

// A type-curve (decline) fit: rates q(t) = a exp(-b t) + c at t_i = 0.5 i, i = 0..59, drawn
// with a = 800, b = 0.25, c = 40 and noise N(0, 8^2) (seed 4); x = (a, b, c), least squares.
// Start (400, 0.5, 0).
class ExponentialDecline : public Fit {
public:
    static constexpr int kPoints = 60;
    ExponentialDecline() : Fit("fit-exp-decline", {400.0, 0.5, 0.0}, 0.0) {
        SplitMix64 rng(4);
        m_T.resize(kPoints);
        m_Y.resize(kPoints);
        for (int i = 0; i < kPoints; ++i) {
            double t = 0.5 * i;
            m_T[static_cast<size_t>(i)] = t;
            m_Y[static_cast<size_t>(i)] = 800.0 * std::exp(-0.25 * t) + 40.0 + 8.0 * rng.Normal();
        }
        Solve({800.0, 0.25, 40.0});
    }
    template <class T> T Value(const T* x) const {
        T f = 0.0;
        for (int i = 0; i < kPoints; ++i) {
            double t = m_T[static_cast<size_t>(i)];
            f += classic::Square(x[0] * exp(-t * x[1]) + x[2] - m_Y[static_cast<size_t>(i)]);
        }
        return f;
    }
    double fx(const double* x) const override { return Value<double>(x); }
    void grad(const double* x, double* g) const override { GaussianPeaks::JetGradient(*this, 3, x, g); }
    void hess(const double* x, double* h) const override { GaussianPeaks::JetHessian(*this, 3, x, h); }

private:
    std::vector<double> m_T, m_Y;
};

// The four fits, in a fixed order.
inline std::vector<std::unique_ptr<classic::Problem>> AllFits() {
    std::vector<std::unique_ptr<classic::Problem>> p;
    p.push_back(std::make_unique<GammaLikelihood>());
    p.push_back(std::make_unique<LogisticRegression>());
    p.push_back(std::make_unique<GaussianPeaks>());
    p.push_back(std::make_unique<ExponentialDecline>());
    return p;
}

} // namespace fits
