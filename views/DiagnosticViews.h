#pragma once

// The display of an engine's diagnostics in a host document: the residual, gradient
// and parameters plots over the engine's histories, the grid of its working arrays and
// the matrix views of its model Hessian. Construct one beside the engine: it attaches
// itself as the engine's diagnostics display and detaches when destroyed. The engine's
// Install... calls (with a document and view identifiers) then reach these views.
//
//     CVRNUnconstrainedMinimization engine;
//     CVRNDiagnosticViews display(engine);
//     engine.InstallResidualPlot(&doc, "Residual");

#include "minimize/DiagnosticsDisplay.h"

class CVRNUnconstrainedMinimization;
class CKelPlotDllView;
class CWPlot;
class CKelGrid;
class CKelDataSource;
class CVRNMatrixView;

class CVRNDiagnosticViews : public CVRNDiagnosticsDisplay {
public:
    explicit CVRNDiagnosticViews(CVRNUnconstrainedMinimization& engine);
    ~CVRNDiagnosticViews() override;
    CVRNDiagnosticViews(const CVRNDiagnosticViews&) = delete;
    CVRNDiagnosticViews& operator=(const CVRNDiagnosticViews&) = delete;

    void Install(Target which) override;
    bool PlotsInstalled() const override;
    void HistoriesUpdated() override;
    void ArraysChanged() override;
    void Detached() override { m_pEngine = nullptr; }

    // The engine this display belongs to (null once the engine let go of it).
    CVRNUnconstrainedMinimization* GetEngine() const { return m_pEngine; }
    // The views found by the installs (null until a setup ran in such a view).
    CKelPlotDllView* GetResidualPlotView() const { return m_pResidualPlotView; }
    CKelPlotDllView* GetGradientPlotView() const { return m_pGradientPlotView; }
    CKelPlotDllView* GetParametersPlotView() const { return m_pParametersPlotView; }
    CKelGrid* GetDiagnosticGrid() const { return m_pDiagGrid; }
    CVRNMatrixView* GetHessianView() const { return m_pHessianView; }

    // Setup hooks run by the plot and grid views when they apply the installed setup.
    void SetupResidualPlot(CKelPlotDllView* view, CWPlot& plot);
    void SetupGradientPlot(CKelPlotDllView* view, CWPlot& plot);
    void SetUpParametersPlot(CKelPlotDllView* view, CWPlot& plot);
    void SetupDiagGrid(CKelGrid& grid, CKelDataSource* source);

private:
    void SetupComponentPlot(CKelPlotDllView* view, CWPlot& plot, bool gradient);
    void UpdateResidualPlot();
    void UpdateComponentPlots();

    CVRNUnconstrainedMinimization* m_pEngine;
    CKelPlotDllView* m_pResidualPlotView = nullptr;
    CKelPlotDllView* m_pGradientPlotView = nullptr;
    CKelPlotDllView* m_pParametersPlotView = nullptr;
    CKelGrid* m_pDiagGrid = nullptr;
    CVRNMatrixView* m_pHessianView = nullptr;
};
