#pragma once

// The engine's link to a display of its diagnostics (plots of the histories, a grid of
// the working arrays, matrix views of the model Hessian). The engine keeps the
// histories and the document and identifiers it was given; a display implementation
// (views/DiagnosticViews.h) finds its views through them and draws. Without a display
// the engine records its histories and draws nothing.

#include "minimize/IterationObserver.h"

class CVRNDiagnosticsDisplay : public CVRNIterationObserver {
public:
    enum Target { ResidualPlot, GradientPlot, ParametersPlot, DiagnosticGrid, JacobianGrid, HessianGrid };

    // (Re)installs the target in the view of the engine's document bearing the
    // engine's identifier for it.
    virtual void Install(Target which) = 0;
    // True when the residual, gradient and parameters plots all have their views.
    virtual bool PlotsInstalled() const = 0;
    // The histories have a new entry (or were started): repaint the plots.
    virtual void HistoriesUpdated() = 0;
    // The working arrays or the model Hessian changed (a step was saved or undone).
    virtual void ArraysChanged() = 0;
    // The engine lets go of this display (another one was set, or the engine is being
    // destroyed): it must not be used through the engine any more.
    virtual void Detached() {}
};
