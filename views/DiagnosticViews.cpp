// The engine's diagnostic plots: the residual plot (objective against iteration), the
// gradient plot and the parameters plot (one series per component), set up in plot
// frame views of the host's document and re-pointed at the growing histories after
// every recorded iteration; the grid of the working arrays and the objective history;
// and the matrix views of the model Hessian.
#include "views/DiagnosticViews.h"

#include <memory>
#include <vector>

#include "host/grid/GridView.h"
#include "host/plot/PlotViews.h"
#include "host/viewid/UniqueViewID.h"
#include "minimize/UnconstrainedMinimization.h"
#include "views/MatrixView.h"

namespace {

using Display = CVRNDiagnosticViews;
using DisplaySetup = PlotSetup<CVRNDiagnosticViews>;

constexpr KelPlotUI::AxisLoc kIterationAxis = static_cast<KelPlotUI::AxisLoc>(1);
constexpr KelPlotUI::AxisLoc kValueAxis = static_cast<KelPlotUI::AxisLoc>(3);
constexpr KelSymbols::Symbol kNoSymbol = static_cast<KelSymbols::Symbol>(0);
constexpr double kNull = kVRNNullValue;

// Entries shown while tracking: the newest entry of `size` and the one 20 before it,
// or the first entry when fewer are recorded (the histories hold k + 1 entries at
// iteration k when recording began at iteration 0, fewer when it began later).
// False when nothing is recorded.
bool TrackingWindow(int size, int& first, int& last) {
    if (size <= 0)
        return false;
    last = size - 1;
    first = last - 20 > 0 ? last - 20 : 0;
    return true;
}

// Installs a setup with the hook into the document's plot frame view bearing the
// identifier; without such a view the setup is discarded.
void InstallPlotSetup(Display* display, CDocument* doc, const CString& id, DisplaySetup::SetupHook hook) {
    DisplaySetup* setup = new DisplaySetup(display, hook, doc);
    CPlotFrameView* view = FindUniqueView<CPlotFrameView>(doc, id);
    if (!view) {
        setup->Release();
        return;
    }
    view->InstallSetup(setup);
    view->ProcessSetup();
    view->GetiDataFrameInterface();
}

void SetTitles(CWPlot& plot, CString id, CDocument* doc) {
    plot.SetPlotID(id);
    plot.SetMoniker(id);
    plot.SetTitle(id, 0, kNull);
    plot.SetSubTitle(doc ? doc->GetTitle() : CString(), 0, kNull);
    plot.SetTitleFlag(2);
}

CAxisUI MakeAxis(KelPlotUI::AxisLoc loc, int type, const char* label, int flag) {
    CAxisUI axis(loc, 0, static_cast<CAxisUI::AxisType>(type), 0);
    axis.m_strLabel = label;
    axis.m_strShortLabel = label;
    axis.m_bGridLines = flag;
    return axis;
}

void UpdateComponentPlot(CKelPlotDllView* view, CDblHdr& iterations, std::vector<CDblHdr>& history, int n,
                         const char* keyFormat, bool track, int k, double lo, double hi) {
    if (!view)
        return;
    CWPlot& plot = view->GetPlot();
    if (static_cast<int>(history.size()) < n)
        n = static_cast<int>(history.size());
    int size = iterations.GetSize();
    for (int i = 0; i < n; i++)
        if (history[static_cast<size_t>(i)].GetSize() < size)
            size = history[static_cast<size_t>(i)].GetSize();
    int first = 0, last = 0;
    const bool tracking = track && k >= 20 && TrackingWindow(size, first, last);
    for (int i = 0; i < n; i++) {
        CString key;
        key.Format(keyFormat, i);
        CDataUI* series = plot.GetDataUI(key);
        if (!series)
            continue;
        series->SetXData(&iterations);
        series->SetYData(&history[static_cast<size_t>(i)]);
        if (tracking)
            series->m_nFirstPoint = first;
    }
    if (tracking) {
        plot.SetMinMax(iterations[first], iterations[last], kIterationAxis, 0);
        plot.SetMinMax(lo, hi, kValueAxis, 0);
    } else {
        plot.AutoScale(1);
    }
    view->Invalidate(TRUE);
}

} // namespace

CVRNDiagnosticViews::CVRNDiagnosticViews(CVRNUnconstrainedMinimization& engine) : m_pEngine(&engine) {
    engine.SetDiagnosticsDisplay(this);
}

CVRNDiagnosticViews::~CVRNDiagnosticViews() {
    if (m_pEngine && m_pEngine->GetDiagnosticsDisplay() == this)
        m_pEngine->SetDiagnosticsDisplay(nullptr);
}

bool CVRNDiagnosticViews::PlotsInstalled() const {
    return m_pResidualPlotView != nullptr && m_pGradientPlotView != nullptr &&
           m_pParametersPlotView != nullptr;
}

// ---------------------------------------------------------------- installing

