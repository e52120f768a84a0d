// Per-iteration histories of the objective, gradient and parameters, the value ranges
// of the gradient and parameter plots, and the series colour table.
#include <cstdio>

#include "minimize/UnconstrainedMinimization.h"

namespace {

unsigned long Rgb(double r, double g, double b) {
    const auto byte = [](double v) { return static_cast<unsigned long>(static_cast<unsigned char>(v)); };
    return byte(r) | (byte(g) << 8) | (byte(b) << 16);
}

CString ComponentDescriptor(const char* format, int i) {
    CString name;
    name.Format(format, i);
    CString descriptor("0|");
    for (int k = 0; k < 4; k++)
        descriptor += name;
    descriptor += "MA_NULL";
    return descriptor;
}

// Growth step of the objective and iteration histories: the iteration limit, but
// never more than the default limit, so that a very large limit does not reserve
// memory for iterations that are never taken.
int HistoryGrowth(int iterationLimit) {
    const int cap = 10000;
    return iterationLimit < cap ? iterationLimit : cap;
}

} // namespace

void CVRNUnconstrainedMinimization::SetColorArray() {
    const double a = 225.0, b = 196.0, c = 128.0, d = 255.0, z = 0.0;
    m_Colors = {Rgb(z, a, z), Rgb(z, b, z), Rgb(z, c, z), Rgb(z, d, z), Rgb(a, z, z), Rgb(b, z, z),
                Rgb(c, z, z), Rgb(d, z, z), Rgb(z, z, a), Rgb(z, z, b), Rgb(z, z, c), Rgb(z, a, a),
                Rgb(z, b, b), Rgb(z, c, c), Rgb(a, a, z), Rgb(b, b, z), Rgb(c, c, z), Rgb(a, z, a),
                Rgb(b, z, b), Rgb(c, z, c), Rgb(z, a, c), Rgb(z, c, c), Rgb(a, c, z), Rgb(c, a, z),
                Rgb(a, z, c), Rgb(c, z, a), Rgb(z, z, z)};
}

void CVRNUnconstrainedMinimization::InitilizeDiagnosticArrays() {
    if (m_nIterationCount > 0)
        return;
    const int n = m_nParameters;
    m_ErrorHistory.SetSize(0, HistoryGrowth(m_nIterationLimit));
    m_IterationArray.SetSize(0, HistoryGrowth(m_nIterationLimit));
    m_ErrorHistory.Add(m_dF);
    m_IterationArray.Add(static_cast<double>(m_nIterationCount));
    m_GradientHistory.resize(static_cast<size_t>(n));
    m_ParameterHistory.resize(static_cast<size_t>(n));
    m_dGradPlotMin = m_dGradPlotMax = m_dParamPlotMin = m_dParamPlotMax = 0.0;
    for (int i = 0; i < n; i++) {
        CDblHdr& gh = m_GradientHistory[static_cast<size_t>(i)];
        CDblHdr& ph = m_ParameterHistory[static_cast<size_t>(i)];
        gh.Init(ComponentDescriptor("Gradient%d|", i));
        ph.Init(ComponentDescriptor("Param%d|", i));
        const double g = m_pGrad[i];
        const double x = m_pX[i];
        WidenPlotRanges(g, x);
        gh.SetSize(0, -1);
        ph.SetSize(0, -1);
        gh.Add(g);
        ph.Add(x);
    }
    InstallGradientPlot();
    InstallParametersPlot();
}

void CVRNUnconstrainedMinimization::SetDiagnosticArrays() {
    const int n = m_nParameters;
    // The histories continue only when they were started (at iteration 0 of this or an
    // earlier run) and are of one length. Diagnostics switched on in the middle of a
    // run find them empty, of another n or of unequal lengths: they then start here,
    // with this iteration as their first entry.
    const int length = m_IterationArray.GetSize();
    bool started = length > 0 && m_ErrorHistory.GetSize() == length &&
                   static_cast<int>(m_GradientHistory.size()) == n &&
                   static_cast<int>(m_ParameterHistory.size()) == n;
    for (int i = 0; started && i < n; i++)
        started = m_GradientHistory[static_cast<size_t>(i)].GetSize() == length &&
                  m_ParameterHistory[static_cast<size_t>(i)].GetSize() == length;
    if (!started) {
        m_ErrorHistory.SetSize(0, HistoryGrowth(m_nIterationLimit));
        m_IterationArray.SetSize(0, HistoryGrowth(m_nIterationLimit));
        m_GradientHistory.resize(static_cast<size_t>(n));
        m_ParameterHistory.resize(static_cast<size_t>(n));
        for (int i = 0; i < n; i++) {
            CDblHdr& gh = m_GradientHistory[static_cast<size_t>(i)];
            CDblHdr& ph = m_ParameterHistory[static_cast<size_t>(i)];
            gh.Init(ComponentDescriptor("Gradient%d|", i));
            ph.Init(ComponentDescriptor("Param%d|", i));
            gh.SetSize(0, -1);
            ph.SetSize(0, -1);
        }
        m_dGradPlotMin = m_dGradPlotMax = m_dParamPlotMin = m_dParamPlotMax = 0.0;
    }

    m_ErrorHistory.Add(m_dF);
    m_IterationArray.Add(static_cast<double>(m_nIterationCount));
    for (int i = 0; i < n; i++) {
        m_GradientHistory[static_cast<size_t>(i)].Add(m_pGrad[i]);
        m_ParameterHistory[static_cast<size_t>(i)].Add(m_pX[i]);
    }
    if (!started) {
        // The component plots get their series for the present n.
        InstallGradientPlot();
        InstallParametersPlot();
    }
    SetPlotMinMaxValues();
    UpdateResidualPlot();
    UpdateGradientPlot();
    UpdateParametersPlot();
}

