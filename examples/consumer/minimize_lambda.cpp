// Minimizes the Rosenbrock function with vrn::Minimize: the objective and its gradient
// are lambdas, no problem class is derived. Prints every accepted step and the result.
#include "tool/Minimize.h"

#include <cmath>
#include <cstdio>

int main() {
    auto f = [](std::span<const double> x) {
        const double a = x[1] - x[0] * x[0];
        const double b = 1.0 - x[0];
        return 100.0 * a * a + b * b;
    };
    auto gradient = [](std::span<const double> x, std::span<double> g) {
        const double a = x[1] - x[0] * x[0];
        g[0] = -400.0 * x[0] * a - 2.0 * (1.0 - x[0]);
        g[1] = 200.0 * a;
    };

    vrn::MinimizeOptions options;
    options.method = 2; // double dogleg; the Hessian comes from finite differences of the gradient
    options.onIteration = [](int k, std::span<const double> x, double fx, std::span<const double>) {
        std::printf("step %2d  f = %.6e  x = (%.6f, %.6f)\n", k, fx, x[0], x[1]);
        return true; // false would stop the run (code 7)
    };

    const vrn::MinimizeResult r = vrn::Minimize(f, gradient, {-1.2, 1.0}, options);

    std::printf("%s\n", r.message.c_str());
    std::printf("x = (%.10f, %.10f), f = %.3e after %d iterations\n", r.x[0], r.x[1], r.f, r.iterations);
    std::printf("evaluations: f %ld, gradient %ld\n", r.evaluations.f, r.evaluations.gradient);
    return r.success && std::fabs(r.x[0] - 1.0) < 1e-4 && std::fabs(r.x[1] - 1.0) < 1e-4 ? 0 : 1;
}
