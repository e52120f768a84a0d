// The Gauss-Newton model of a least-squares problem (see GaussNewtonModel.h).
#include "lsq/GaussNewtonModel.h"

#include <cfloat>
#include <cmath>
#include <stdexcept>
#include <string>

#include "threads/EvaluationPool.h"

namespace vrn {

namespace {

constexpr size_t kCachedPoints = 4;

bool Same(const std::vector<double>& a, std::span<const double> b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (!(a[i] == b[i]) && !(std::isnan(a[i]) && std::isnan(b[i])))
            return false;
    return true;
}

} // namespace

GaussNewtonModel::GaussNewtonModel(const ResidualFunction& residual, const JacobianFunction& jacobian,
                                   size_t n, Loss loss, double lossScale, DifferenceScheme scheme,
                                   int threads)
    : m_Residual(residual), m_Jacobian(jacobian), m_n(n), m_Loss(loss), m_dLossScale(lossScale),
      m_Scheme(scheme), m_Cache(kCachedPoints) {
    if (threads > 1 && !jacobian)
        m_pPool = std::make_unique<CVRNEvaluationPool>(threads);
}

GaussNewtonModel::~GaussNewtonModel() = default;

std::vector<double> GaussNewtonModel::CallResidual(std::span<const double> x) {
    std::vector<double> r = m_Residual(x);
    if (m_m != 0 && r.size() != m_m)
        throw std::length_error("the residual function returned " + std::to_string(r.size()) +
                                " values after " + std::to_string(m_m) + " at the start point");
    return r;
}

std::string GaussNewtonModel::Start(std::span<const double> x0) {
    m_m = 0;
    // Difference steps relative to the parameter's size: |x_j|, or |x0_j| where x_j is
    // smaller (a parameter passing near 0), or 1 for a parameter that starts at 0. A fixed
    // floor of 1 would step a parameter of 1e-7 by a tenth of its value.
    m_StepSizes.assign(x0.size(), 1.0);
    for (size_t j = 0; j < x0.size(); j++)
        if (x0[j] != 0.0 && std::isfinite(x0[j]))
            m_StepSizes[j] = std::fabs(x0[j]);
    m_Cache.assign(kCachedPoints, Point{});
    Point& p = Evaluate(x0);
    if (p.r.empty())
        return "the residual function returned no values at the start point";
    m_m = p.r.size();
    if (!std::isfinite(p.cost)) {
        for (size_t i = 0; i < p.r.size(); i++)
            if (!std::isfinite(p.r[i]))
                return "the residuals are not finite at the start point (r[" + std::to_string(i) +
                       "] = " + (std::isnan(p.r[i]) ? std::string("nan") : std::string("inf")) + ")";
        return "the cost is not finite at the start point";
    }
    return {};
}

GaussNewtonModel::Point& GaussNewtonModel::Evaluate(std::span<const double> x) {
    for (Point& p : m_Cache)
        if (!p.x.empty() && Same(p.x, x))
            return p;
    // The slot to reuse: an empty one, else the oldest point except the newest one with a
    // Jacobian (the point the engine is stepping from, whose Jacobian costs the most).
    size_t keep = m_Cache.size();
    for (size_t k = 0; k < m_Cache.size(); k++)
        if (m_Cache[k].hasJacobian && (keep == m_Cache.size() || m_Cache[k].stamp > m_Cache[keep].stamp))
            keep = k;
    size_t slot = m_Cache.size();
    for (size_t k = 0; k < m_Cache.size(); k++) {
        if (k == keep)
            continue;
        if (m_Cache[k].x.empty()) {
            slot = k;
            break;
        }
        if (slot == m_Cache.size() || m_Cache[k].stamp < m_Cache[slot].stamp)
            slot = k;
    }
    Point& p = m_Cache[slot];
    p = Point{};
    p.stamp = ++m_nStamp;
    m_nResidual++;
    p.r = CallResidual(x);
    p.x.assign(x.begin(), x.end());
    p.cost = LossCost(m_Loss, m_dLossScale, p.r);
    return p;
}

void GaussNewtonModel::AddJacobian(Point& p) {
    const size_t m = m_m;
    const size_t n = m_n;
    p.jac.assign(m * n, 0.0);
    m_nJacobian++;
    if (m_Jacobian) {
        m_Jacobian(std::span<const double>(p.x), std::span<double>(p.jac));
    } else {
        const bool central = m_Scheme == DifferenceScheme::ThreePoint;
        const double root = central ? std::cbrt(DBL_EPSILON) : std::sqrt(DBL_EPSILON);
        const std::vector<double>& x = p.x;
        const std::vector<double>& r0 = p.r;
        std::vector<double>& jac = p.jac;
        auto column = [&](int index, int /*thread*/) {
            const size_t j = static_cast<size_t>(index);
            std::vector<double> xs = x;
            const double xj = x[j];
            const double sign = xj < 0.0 ? -1.0 : 1.0;
            const double h0 = root * sign * std::max(std::fabs(xj), m_StepSizes[j]);
            // A step that is exact in floating point: (x + h) - x.
            xs[j] = xj + h0;
            const double h = xs[j] - xj;
            std::vector<double> rp = CallResidual(xs);
            m_nDifference.fetch_add(1, std::memory_order_relaxed);
            if (central) {
                xs[j] = xj - h;
                std::vector<double> rm = CallResidual(xs);
                m_nDifference.fetch_add(1, std::memory_order_relaxed);
                for (size_t i = 0; i < m; i++)
                    jac[i * n + j] = (rp[i] - rm[i]) / (2.0 * h);
            } else {
                for (size_t i = 0; i < m; i++)
                    jac[i * n + j] = (rp[i] - r0[i]) / h;
            }
        };
        if (m_pPool)
            m_pPool->ParallelFor(static_cast<int>(n), column);
        else
            for (size_t j = 0; j < n; j++)
                column(static_cast<int>(j), 0);
    }
    // The reweighted model.
    std::vector<double> gradientSquares(n, 0.0);
    if (m_Loss != Loss::Linear) {
        p.jw = p.jac;
        p.rw.assign(m, 0.0);
    }
    for (size_t i = 0; i < m && m_Loss != Loss::Linear; i++) {
        const LossWeight w = ReweightResidual(m_Loss, m_dLossScale, p.r[i]);
        p.rw[i] = w.residual;
        if (m_Loss != Loss::Linear) {
            const double q = p.r[i] / m_dLossScale;
            const double d1 = EvaluateLoss(m_Loss, q * q).d1;
            for (size_t j = 0; j < n; j++)
                gradientSquares[j] += d1 * (p.jac[i * n + j] * p.jac[i * n + j]);
        }
        if (w.rowFactor != 1.0)
            for (size_t j = 0; j < n; j++)
                p.jw[i * n + j] = w.rowFactor * p.jw[i * n + j];
    }
    p.gradient.assign(n, 0.0);
    std::vector<double> squares(n, 0.0);
    for (size_t i = 0; i < m; i++) {
        const double* row = &p.Model()[i * n];
        const double ri = p.ModelResiduals()[i];
        for (size_t j = 0; j < n; j++) {
            p.gradient[j] += row[j] * ri;
            squares[j] += row[j] * row[j];
        }
    }
    p.columnNorms.assign(n, 0.0);
    for (size_t j = 0; j < n; j++)
        p.columnNorms[j] = std::sqrt(squares[j]);
    if (m_Loss == Loss::Linear) {
        p.gradientColumnNorms = p.columnNorms;
    } else {
        p.gradientColumnNorms.assign(n, 0.0);
        for (size_t j = 0; j < n; j++)
            p.gradientColumnNorms[j] = std::sqrt(gradientSquares[j]);
    }
    p.hasJacobian = true;
}

void GaussNewtonModel::SetDifferenceScheme(DifferenceScheme scheme) {
    if (scheme == m_Scheme || m_Jacobian)
        return;
    m_Scheme = scheme;
    for (Point& p : m_Cache) {
        p.hasJacobian = false;
        p.jac.clear();
        p.jw.clear();
        p.rw.clear();
        p.gradient.clear();
        p.columnNorms.clear();
        p.gradientColumnNorms.clear();
    }
}

const GaussNewtonModel::Point& GaussNewtonModel::WithJacobian(std::span<const double> x) {
    Point& p = Evaluate(x);
    if (!p.hasJacobian)
        AddJacobian(p);
    return p;
}

double GaussNewtonModel::Cost(std::span<const double> x) {
    return Evaluate(x).cost;
}

void GaussNewtonModel::Gradient(std::span<const double> x, std::span<double> g) {
    const Point& p = WithJacobian(x);
    for (size_t j = 0; j < m_n; j++)
        g[j] = p.gradient[j];
}

void GaussNewtonModel::Hessian(std::span<const double> x, std::span<double> h) {
    const Point& p = WithJacobian(x);
    const size_t n = m_n;
    for (size_t i = 0; i < m_m; i++) {
        const double* row = &p.Model()[i * n];
        for (size_t j = 0; j < n; j++)
            for (size_t k = 0; k <= j; k++)
                h[j * n + k] += row[j] * row[k];
    }
}

} // namespace vrn
