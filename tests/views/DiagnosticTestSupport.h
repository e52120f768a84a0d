// Shared pieces of the diagnostics tests: white-box access to the engine, small
// problems with known derivatives, and a document holding every diagnostic view.
#pragma once

#include <cmath>
#include <functional>
#include <vector>

#include "host/framework/View.h"
#include "host/grid/GridView.h"
#include "host/matrix/Matrix.h"
#include "host/plot/PlotViews.h"
#include "minimize/UnconstrainedMinimization.h"
#include "views/DiagnosticViews.h"
#include "views/MatrixView.h"

#include <memory>

struct DiagnosticsTag {};

template <> struct CVRNEngineProbe<DiagnosticsTag> {
    using E = CVRNUnconstrainedMinimization;
    static CDblHdr& ErrorHistory(E& e) { return e.m_ErrorHistory; }
    static CDblHdr& IterationArray(E& e) { return e.m_IterationArray; }
    static std::vector<CDblHdr>& GradientHistory(E& e) { return e.m_GradientHistory; }
    static std::vector<CDblHdr>& ParameterHistory(E& e) { return e.m_ParameterHistory; }
    static double& GradMin(E& e) { return e.m_dGradPlotMin; }
    static double& GradMax(E& e) { return e.m_dGradPlotMax; }
    static double& ParamMin(E& e) { return e.m_dParamPlotMin; }
    static double& ParamMax(E& e) { return e.m_dParamPlotMax; }
    static std::vector<unsigned long>& Colors(E& e) { return e.m_Colors; }
    static CIntPar& ShowDiag(E& e) { return e.m_bShowDiag; }
    static CIntPar& ShowHessian(E& e) { return e.m_bShowHessian; }
    static int& Parameters(E& e) { return e.m_nParameters; }
    static int& Allocated(E& e) { return e.m_nAllocated; }
    static int& Limit(E& e) { return e.m_nIterationLimit; }
    static double* Grad(E& e) { return e.m_pGrad; }
    static double* X(E& e) { return e.m_pX; }
    // The views the engine's diagnostics display found (null without a display).
    static CVRNDiagnosticViews* Display(E& e) {
        return static_cast<CVRNDiagnosticViews*>(e.GetDiagnosticsDisplay());
    }
    static CKelPlotDllView* ResidualView(E& e) {
        return Display(e) ? Display(e)->GetResidualPlotView() : nullptr;
    }
    static CKelPlotDllView* GradientView(E& e) {
        return Display(e) ? Display(e)->GetGradientPlotView() : nullptr;
    }
    static CKelPlotDllView* ParametersView(E& e) {
        return Display(e) ? Display(e)->GetParametersPlotView() : nullptr;
    }
    static CKelGrid* DiagGrid(E& e) { return Display(e) ? Display(e)->GetDiagnosticGrid() : nullptr; }
    static CVRNMatrixView* HessianView(E& e) { return Display(e) ? Display(e)->GetHessianView() : nullptr; }
    static CDblHdr* GridArray(E& e, int column) {
        CDblHdr* arrays[] = {&e.m_X0,      &e.m_X,    &e.m_UDiag, &e.m_TypSiz, &e.m_Grad, &e.m_Step,
                             &e.m_ScaleX,  &e.m_Wrk0, &e.m_Wrk1,  &e.m_Wrk2,   &e.m_Wrk3, &e.m_ErrorHistory,
                             &e.m_GradMin, &e.m_XMin};
        return arrays[column];
    }
    static void SetPlotMinMaxValues(E& e) { e.SetPlotMinMaxValues(); }
    static void InitilizeDiagnosticArrays(E& e) { e.InitilizeDiagnosticArrays(); }
    static void SetDiagnosticArrays(E& e) { e.SetDiagnosticArrays(); }
    static void UpdateDiagGrid(E& e) { e.UpdateDiagGrid(); }
};

using DiagProbe = CVRNEngineProbe<DiagnosticsTag>;

// A problem given by callables, counting UpdateViews and offering a callback there.
class DiagProblem : public CVRNMinimizationMethodBase {
public:
    using Fn = std::function<double(const double*)>;
    using GradFn = std::function<void(const double*, double*)>;
    using HessFn = std::function<void(const double*, CMatrix&)>;

    DiagProblem(std::vector<double> x0, Fn f, GradFn g, HessFn h)
        : m_X0(std::move(x0)), m_F(std::move(f)), m_G(std::move(g)), m_H(std::move(h)) {}

