// The engine's diagnostic plots: the residual plot (objective against iteration),
// the gradient plot and the parameters plot (one series per component), set up in
// plot frame views of the host's document and re-pointed at the growing histories
// after every recorded iteration.
#include "host/plot/PlotViews.h"
#include "host/viewid/UniqueViewID.h"
#include "minimize/UnconstrainedMinimization.h"

#include <memory>

namespace {

using Engine = CVRNUnconstrainedMinimization;
using EngineSetup = PlotSetup<CVRNUnconstrainedMinimization>;

constexpr KelPlotUI::AxisLoc kIterationAxis = static_cast<KelPlotUI::AxisLoc>(1);
constexpr KelPlotUI::AxisLoc kValueAxis = static_cast<KelPlotUI::AxisLoc>(3);
constexpr KelSymbols::Symbol kNoSymbol = static_cast<KelSymbols::Symbol>(0);
constexpr double kNull = -32600.0;

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
void InstallPlotSetup(Engine* engine, CDocument* doc, const CString& id, EngineSetup::SetupHook hook) {
    EngineSetup* setup = new EngineSetup(engine, hook, doc);
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

}  // namespace

bool CVRNUnconstrainedMinimization::DiagnosticPlotsInstalled() const {
    return m_pResidualPlotView != nullptr && m_pGradientPlotView != nullptr && m_pParametersPlotView != nullptr;
}

// ---------------------------------------------------------------- installing

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

void CVRNUnconstrainedMinimization::InstallResidualPlot() {
    if (m_nIterationLimit == 0 || !m_pDocument)
        return;
    InstallPlotSetup(this, m_pDocument, m_ResidualPlotID, &Engine::SetupResidualPlot);
}

void CVRNUnconstrainedMinimization::InstallGradientPlot() {
    if (m_nIterationLimit == 0 || !m_pDocument)
        return;
    InstallPlotSetup(this, m_pDocument, m_GradientPlotID, &Engine::SetupGradientPlot);
}

void CVRNUnconstrainedMinimization::InstallParametersPlot() {
    if (m_nIterationLimit == 0 || !m_pDocument)
        return;
    InstallPlotSetup(this, m_pDocument, m_ParametersPlotID, &Engine::SetUpParametersPlot);
}

// ---------------------------------------------------------------- setup hooks

void CVRNUnconstrainedMinimization::SetupResidualPlot(CKelPlotDllView* view, CWPlot& plot) {
    const int k = m_nIterationCount;
    plot.Reset();
    m_pResidualPlotView = view;
    SetTitles(plot, m_ResidualPlotID, m_pDocument);

    CAxisUI horizontal = MakeAxis(kIterationAxis, 0, "Iterations", 1);
    plot.AddAxis(horizontal);
    CAxisUI vertical = MakeAxis(kValueAxis, 2, "Residual Error", 1);
    plot.AddAxis(vertical);

    CDataUI series(m_IterationArray, m_ErrorHistory, &horizontal, &vertical, kNoSymbol);
    series.m_nLineWidth = 3;
    plot.AddDataUI(series, 1);

    const int size = m_IterationArray.GetSize() < m_ErrorHistory.GetSize() ? m_IterationArray.GetSize()
                                                                            : m_ErrorHistory.GetSize();
    int first = 0, last = 0;
    if (m_bTrack && k >= 20 && TrackingWindow(size, first, last)) {
        plot.SetMinMax(m_IterationArray[first], m_IterationArray[last], kIterationAxis, 0);
        plot.SetMinMax(m_ErrorHistory[last], m_ErrorHistory[first], kValueAxis, 0);
    } else {
        plot.AutoScale(1);
    }
}

void CVRNUnconstrainedMinimization::SetupGradientPlot(CKelPlotDllView* view, CWPlot& plot) {
    SetupComponentPlot(view, plot, true);
}

void CVRNUnconstrainedMinimization::SetUpParametersPlot(CKelPlotDllView* view, CWPlot& plot) {
    SetupComponentPlot(view, plot, false);
}

void CVRNUnconstrainedMinimization::SetupComponentPlot(CKelPlotDllView* view, CWPlot& plot, bool gradient) {
    const int k = m_nIterationCount;
    plot.Reset();
    (gradient ? m_pGradientPlotView : m_pParametersPlotView) = view;
    std::vector<CDblHdr>& history = gradient ? m_GradientHistory : m_ParameterHistory;
    if (history.empty())
        return;
    SetTitles(plot, gradient ? m_GradientPlotID : m_ParametersPlotID, m_pDocument);

    CAxisUI horizontal = MakeAxis(kIterationAxis, 0, "Iterations", 0);
    plot.AddAxis(horizontal);
    CAxisUI vertical = MakeAxis(kValueAxis, 0, gradient ? "Gradient" : "Parameters", 0);
    plot.AddAxis(vertical);
    plot.SetPlotDataBkColor(0);

    int size = m_IterationArray.GetSize();
    int n = m_nParameters < static_cast<int>(history.size()) ? m_nParameters : static_cast<int>(history.size());
    for (int i = 0; i < n; i++)
        if (history[static_cast<size_t>(i)].GetSize() < size) size = history[static_cast<size_t>(i)].GetSize();
    int first = 0, last = 0;
    const bool tracking = m_bTrack && k >= 20 && TrackingWindow(size, first, last);

    auto series = std::make_unique<CDataUI>(m_IterationArray, history[0], &horizontal, &vertical, kNoSymbol);
    series->m_XAxis = horizontal;
    series->m_YAxis = vertical;
    series->m_bLegend = 1;
    if (tracking)
        series->m_nFirstPoint = first;
    for (int i = 0; i < n; i++) {
        CDblHdr& component = history[static_cast<size_t>(i)];
        series->SetXData(&m_IterationArray);
        series->SetYData(&component);
        series->m_strName = component.GetMoniker();
        series->m_strLegend = component.GetMoniker();
        series->m_Color = m_Colors[static_cast<size_t>(i % 27)];
        plot.AddDataUI(*series, 1);
    }

    if (tracking) {
        plot.SetMinMax(m_IterationArray[first], m_IterationArray[last], kIterationAxis, 0);
        if (gradient)
            plot.SetMinMax(m_dGradPlotMin, m_dGradPlotMax, kValueAxis, 0);
        else
            plot.SetMinMax(m_dParamPlotMin, m_dParamPlotMax, kValueAxis, 0);
    } else {
        plot.AutoScale(1);
    }
}

// ---------------------------------------------------------------- updates

void CVRNUnconstrainedMinimization::UpdateResidualPlot() {
    if (!m_pResidualPlotView)
        return;
    CWPlot& plot = m_pResidualPlotView->GetPlot();
    const int k = m_nIterationCount;
    const int size = m_IterationArray.GetSize() < m_ErrorHistory.GetSize() ? m_IterationArray.GetSize()
                                                                            : m_ErrorHistory.GetSize();
    int first = 0, last = 0;
    const bool tracking = m_bTrack && k >= 20 && TrackingWindow(size, first, last);
    if (CDataUI* series = plot.GetDataUI(m_ErrorHistory.GetMoniker())) {
        series->SetXData(&m_IterationArray);
        series->SetYData(&m_ErrorHistory);
        if (tracking)
            series->m_nFirstPoint = first;
    }
    if (tracking) {
        plot.SetMinMax(m_IterationArray[first], m_IterationArray[last], kIterationAxis, 0);
        plot.SetMinMax(m_ErrorHistory[last], m_ErrorHistory[first], kValueAxis, 0);
    } else {
        plot.AutoScale(1);
    }
    m_pResidualPlotView->Invalidate(TRUE);
}

namespace {

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

}  // namespace

void CVRNUnconstrainedMinimization::UpdateGradientPlot() {
    UpdateComponentPlot(m_pGradientPlotView, m_IterationArray, m_GradientHistory, m_nParameters, "Gradient%d",
                        static_cast<bool>(m_bTrack), m_nIterationCount, m_dGradPlotMin, m_dGradPlotMax);
}

void CVRNUnconstrainedMinimization::UpdateParametersPlot() {
    UpdateComponentPlot(m_pParametersPlotView, m_IterationArray, m_ParameterHistory, m_nParameters, "Param%d",
                        static_cast<bool>(m_bTrack), m_nIterationCount, m_dParamPlotMin, m_dParamPlotMax);
}
