// Minimizes a function of three variables with vrn::Minimize and prints the result.
// Build it against an installed VRNMathTools:
//     cmake -S . -B build -DCMAKE_PREFIX_PATH=<install prefix> && cmake --build build
#include <cmath>
#include <cstdio>
#include <span>

#include "tool/Minimize.h"

int main() {
    // A smooth bowl with its minimum at (1, -2, 0.5): f = sum w_i (x_i - c_i)^2 + (x_0 x_1 + 2)^2.
    auto f = [](std::span<const double> x) {
        const double a = x[0] - 1.0, b = x[1] + 2.0, c = x[2] - 0.5, d = x[0] * x[1] + 2.0;
        return a * a + 3.0 * b * b + 10.0 * c * c + d * d;
    };
    const vrn::MinimizeResult r = vrn::Minimize(f, {0.0, 0.0, 0.0}); // hook step, finite differences

    std::printf("%s\n", r.message.c_str());
    std::printf("x = (%.8f, %.8f, %.8f), f = %.3e\n", r.x[0], r.x[1], r.x[2], r.f);
    std::printf("%d iterations, %ld evaluations of f\n", r.iterations, r.evaluations.f);
    const bool found =
        std::fabs(r.x[0] - 1.0) < 1e-5 && std::fabs(r.x[1] + 2.0) < 1e-5 && std::fabs(r.x[2] - 0.5) < 1e-5;
    std::printf("%s\n", r.Converged() && found ? "converged to the minimum" : "did not converge");
    return r.Converged() && found ? 0 : 1;
}
