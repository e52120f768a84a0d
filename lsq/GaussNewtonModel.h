#pragma once

// The residuals of a least-squares problem as the engine sees them: the cost, its
// gradient J~^T r~ and the Gauss-Newton Hessian J~^T J~ (J~, r~ the Jacobian and the
// residuals reweighted for the loss, see Loss.h), with the residuals and Jacobians of
// the last few points kept, so that the engine's repeated requests at one point (the
// cost at the accepted point, then its gradient, then its Hessian) cost one residual
// and one Jacobian evaluation.
//
// The sums are formed in one fixed order, without shortcuts: entry (j, k) of J~^T J~
// is sum_i J~_ij J~_ik and entry j of J~^T r~ is sum_i J~_ij r~_i, each added up over
// i = 0, 1, ..., m - 1 from 0.0, products rounded before they are added.
//
// A difference Jacobian evaluates its n columns (one or two residual vectors each) on
// the evaluation threads; each column is computed from its own copy of x by the same
// operations whichever thread runs it, so the Jacobian is that of one thread, bit for
// bit.

#include <atomic>
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "lsq/LeastSquares.h"

class CVRNEvaluationPool;

namespace vrn {

class GaussNewtonModel {
public:
    // One evaluated point: raw residuals and Jacobian, their reweighted forms and the cost.
    struct Point {
        std::vector<double> x;
        std::vector<double> r;
        double cost = 0.0;
        unsigned long stamp = 0; // when it was evaluated (larger: later)
        bool hasJacobian = false;
        std::vector<double> jac;         // m x n row-major
        std::vector<double> jw;          // reweighted Jacobian J~
        std::vector<double> rw;          // reweighted residuals r~
        std::vector<double> gradient;    // J~^T r~
        std::vector<double> columnNorms; // ||J~_j||
        // ||sqrt(rho') J_j||: with sqrt(2 cost) the bound of |g_j| by Cauchy-Schwarz
        // (sum rho' r_i^2 <= 2 cost for the concave losses), used by the gtol test.
        std::vector<double> gradientColumnNorms;
        // J~ and r~: the raw ones when the loss is linear (no copies of m x n arrays).
        const std::vector<double>& Model() const { return jw.empty() ? jac : jw; }
        const std::vector<double>& ModelResiduals() const { return rw.empty() ? r : rw; }
    };

    GaussNewtonModel(const ResidualFunction& residual, const JacobianFunction& jacobian, size_t n, Loss loss,
                     double lossScale, DifferenceScheme scheme, int threads);
    ~GaussNewtonModel();
    GaussNewtonModel(const GaussNewtonModel&) = delete;
    GaussNewtonModel& operator=(const GaussNewtonModel&) = delete;

    // Evaluates the residuals at x0 and fixes m. Returns an empty string, or why the
    // start cannot be used (no residuals, not finite).
    std::string Start(std::span<const double> x0);
    size_t Residuals() const { return m_m; }

    double Cost(std::span<const double> x);
    void Gradient(std::span<const double> x, std::span<double> g);
    // The lower triangle with the diagonal of J~^T J~ into h (n x n row-major).
    void Hessian(std::span<const double> x, std::span<double> h);
    // The point x with its Jacobian.
    const Point& WithJacobian(std::span<const double> x);

    // Estimates later Jacobians with this difference scheme (when there is no Jacobian
    // callable); the Jacobians kept so far are dropped, the residuals are kept.
    void SetDifferenceScheme(DifferenceScheme scheme);
    DifferenceScheme Scheme() const { return m_Scheme; }
    bool Differences() const { return !m_Jacobian; }

    long ResidualEvaluations() const { return m_nResidual; }
    long JacobianEvaluations() const { return m_nJacobian; }
    long DifferenceEvaluations() const { return m_nDifference.load(); }

private:
    Point& Evaluate(std::span<const double> x);
    void AddJacobian(Point& p);
    std::vector<double> CallResidual(std::span<const double> x);

    const ResidualFunction& m_Residual;
    const JacobianFunction& m_Jacobian;
    const size_t m_n;
    size_t m_m = 0;
    const Loss m_Loss;
    const double m_dLossScale;
    DifferenceScheme m_Scheme;
    std::unique_ptr<CVRNEvaluationPool> m_pPool;
    // The least size of each parameter in its difference step (|x0_j|, or 1 when x0_j is 0).
    std::vector<double> m_StepSizes;
    // The last points evaluated.
    std::vector<Point> m_Cache;
    unsigned long m_nStamp = 0;
    long m_nResidual = 0;
    long m_nJacobian = 0;
    std::atomic<long> m_nDifference{0};
};

} // namespace vrn