    int NumberOfParameters() override { return static_cast<int>(m_X0.size()); }
    void InitialParameters(double* const x0) override {
        for (size_t i = 0; i < m_X0.size(); i++)
            x0[i] = m_X0[i];
    }
    double Fx(double* const x) override { return m_F(x); }
    void Gradient(double* const x, double* const g) override { m_G(x, g); }
    void Hessian(double* const x, CMatrix& h) override { m_H(x, h); }
    void UpdateViews() override {
        ++updateViews;
        if (onUpdateViews)
            onUpdateViews();
    }

    std::vector<double> m_X0;
    Fn m_F;
    GradFn m_G;
    HessFn m_H;
    int updateViews = 0;
    std::function<void()> onUpdateViews;
};

// f = sum x_i^4. Newton's step takes x to 2x/3, so with a tiny typical f (which keeps
// the gradient test from firing) a run goes on for about 40 iterations.
inline DiagProblem Quartic(std::vector<double> x0) {
    const size_t n = x0.size();
    return DiagProblem(
        std::move(x0),
        [n](const double* x) {
            double f = 0.0;
            for (size_t i = 0; i < n; i++)
                f += x[i] * x[i] * x[i] * x[i];
            return f;
        },
        [n](const double* x, double* g) {
            for (size_t i = 0; i < n; i++)
                g[i] = 4.0 * x[i] * x[i] * x[i];
        },
        [n](const double* x, CMatrix& h) {
            for (size_t i = 0; i < n; i++)
                for (size_t j = 0; j < n; j++)
                    h[static_cast<int>(i)][static_cast<int>(j)] = i == j ? 12.0 * x[i] * x[i] : 0.0;
        });
}

// f = c.(x - x0) + |x - x0|^2 / 2: the gradient at the start x0 is c, the Hessian the identity.
inline DiagProblem LinearStart(std::vector<double> x0, std::vector<double> c) {
    const std::vector<double> s = x0;
    return DiagProblem(
        s,
        [s, c](const double* x) {
            double f = 0.0;
            for (size_t i = 0; i < s.size(); i++)
                f += c[i] * (x[i] - s[i]) + 0.5 * (x[i] - s[i]) * (x[i] - s[i]);
            return f;
        },
        [s, c](const double* x, double* g) {
            for (size_t i = 0; i < s.size(); i++)
                g[i] = c[i] + (x[i] - s[i]);
        },
        [n = s.size()](const double*, CMatrix& h) {
            for (size_t i = 0; i < n; i++)
                for (size_t j = 0; j < n; j++)
                    h[static_cast<int>(i)][static_cast<int>(j)] = i == j ? 1.0 : 0.0;
        });
}

// A document with the three plot views, the diagnostic grid and two matrix views.
struct DiagnosticDocument {
    CDocument doc;
    CPlotFrameView residual;
    CPlotFrameView gradient;
    CPlotFrameView parameters;
    CKelGridView grid;
    CVRNMatrixView hessian;
    CVRNMatrixView jacobian;

    DiagnosticDocument() {
        doc.SetTitle("Quartic test");
        residual.SetUniqueViewID("Residual");
        gradient.SetUniqueViewID("Gradient");
        parameters.SetUniqueViewID("Parameters");
        grid.SetUniqueViewID("Diagnostics");
        hessian.SetUniqueViewID("Hessian");
        jacobian.SetUniqueViewID("Jacobian");
        CView* views[] = {&residual, &gradient, &parameters, &grid, &hessian, &jacobian};
        for (CView* v : views) {
            doc.AddView(v);
            v->Create(nullptr, nullptr, AFX_WS_DEFAULT_VIEW, CRect(0, 0, 640, 400), nullptr, 1);
            v->OnInitialUpdate();
        }
    }

    // The display that draws the engine's diagnostics into this document's views.
    std::unique_ptr<CVRNDiagnosticViews> display;
    void Attach(CVRNUnconstrainedMinimization& e) {
        if (!display || display->GetEngine() != &e)
            display = std::make_unique<CVRNDiagnosticViews>(e);
    }

    void InstallPlots(CVRNUnconstrainedMinimization& e) {
        Attach(e);
        e.InstallResidualPlot(&doc, "Residual");
        e.InstallGradientPlot(&doc, "Gradient");
        e.InstallParametersPlot(&doc, "Parameters");
    }
    void InstallAll(CVRNUnconstrainedMinimization& e) {
        Attach(e);
        InstallPlots(e);
        e.InstallDiagnosticGrid(&doc, "Diagnostics");
        e.InstallHessianGrid(&doc, "Hessian");
        e.InstallJacobianGrid(&doc, "Jacobian");
    }
};

// Runs the engine with analytic derivatives, method 1 and a tiny typical f.
inline void RunQuartic(CVRNUnconstrainedMinimization& e, DiagProblem& p, int itnlim) {
    e.Default();
    e.SetImplementationOptions(true, true, false);
    e.Minimize(&p, 1e-30, itnlim, 1);
}
