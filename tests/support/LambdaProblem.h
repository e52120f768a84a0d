// A problem given by callables, counting every call the engine makes. Shared by the
// engine tests.
#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "host/matrix/Matrix.h"
#include "minimize/MinimizationMethodBase.h"

class LambdaProblem : public CVRNMinimizationMethodBase {
public:
    using FxFn = std::function<double(const double*)>;
    using GradFn = std::function<void(const double*, double*)>;
    using HessFn = std::function<void(const double*, CMatrix&)>;

    LambdaProblem(std::vector<double> x0, FxFn f, GradFn g = nullptr, HessFn h = nullptr)
        : m_X0(std::move(x0)), m_F(std::move(f)), m_G(std::move(g)), m_H(std::move(h)) {}

    int NumberOfParameters() override { return static_cast<int>(m_X0.size()); }
    void InitialParameters(double* const x0) override {
        for (size_t i = 0; i < m_X0.size(); i++)
            x0[i] = m_X0[i];
    }
    void SetIterations(int c) override { told.push_back(c); }
    double Fx(double* const x) override {
        ++nfev;
        return m_F(x);
    }
    void Gradient(double* const x, double* const g) override {
        ++ngev;
        if (m_G)
            m_G(x, g);
    }
    void Hessian(double* const x, CMatrix& h) override {
        ++nhev;
        if (m_H)
            m_H(x, h);
    }
    void CommitStep(double* x, int n) override {
        ++ncommit;
        (void)x;
        (void)n;
    }

    std::vector<double> m_X0;
    FxFn m_F;
    GradFn m_G;
    HessFn m_H;
    int nfev = 0, ngev = 0, nhev = 0, ncommit = 0;
    std::vector<int> told;
};