void CVRNUnconstrainedMinimization::SetPlotMinMaxValues() {
    int n = m_nParameters;
    if (static_cast<int>(m_GradientHistory.size()) < n)
        n = static_cast<int>(m_GradientHistory.size());
    if (static_cast<int>(m_ParameterHistory.size()) < n)
        n = static_cast<int>(m_ParameterHistory.size());
    const int k = m_nIterationCount;
    if (m_bTrack && k >= 21) {
        if (n <= 0)
            return;
        // The window holds the 20 entries before the newest one: entries k-20 to k-1
        // when recording began at iteration 0. Histories that began later hold fewer
        // entries, and the window is cut to the ones they hold.
        int size = m_GradientHistory[0].GetSize();
        for (int i = 0; i < n; i++) {
            const int gs = m_GradientHistory[static_cast<size_t>(i)].GetSize();
            const int ps = m_ParameterHistory[static_cast<size_t>(i)].GetSize();
            if (gs < size)
                size = gs;
            if (ps < size)
                size = ps;
        }
        const int last = size - 2;
        const int first = size - 21 > 0 ? size - 21 : 0;
        if (first <= last) {
            m_dGradPlotMin = GetMinInArray(first, last, m_GradientHistory[0]);
            m_dGradPlotMax = GetMaxInArray(first, last, m_GradientHistory[0]);
            m_dParamPlotMin = GetMinInArray(first, last, m_ParameterHistory[0]);
            m_dParamPlotMax = GetMaxInArray(first, last, m_ParameterHistory[0]);
            for (int i = 1; i < n; i++) {
                CDblHdr& gh = m_GradientHistory[static_cast<size_t>(i)];
                CDblHdr& ph = m_ParameterHistory[static_cast<size_t>(i)];
                const double gmin = GetMinInArray(first, last, gh);
                const double gmax = GetMaxInArray(first, last, gh);
                const double pmin = GetMinInArray(first, last, ph);
                const double pmax = GetMaxInArray(first, last, ph);
                if (gmin < m_dGradPlotMin)
                    m_dGradPlotMin = gmin;
                if (gmax > m_dGradPlotMax)
                    m_dGradPlotMax = gmax;
                if (pmin < m_dParamPlotMin)
                    m_dParamPlotMin = pmin;
                if (pmax > m_dParamPlotMax)
                    m_dParamPlotMax = pmax;
            }
            return;
        }
        // Nothing recorded before the newest entry: widen by the current values below.
    }
    for (int i = 0; i < n; i++)
        WidenPlotRanges(m_pGrad[i], m_pX[i]);
}

void CVRNUnconstrainedMinimization::WidenPlotRanges(double g, double x) {
    m_dGradPlotMin = m_dGradPlotMin < g ? m_dGradPlotMin : g;
    m_dGradPlotMax = m_dGradPlotMax > g ? m_dGradPlotMax : g;
    m_dParamPlotMin = m_dParamPlotMin < x ? m_dParamPlotMin : x;
    m_dParamPlotMax = m_dParamPlotMax > x ? m_dParamPlotMax : x;
}

double CVRNUnconstrainedMinimization::GetMaxInArray(int first, int last, double* values) {
    double result = values[first];
    for (int i = first + 1; i <= last; i++)
        if (values[i] > result)
            result = values[i];
    return result;
}

double CVRNUnconstrainedMinimization::GetMinInArray(int first, int last, double* values) {
    double result = values[first];
    for (int i = first + 1; i <= last; i++)
        if (values[i] < result)
            result = values[i];
    return result;
}

// A change of the show-diagnostics option needs nothing at once: the public Minimize
// checks the plots at its start, and histories of a run in progress start (or go on)
// at the next recorded iteration.
void CVRNUnconstrainedMinimization::OnShowDiagnosticChanged() {}
