// vrn::Minimize: callables wrapped in a problem object and handed to the run core.
#include "face/Minimize.h"

#include <algorithm>

#include "face/RunCore.h"
#include "host/matrix/Matrix.h"
#include "minimize/MinimizationMethodBase.h"

namespace vrn {

namespace {

// The problem object the run core sees: it evaluates the callables.
class CallableProblem : public CVRNMinimizationMethodBase {
public:
    CallableProblem(const Objective& f, const GradientFunction& g, const HessianFunction& h,
                    const std::vector<double>& x0, bool concurrent)
        : m_F(f), m_G(g), m_H(h), m_n(static_cast<int>(x0.size())), m_Start(x0), m_bConcurrent(concurrent) {
        if (m_H)
            m_HessianBuffer.resize(x0.size() * x0.size());
    }

    // The caller vouches for the callables when it asks for more than one thread.
    bool bConcurrentEvaluation() const override { return m_bConcurrent; }
    int NumberOfParameters() override { return m_n; }
    void InitialParameters(double* const x0) override { std::copy(m_Start.begin(), m_Start.end(), x0); }
    double Fx(double* const x) override { return m_F(std::span<const double>(x, static_cast<size_t>(m_n))); }
    void Gradient(double* const x, double* const g) override {
        m_G(std::span<const double>(x, static_cast<size_t>(m_n)),
            std::span<double>(g, static_cast<size_t>(m_n)));
    }
    void Hessian(double* const x, CMatrix& h) override {
        std::fill(m_HessianBuffer.begin(), m_HessianBuffer.end(), 0.0);
        m_H(std::span<const double>(x, static_cast<size_t>(m_n)), m_HessianBuffer);
        for (int i = 0; i < m_n; i++)
            for (int j = 0; j < m_n; j++)
                h[i][j] = m_HessianBuffer[static_cast<size_t>(i * m_n + j)];
    }

private:
    const Objective& m_F;
    const GradientFunction& m_G;
    const HessianFunction& m_H;
    const int m_n;
    std::vector<double> m_Start;
    std::vector<double> m_HessianBuffer;
    const bool m_bConcurrent;
};

} // namespace

MinimizeResult Minimize(const Objective& f, const GradientFunction& gradient, const HessianFunction& hessian,
                        const std::vector<double>& x0, const MinimizeOptions& options) {
    if (!f)
        return RefusedResult("No objective function was given");
    CallableProblem problem(f, gradient, hessian, x0, options.threads > 1);
    return RunMinimization(problem, static_cast<bool>(gradient), static_cast<bool>(hessian), options);
}

MinimizeResult Minimize(const Objective& f, const GradientFunction& gradient, const std::vector<double>& x0,
                        const MinimizeOptions& options) {
    return Minimize(f, gradient, HessianFunction(), x0, options);
}

MinimizeResult Minimize(const Objective& f, const std::vector<double>& x0, const MinimizeOptions& options) {
    return Minimize(f, GradientFunction(), HessianFunction(), x0, options);
}

std::string CheckMinimizeOptions(const MinimizeOptions& options, size_t n, bool hasGradient,
                                 bool hasHessian) {
    const auto refusal = CheckOptions(options, {n, hasGradient, hasHessian}, options.naming);
    return refusal ? refusal->text : std::string();
}

} // namespace vrn
