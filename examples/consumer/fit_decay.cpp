// Fits y = a exp(-b t) + c to measured points with vrn::LeastSquares: the residuals are a
// lambda, the Jacobian comes from differences. Prints the parameters with their
// standard errors and the verdict.
#include "lsq/LeastSquares.h"

#include <cmath>
#include <cstdio>
#include <vector>

int main() {
    // The data: a decay measured at 12 times (in practice read from a file).
    const std::vector<double> t = {0, 0.5, 1, 1.5, 2, 3, 4, 5, 6, 8, 10, 12};
    const std::vector<double> y = {6.02, 4.91, 4.04, 3.33, 2.81, 2.09, 1.64, 1.36, 1.24, 1.08, 1.04, 1.01};

    auto residual = [&](std::span<const double> p) {
        std::vector<double> r(t.size());
        for (size_t i = 0; i < t.size(); i++)
            r[i] = p[0] * std::exp(-p[1] * t[i]) + p[2] - y[i];
        return r;
    };

    vrn::LeastSquaresOptions options; // hook step (Levenberg-Marquardt), SciPy's tolerances
    options.names = {"a", "b", "c"};
    const vrn::LeastSquaresResult r = vrn::LeastSquares(residual, nullptr, {1.0, 0.1, 0.0}, options);

    std::printf("%s", r.Summary().c_str());
    const auto& se = r.fit.uncertainty.standardErrors;
    for (size_t j = 0; j < r.x.size(); j++)
        std::printf("%s = %.5f +- %.5f\n", options.names[j].c_str(), r.x[j], se[j]);
    return r.success ? 0 : 1;
}
