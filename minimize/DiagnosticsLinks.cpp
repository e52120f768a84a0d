// The engine's side of its diagnostics display: the installs remember the document and
// the identifiers and forward to the display, and the history hooks tell it to repaint.
#include <algorithm>

#include "minimize/UnconstrainedMinimization.h"

void CVRNUnconstrainedMinimization::SetDiagnosticsDisplay(CVRNDiagnosticsDisplay* display) {
    CVRNDiagnosticsDisplay* previous = m_pDiagnostics;
    m_pDiagnostics = display;
    if (previous && previous != display)
        previous->Detached();
}

const CString& CVRNUnconstrainedMinimization::GetDisplayID(CVRNDiagnosticsDisplay::Target which) const {
    switch (which) {
    case CVRNDiagnosticsDisplay::ResidualPlot:
        return m_ResidualPlotID;
    case CVRNDiagnosticsDisplay::GradientPlot:
        return m_GradientPlotID;
    case CVRNDiagnosticsDisplay::ParametersPlot:
        return m_ParametersPlotID;
    case CVRNDiagnosticsDisplay::DiagnosticGrid:
        return m_DiagGridID;
    case CVRNDiagnosticsDisplay::JacobianGrid:
        return m_JacobianGridID;
    case CVRNDiagnosticsDisplay::HessianGrid:
        break;
    }
    return m_HessianGridID;
}

void CVRNUnconstrainedMinimization::GetDiagnosticColumns(CBaseHdr* columns[kDiagnosticColumns]) {
    CBaseHdr* arrays[kDiagnosticColumns] = {
        &m_X0,   &m_X,    &m_UDiag, &m_TypSiz, &m_Grad,         &m_Step,    &m_ScaleX,
        &m_Wrk0, &m_Wrk1, &m_Wrk2,  &m_Wrk3,   &m_ErrorHistory, &m_GradMin, &m_XMin};
    std::copy(arrays, arrays + kDiagnosticColumns, columns);
}

bool CVRNUnconstrainedMinimization::DiagnosticPlotsInstalled() const {
    return m_pDiagnostics != nullptr && m_pDiagnostics->PlotsInstalled();
}

void CVRNUnconstrainedMinimization::InstallResidualPlot(CDocument* doc, const char* id) {
    m_pDocument = doc;
    m_ResidualPlotID = id;
    InstallResidualPlot();
}

void CVRNUnconstrainedMinimization::InstallGradientPlot(CDocument* doc, const char* id) {
    m_pDocument = doc;
    m_GradientPlotID = id;
    InstallGradientPlot();
}

void CVRNUnconstrainedMinimization::InstallParametersPlot(CDocument* doc, const char* id) {
    m_pDocument = doc;
    m_ParametersPlotID = id;
    InstallParametersPlot();
}

void CVRNUnconstrainedMinimization::InstallDiagnosticGrid(CDocument* doc, const char* id) {
    m_pDocument = doc;
    m_DiagGridID = id;
    InstallDiagnosticGrid();
}

void CVRNUnconstrainedMinimization::InstallJacobianGrid(CDocument* doc, const char* id) {
    m_pDocument = doc;
    m_JacobianGridID = id;
    InstallJacobianGrid();
}

void CVRNUnconstrainedMinimization::InstallHessianGrid(CDocument* doc, const char* id) {
    m_pDocument = doc;
    m_HessianGridID = id;
    InstallHessianGrid();
}

void CVRNUnconstrainedMinimization::InstallResidualPlot() {
    if (m_pDiagnostics)
        m_pDiagnostics->Install(CVRNDiagnosticsDisplay::ResidualPlot);
}

void CVRNUnconstrainedMinimization::InstallGradientPlot() {
    if (m_pDiagnostics)
        m_pDiagnostics->Install(CVRNDiagnosticsDisplay::GradientPlot);
}

void CVRNUnconstrainedMinimization::InstallParametersPlot() {
    if (m_pDiagnostics)
        m_pDiagnostics->Install(CVRNDiagnosticsDisplay::ParametersPlot);
}

void CVRNUnconstrainedMinimization::InstallDiagnosticGrid() {
    if (m_pDiagnostics)
        m_pDiagnostics->Install(CVRNDiagnosticsDisplay::DiagnosticGrid);
}

void CVRNUnconstrainedMinimization::InstallJacobianGrid() {
    if (m_pDiagnostics)
        m_pDiagnostics->Install(CVRNDiagnosticsDisplay::JacobianGrid);
}

void CVRNUnconstrainedMinimization::InstallHessianGrid() {
    if (m_pDiagnostics)
        m_pDiagnostics->Install(CVRNDiagnosticsDisplay::HessianGrid);
}

// The three plots repaint together: one notice covers all of them.
void CVRNUnconstrainedMinimization::UpdateResidualPlot() {
    if (m_pDiagnostics)
        m_pDiagnostics->HistoriesUpdated();
}
void CVRNUnconstrainedMinimization::UpdateGradientPlot() {}
void CVRNUnconstrainedMinimization::UpdateParametersPlot() {}

void CVRNUnconstrainedMinimization::UpdateDiagGrid() {
    if (m_pMethod)
        m_pMethod->UpdateViews();
    if (m_pDiagnostics)
        m_pDiagnostics->ArraysChanged();
}

void CVRNUnconstrainedMinimization::AddObserver(CVRNIterationObserver* observer) {
    if (observer && std::find(m_Observers.begin(), m_Observers.end(), observer) == m_Observers.end())
        m_Observers.push_back(observer);
}

void CVRNUnconstrainedMinimization::RemoveObserver(CVRNIterationObserver* observer) {
    m_Observers.erase(std::remove(m_Observers.begin(), m_Observers.end(), observer), m_Observers.end());
}
