// Parameter uncertainties from the Jacobian (see Uncertainty.h).
#include "lsq/Uncertainty.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <numeric>

namespace vrn {

Uncertainty ComputeUncertainty(std::span<const double> jac, size_t m, size_t n, double cost,
                               bool absoluteSigma, double accuracy) {
    Uncertainty u;
    u.absoluteSigma = absoluteSigma;
    u.dof = static_cast<int>(m) - static_cast<int>(n);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (n == 0 || jac.size() != m * n)
        return u;
    for (double v : jac)
        if (!std::isfinite(v))
            return u;
    u.computed = true;
    u.residualVariance = absoluteSigma ? 1.0 : (u.dof > 0 ? 2.0 * cost / u.dof : nan);

    // The SVD of J with its columns scaled to unit norm (J D^-1): the rank and the
    // undetermined parameters do not depend on the parameters' units, and
    // (J^T J)^-1 = D^-1 V S^-2 V^T D^-1. A zero column stays zero (D_j = 1).
    std::vector<double> d(n, 0.0);
    for (size_t i = 0; i < m; i++)
        for (size_t j = 0; j < n; j++)
            d[j] += jac[i * n + j] * jac[i * n + j];
    for (size_t j = 0; j < n; j++)
        d[j] = d[j] > 0.0 ? std::sqrt(d[j]) : 1.0;
    std::vector<double> scaled(m * n);
    for (size_t i = 0; i < m; i++)
        for (size_t j = 0; j < n; j++)
            scaled[i * n + j] = jac[i * n + j] / d[j];
    std::vector<double> v;
    SingularValueDecomposition(scaled, m, n, u.singularValues, v);
    const double smax = u.singularValues.empty() ? 0.0 : u.singularValues[0];
    const double threshold = std::max(DBL_EPSILON * static_cast<double>(std::max(m, n)), accuracy) * smax;
    std::vector<bool> kept(n);
    for (size_t k = 0; k < n; k++) {
        kept[k] = u.singularValues[k] > threshold && u.singularValues[k] > 0.0;
        if (kept[k])
            u.rank++;
    }
    u.conditionNumber = u.rank == static_cast<int>(n) ? smax / u.singularValues[n - 1]
                                                      : std::numeric_limits<double>::infinity();
    std::vector<bool> undetermined(n, false);
    for (size_t i = 0; i < n; i++) {
        double nullPart = 0.0;
        for (size_t k = 0; k < n; k++)
            if (!kept[k])
                nullPart += v[i * n + k] * v[i * n + k];
        if (nullPart > 0.01) {
            undetermined[i] = true;
            u.undetermined.push_back(static_cast<int>(i));
        }
    }
    u.covariance.assign(n * n, 0.0);
    for (size_t i = 0; i < n; i++)
        for (size_t j = 0; j < n; j++) {
            double c = 0.0;
            for (size_t k = 0; k < n; k++)
                if (kept[k])
                    c += v[i * n + k] / u.singularValues[k] * (v[j * n + k] / u.singularValues[k]);
            c = c / (d[i] * d[j]) * u.residualVariance;
            u.covariance[i * n + j] = undetermined[i] || undetermined[j] ? nan : c;
        }
    u.standardErrors.assign(n, nan);
    for (size_t i = 0; i < n; i++) {
        const double c = u.covariance[i * n + i];
        u.standardErrors[i] = c >= 0.0 ? std::sqrt(c) : nan;
    }
    u.correlation.assign(n * n, nan);
    for (size_t i = 0; i < n; i++)
        for (size_t j = 0; j < n; j++) {
            const double d = u.standardErrors[i] * u.standardErrors[j];
            if (d > 0.0)
                u.correlation[i * n + j] = i == j ? 1.0 : u.covariance[i * n + j] / d;
        }
    return u;
}

std::string UndeterminedWarning(const Uncertainty& u, const std::vector<std::string>& names) {
    if (u.undetermined.empty())
        return {};
    auto name = [&names](int i) {
        return static_cast<size_t>(i) < names.size() ? names[static_cast<size_t>(i)]
                                                     : "x[" + std::to_string(i) + "]";
    };
    std::string list;
    for (size_t k = 0; k < u.undetermined.size(); k++) {
        if (k > 0)
            list += k + 1 == u.undetermined.size() ? " and " : ", ";
        list += name(u.undetermined[k]);
    }
    const bool one = u.undetermined.size() == 1;
    return "the data cannot determine " + list + ": the Jacobian has rank " + std::to_string(u.rank) +
           " of " + std::to_string(u.singularValues.size()) + ", so " + (one ? "its" : "their") +
           " covariance and standard error" + (one ? " are" : "s are") + " not defined (NaN); fix " +
           (one ? "it" : "some of them") + " or reparameterize the model";
}

} // namespace vrn
