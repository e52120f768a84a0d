// Links from the engine to the diagnostic display (plots, grid, Hessian view).
// Until a host installs plot and grid views nothing is shown; the refresh still
// tells the problem that the engine's point changed.
#include "minimize/UnconstrainedMinimization.h"

bool CVRNUnconstrainedMinimization::DiagnosticPlotsInstalled() const {
    return m_pResidualPlotView != nullptr && m_pGradientPlotView != nullptr && m_pParametersPlotView != nullptr;
}

void CVRNUnconstrainedMinimization::InstallDiagnosticGrid() {}
void CVRNUnconstrainedMinimization::InstallGradientPlot() {}
void CVRNUnconstrainedMinimization::InstallParametersPlot() {}
void CVRNUnconstrainedMinimization::UpdateResidualPlot() {}
void CVRNUnconstrainedMinimization::UpdateGradientPlot() {}
void CVRNUnconstrainedMinimization::UpdateParametersPlot() {}

void CVRNUnconstrainedMinimization::UpdateDiagGrid() {
    if (m_pMethod) m_pMethod->UpdateViews();
}