void CVRNDiagnosticViews::Install(Target which) {
    if (!m_pEngine)
        return;
    CVRNUnconstrainedMinimization& engine = *m_pEngine;
    CDocument* doc = engine.GetDocument();
    const CString& id = engine.GetDisplayID(which);
    switch (which) {
    case ResidualPlot:
    case GradientPlot:
    case ParametersPlot: {
        if (engine.GetIterationLimit() == 0 || !doc)
            return;
        const DisplaySetup::SetupHook hook = which == ResidualPlot   ? &Display::SetupResidualPlot
                                             : which == GradientPlot ? &Display::SetupGradientPlot
                                                                     : &Display::SetUpParametersPlot;
        InstallPlotSetup(this, doc, id, hook);
        return;
    }
    case DiagnosticGrid: {
        if (!engine.bArraysAllocated() || !doc || id.IsEmpty())
            return;
        auto* setup = new KelGridSetup<Display>(&Display::SetupDiagGrid, this, 1, 0, id, 0);
        CKelGridView* view = FindUniqueView<CKelGridView>(doc, id);
        if (!view) {
            setup->Release();
            return;
        }
        view->InstallSetup(setup);
        CiKelViewIdentity* identity = view;
        identity->ApplySetup();
        identity->GetSetup();
        return;
    }
    case JacobianGrid:
    case HessianGrid: {
        if (!engine.bArraysAllocated() || !doc || id.IsEmpty())
            return;
        CVRNMatrixView* view = FindUniqueView<CVRNMatrixView>(doc, id);
        if (!view)
            return;
        // Both views show the model Hessian; only the Hessian view is repainted.
        if (which == HessianGrid)
            m_pHessianView = view;
        view->SetCMatrix(engine.GetHessian());
        return;
    }
    }
}

// ---------------------------------------------------------------- setup hooks

void CVRNDiagnosticViews::SetupResidualPlot(CKelPlotDllView* view, CWPlot& plot) {
    if (!m_pEngine)
        return;
    CVRNUnconstrainedMinimization& engine = *m_pEngine;
    const int k = engine.GetIterationCount();
    CDblHdr& iterations = engine.GetIterationArray();
    CDblHdr& errors = engine.GetErrorHistory();
    plot.Reset();
    m_pResidualPlotView = view;
    SetTitles(plot, engine.GetDisplayID(ResidualPlot), engine.GetDocument());

    CAxisUI horizontal = MakeAxis(kIterationAxis, 0, "Iterations", 1);
    plot.AddAxis(horizontal);
    CAxisUI vertical = MakeAxis(kValueAxis, 2, "Residual Error", 1);
    plot.AddAxis(vertical);

    CDataUI series(iterations, errors, &horizontal, &vertical, kNoSymbol);
    series.m_nLineWidth = 3;
    plot.AddDataUI(series, 1);

    const int size = iterations.GetSize() < errors.GetSize() ? iterations.GetSize() : errors.GetSize();
    int first = 0, last = 0;
    if (engine.bTracking() && k >= 20 && TrackingWindow(size, first, last)) {
        plot.SetMinMax(iterations[first], iterations[last], kIterationAxis, 0);
        plot.SetMinMax(errors[last], errors[first], kValueAxis, 0);
    } else {
        plot.AutoScale(1);
    }
}

void CVRNDiagnosticViews::SetupGradientPlot(CKelPlotDllView* view, CWPlot& plot) {
    SetupComponentPlot(view, plot, true);
}

void CVRNDiagnosticViews::SetUpParametersPlot(CKelPlotDllView* view, CWPlot& plot) {
    SetupComponentPlot(view, plot, false);
}

