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
    for (int k = 0; k < 4; k++) descriptor += name;
    descriptor += "MA_NULL";
    return descriptor;
}

}  // namespace

void CVRNUnconstrainedMinimization::SetColorArray() {
    const double a = 225.0, b = 196.0, c = 128.0, d = 255.0, z = 0.0;
    m_Colors = {Rgb(z, a, z), Rgb(z, b, z), Rgb(z, c, z), Rgb(z, d, z), Rgb(a, z, z), Rgb(b, z, z),
                Rgb(c, z, z), Rgb(d, z, z), Rgb(z, z, a), Rgb(z, z, b), Rgb(z, z, c), Rgb(z, a, a),
                Rgb(z, b, b), Rgb(z, c, c), Rgb(a, a, z), Rgb(b, b, z), Rgb(c, c, z), Rgb(a, z, a),
                Rgb(b, z, b), Rgb(c, z, c), Rgb(z, a, c), Rgb(z, c, c), Rgb(a, c, z), Rgb(c, a, z),
                Rgb(a, z, c), Rgb(c, z, a), Rgb(z, z, z)};
}

void CVRNUnconstrainedMinimization::InitilizeDiagnosticArrays() {
    if (m_nIterationCount > 0) return;
    const int n = m_nParameters;
    m_ErrorHistory.SetSize(0, m_nIterationLimit);
    m_IterationArray.SetSize(0, m_nIterationLimit);
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
        m_dGradPlotMin = m_dGradPlotMin < g ? m_dGradPlotMin : g;
        m_dGradPlotMax = m_dGradPlotMax > g ? m_dGradPlotMax : g;
        m_dParamPlotMin = m_dParamPlotMin < x ? m_dParamPlotMin : x;
        m_dParamPlotMax = m_dParamPlotMax > x ? m_dParamPlotMax : x;
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
    m_ErrorHistory.Add(m_dF);
    m_IterationArray.Add(static_cast<double>(m_nIterationCount));
    // Diagnostics switched on in the middle of a run: start the component histories.
    if (static_cast<int>(m_GradientHistory.size()) != n || static_cast<int>(m_ParameterHistory.size()) != n) {
        m_GradientHistory.resize(static_cast<size_t>(n));
        m_ParameterHistory.resize(static_cast<size_t>(n));
        for (int i = 0; i < n; i++) {
            m_GradientHistory[static_cast<size_t>(i)].Init(ComponentDescriptor("Gradient%d|", i));
            m_ParameterHistory[static_cast<size_t>(i)].Init(ComponentDescriptor("Param%d|", i));
        }
    }
    for (int i = 0; i < n; i++) {
        m_GradientHistory[static_cast<size_t>(i)].Add(m_pGrad[i]);
        m_ParameterHistory[static_cast<size_t>(i)].Add(m_pX[i]);
    }
    SetPlotMinMaxValues();
    UpdateResidualPlot();
    UpdateGradientPlot();
    UpdateParametersPlot();
}

void CVRNUnconstrainedMinimization::SetPlotMinMaxValues() {
    const int n = m_nParameters;
    const int k = m_nIterationCount;
    if (m_bTrack && k >= 21) {
        if (n <= 0) return;
        // Window of the 20 entries before the newest; a history that started late
        // (diagnostics switched on during the run) is read only where it has entries.
        auto window = [&](CDblHdr& h, int& first, int& last) {
            const int size = h.GetSize();
            last = k - 1 < size - 1 ? k - 1 : size - 1;
            first = k - 20;
            if (first < 0) first = 0;
            return first <= last;
        };
        bool any = false;
        for (int i = 0; i < n; i++) {
            int first = 0, last = 0;
            CDblHdr& gh = m_GradientHistory[static_cast<size_t>(i)];
            CDblHdr& ph = m_ParameterHistory[static_cast<size_t>(i)];
            if (!window(gh, first, last) || !window(ph, first, last)) continue;
            const double gmin = GetMinInArray(first, last, gh);
            const double gmax = GetMaxInArray(first, last, gh);
            const double pmin = GetMinInArray(first, last, ph);
            const double pmax = GetMaxInArray(first, last, ph);
            if (!any) {
                m_dGradPlotMin = gmin;
                m_dGradPlotMax = gmax;
                m_dParamPlotMin = pmin;
                m_dParamPlotMax = pmax;
                any = true;
                continue;
            }
            if (gmin < m_dGradPlotMin) m_dGradPlotMin = gmin;
            if (gmax > m_dGradPlotMax) m_dGradPlotMax = gmax;
            if (pmin < m_dParamPlotMin) m_dParamPlotMin = pmin;
            if (pmax > m_dParamPlotMax) m_dParamPlotMax = pmax;
        }
        return;
    }
    for (int i = 0; i < n; i++) {
        const double g = m_pGrad[i];
        const double x = m_pX[i];
        m_dGradPlotMin = m_dGradPlotMin < g ? m_dGradPlotMin : g;
        m_dGradPlotMax = m_dGradPlotMax > g ? m_dGradPlotMax : g;
        m_dParamPlotMin = m_dParamPlotMin < x ? m_dParamPlotMin : x;
        m_dParamPlotMax = m_dParamPlotMax > x ? m_dParamPlotMax : x;
    }
}

double CVRNUnconstrainedMinimization::GetMaxInArray(int first, int last, double* values) {
    double result = values[first];
    for (int i = first + 1; i <= last; i++)
        if (values[i] > result) result = values[i];
    return result;
}

double CVRNUnconstrainedMinimization::GetMinInArray(int first, int last, double* values) {
    double result = values[first];
    for (int i = first + 1; i <= last; i++)
        if (values[i] < result) result = values[i];
    return result;
}

void CVRNUnconstrainedMinimization::OnShowDiagnosticChanged() {}
