#pragma once

#include <vector>

#include "host/matrix/Matrix.h"
#include "minimize/MinimizationMethodBase.h"
#include "problems/ReferenceProblems.h"

namespace vrn_problems {

// Hands a reference problem to the engine and counts the evaluations the engine asks
// for. InitialParameters returns the last point given to CommitStep (the problem's
// start point before any), so a restarted run continues where the previous one ended.
class CountingProblem : public CVRNMinimizationMethodBase {
public:
    explicit CountingProblem(golden::TestProblem& problem)
        : m_Problem(problem), m_Start(problem.x0),
          m_Buffer(static_cast<size_t>(problem.n) * static_cast<size_t>(problem.n)) {}

    int NumberOfParameters() override { return m_Problem.n; }
    void InitialParameters(double* const x0) override {
        for (int i = 0; i < m_Problem.n; i++)
            x0[i] = m_Start[static_cast<size_t>(i)];
    }
    void SetIterations(int count) override { iterations = count; }
    double Fx(double* const x) override {
        ++nfev;
        return m_Problem.fx(x);
    }
    void Gradient(double* const x, double* const g) override {
        ++ngev;
        m_Problem.grad(x, g);
    }
    void Hessian(double* const x, CMatrix& h) override {
        ++nhev;
        const int n = m_Problem.n;
        for (double& v : m_Buffer)
            v = 0.0;
        m_Problem.hess(x, m_Buffer.data());
        for (int i = 0; i < n; i++)
            for (int j = 0; j < n; j++)
                h[i][j] = m_Buffer[static_cast<size_t>(i * n + j)];
    }
    void CommitStep(double* x, int n) override {
        ++commits;
        if (n == m_Problem.n)
            for (int i = 0; i < n; i++)
                m_Start[static_cast<size_t>(i)] = x[i];
    }
    void UpdateViews() override { ++viewUpdates; }

    // Sets the start point of the next run.
    void SetStart(const std::vector<double>& x0) { m_Start = x0; }

    long nfev = 0, ngev = 0, nhev = 0, commits = 0, viewUpdates = 0;
    int iterations = -1;

private:
    golden::TestProblem& m_Problem;
    std::vector<double> m_Start;
    std::vector<double> m_Buffer;
};

} // namespace vrn_problems