void CVRNDiagnosticViews::SetupComponentPlot(CKelPlotDllView* view, CWPlot& plot, bool gradient) {
    if (!m_pEngine)
        return;
    CVRNUnconstrainedMinimization& engine = *m_pEngine;
    const int k = engine.GetIterationCount();
    CDblHdr& iterations = engine.GetIterationArray();
    plot.Reset();
    (gradient ? m_pGradientPlotView : m_pParametersPlotView) = view;
    std::vector<CDblHdr>& history = gradient ? engine.GetGradientHistory() : engine.GetParameterHistory();
    if (history.empty())
        return;
    SetTitles(plot, engine.GetDisplayID(gradient ? GradientPlot : ParametersPlot), engine.GetDocument());

    CAxisUI horizontal = MakeAxis(kIterationAxis, 0, "Iterations", 0);
    plot.AddAxis(horizontal);
    CAxisUI vertical = MakeAxis(kValueAxis, 0, gradient ? "Gradient" : "Parameters", 0);
    plot.AddAxis(vertical);
    plot.SetPlotDataBkColor(0);

    int size = iterations.GetSize();
    const int parameters = engine.GetNumberOfParameters();
    const int n =
        parameters < static_cast<int>(history.size()) ? parameters : static_cast<int>(history.size());
    for (int i = 0; i < n; i++)
        if (history[static_cast<size_t>(i)].GetSize() < size)
            size = history[static_cast<size_t>(i)].GetSize();
    int first = 0, last = 0;
    const bool tracking = engine.bTracking() && k >= 20 && TrackingWindow(size, first, last);

    const std::vector<unsigned long>& colors = engine.GetColors();
    auto series = std::make_unique<CDataUI>(iterations, history[0], &horizontal, &vertical, kNoSymbol);
    series->m_XAxis = horizontal;
    series->m_YAxis = vertical;
    series->m_bLegend = 1;
    if (tracking)
        series->m_nFirstPoint = first;
    for (int i = 0; i < n; i++) {
        CDblHdr& component = history[static_cast<size_t>(i)];
        series->SetXData(&iterations);
        series->SetYData(&component);
        series->m_strName = component.GetMoniker();
        series->m_strLegend = component.GetMoniker();
        series->m_Color = colors[static_cast<size_t>(i) % colors.size()];
        plot.AddDataUI(*series, 1);
    }

    if (tracking) {
        double lo = 0.0, hi = 0.0;
        if (gradient)
            engine.GetGradientPlotRange(lo, hi);
        else
            engine.GetParametersPlotRange(lo, hi);
        plot.SetMinMax(iterations[first], iterations[last], kIterationAxis, 0);
        plot.SetMinMax(lo, hi, kValueAxis, 0);
    } else {
        plot.AutoScale(1);
    }
}

void CVRNDiagnosticViews::SetupDiagGrid(CKelGrid& grid, CKelDataSource* source) {
    if (!m_pEngine)
        return;
    CVRNUnconstrainedMinimization& engine = *m_pEngine;
    CHdrGridDataSrc* columns = source ? source->GetHdrGridDataSrc() : nullptr;
    m_pDiagGrid = &grid;
    if (!columns)
        return;
    CBaseHdr* arrays[CVRNUnconstrainedMinimization::kDiagnosticColumns];
    engine.GetDiagnosticColumns(arrays);
    for (CBaseHdr* array : arrays)
        columns->AddCol(array, nullptr, nullptr);
    grid.EnableMenu(1);
    columns->Construct();
}

// ---------------------------------------------------------------- updates

void CVRNDiagnosticViews::HistoriesUpdated() {
    UpdateResidualPlot();
    UpdateComponentPlots();
}

void CVRNDiagnosticViews::UpdateResidualPlot() {
    if (!m_pEngine)
        return;
    CVRNUnconstrainedMinimization& engine = *m_pEngine;
    if (!m_pResidualPlotView)
        return;
    CWPlot& plot = m_pResidualPlotView->GetPlot();
    const int k = engine.GetIterationCount();
    CDblHdr& iterations = engine.GetIterationArray();
    CDblHdr& errors = engine.GetErrorHistory();
    const int size = iterations.GetSize() < errors.GetSize() ? iterations.GetSize() : errors.GetSize();
    int first = 0, last = 0;
    const bool tracking = engine.bTracking() && k >= 20 && TrackingWindow(size, first, last);
    if (CDataUI* series = plot.GetDataUI(errors.GetMoniker())) {
        series->SetXData(&iterations);
        series->SetYData(&errors);
        if (tracking)
            series->m_nFirstPoint = first;
    }
    if (tracking) {
        plot.SetMinMax(iterations[first], iterations[last], kIterationAxis, 0);
        plot.SetMinMax(errors[last], errors[first], kValueAxis, 0);
    } else {
        plot.AutoScale(1);
    }
    m_pResidualPlotView->Invalidate(TRUE);
}

void CVRNDiagnosticViews::UpdateComponentPlots() {
    if (!m_pEngine)
        return;
    CVRNUnconstrainedMinimization& engine = *m_pEngine;
    const int n = engine.GetNumberOfParameters();
    const int k = engine.GetIterationCount();
    const bool track = engine.bTracking();
    double lo = 0.0, hi = 0.0;
    engine.GetGradientPlotRange(lo, hi);
    UpdateComponentPlot(m_pGradientPlotView, engine.GetIterationArray(), engine.GetGradientHistory(), n,
                        "Gradient%d", track, k, lo, hi);
    engine.GetParametersPlotRange(lo, hi);
    UpdateComponentPlot(m_pParametersPlotView, engine.GetIterationArray(), engine.GetParameterHistory(), n,
                        "Param%d", track, k, lo, hi);
}

void CVRNDiagnosticViews::ArraysChanged() {
    if (!m_pEngine)
        return;
    CVRNUnconstrainedMinimization& engine = *m_pEngine;
    if (m_pDiagGrid && engine.bShowDiagnostics())
        m_pDiagGrid->RedrawAll();
    if (m_pHessianView && engine.bShowHessian())
        m_pHessianView->RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}
