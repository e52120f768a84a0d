#pragma once

// A pass-through problem that counts the evaluations the engine asks for. The engine
// runs every problem through one of these, so that its run record holds exact counts
// whatever the problem does. The counters are atomic: with concurrent evaluation
// (bConcurrentEvaluation) several threads count at the same time.

#include <atomic>

#include "minimize/MinimizationMethodBase.h"

class CVRNCountingProblem : public CVRNMinimizationMethodBase {
public:
    void Attach(CVRNMinimizationMethodBase* problem) { m_pTarget = problem; }
    CVRNMinimizationMethodBase* Target() const { return m_pTarget; }
    void ResetCounts() { fEvaluations = gradientEvaluations = hessianEvaluations = 0; }

    int ImplementedMethods() override { return m_pTarget->ImplementedMethods(); }
    int NumberOfParameters() override { return m_pTarget->NumberOfParameters(); }
    void InitialParameters(double* const x0) override { m_pTarget->InitialParameters(x0); }
    void SetIterations(int count) override { m_pTarget->SetIterations(count); }
    double Fx(double* const x) override {
        fEvaluations.fetch_add(1, std::memory_order_relaxed);
        return m_pTarget->Fx(x);
    }
    void Gradient(double* const x, double* const g) override {
        gradientEvaluations.fetch_add(1, std::memory_order_relaxed);
        m_pTarget->Gradient(x, g);
    }
    void Hessian(double* const x, CMatrix& h) override {
        hessianEvaluations.fetch_add(1, std::memory_order_relaxed);
        m_pTarget->Hessian(x, h);
    }
    bool bConcurrentEvaluation() const override { return m_pTarget && m_pTarget->bConcurrentEvaluation(); }
    void UpdateViews() override { m_pTarget->UpdateViews(); }
    void CommitStep(double* x, int n) override { m_pTarget->CommitStep(x, n); }

    std::atomic<long> fEvaluations{0};
    std::atomic<long> gradientEvaluations{0};
    std::atomic<long> hessianEvaluations{0};

private:
    CVRNMinimizationMethodBase* m_pTarget = nullptr;
};
