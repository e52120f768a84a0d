#include "datautil/FitTypeCurve.h"

#include <cmath>
#include <vector>

CVRNiFitTypeCurve::CVRNiFitTypeCurve()
    : m_dLnX0(0.0), m_dIndexScale(0.0), m_nObs(0), m_nCurve(0), m_nLastWindow(0), m_nUnknowns(0),
      m_nChanges(0) {}

CVRNiFitTypeCurve::CVRNiFitTypeCurve(const CVRNiFitTypeCurve& other) = default;

CVRNiFitTypeCurve& CVRNiFitTypeCurve::operator=(const CVRNiFitTypeCurve& other) = default;

CVRNiFitTypeCurve::~CVRNiFitTypeCurve() = default;

void CVRNiFitTypeCurve::SetTypeCurve(CDblHdr& x, CDblHdr& y) {
    SetUp(x, y);
    if (!m_bValid || !(m_pX[0] > 0.0) || y.GetSize() < x.GetSize()) {
        // No logarithmic index without at least 4 nodes on positive abscissae,
        // and no fit into an ordinate array shorter than the nodes.
        ReleaseAll();
        m_nCurve = 0;
        m_nLastWindow = 0;
        m_dLnX0 = 0.0;
        m_dIndexScale = 0.0;
        return;
    }
    const int n = m_nPoints;
    m_nCurve = n;
    m_nLastWindow = n - 4;
    m_dLnX0 = std::log(m_pX[0]);
    m_dIndexScale = n / (std::log(m_pX[n - 1]) - std::log(m_pX[0]));
}

void CVRNiFitTypeCurve::SubtractFormP(CDblHdr& p, double v) {
    for (int i = 0; i < m_nObs; i++)
        p[i] = p[i] - v;
}

int CVRNiFitTypeCurve::LogIndex(double tau) const {
    // Clamped before the conversion, so that a NaN or an abscissa far outside
    // an unevenly spaced table never makes an out-of-range index.
    double g = std::trunc((std::log(tau) - m_dLnX0) * m_dIndexScale);
    if (!(g > 0.0))
        return 0;
    if (g > m_nLastWindow)
        return m_nLastWindow;
    return static_cast<int>(g);
}

int CVRNiFitTypeCurve::C(double& tau) {
    const int n = m_nCurve;
    int s;
    if (tau < m_pX[1]) {
        s = 0;
    } else if (tau > m_pX[n - 4]) {
        s = n - 4;
    } else {
        int g = LogIndex(tau);
        if (tau < m_pX[g + 1])
            g = g - 1;
        s = g < 0 ? 0 : (g > n - 4 ? n - 4 : g);
    }

    const double* px = m_pX + s;
    const double* pD = m_Denominators[s];
    const double d0 = m_Diff[0] = tau - px[0];
    const double d1 = m_Diff[1] = tau - px[1];
    const double d2 = m_Diff[2] = tau - px[2];
    const double d3 = m_Diff[3] = tau - px[3];
    m_Weight[0] = d1 * d2 * d3 / pD[0];
    m_Weight[1] = -(d0 * d2 * d3) / pD[1];
    m_Weight[2] = d0 * d1 * d3 / pD[2];
    m_Weight[3] = -(d0 * d1 * d2) / pD[3];
    return s;
}

int CVRNiFitTypeCurve::iInx(double& x) {
    // The logarithmic index belongs to the nodes SetTypeCurve was given. The
    // inherited SetUp may since have put another table in their place; the
    // index then says nothing about it, and there is no window to read.
    if (!IndexFitsTable())
        return -1;
    const int n = m_nPoints;
    if (x < m_pX[1])
        return 0;
    // Beyond x[N-4] the evaluation uses the last window, x[N-4 ... N-1], the
    // one the fit used there (f and dfdx subtract one from this index).
    if (x > m_pX[n - 4])
        return n - 3;
    int g = LogIndex(x);
    return x > m_pX[g] ? g + 1 : g;
}

bool CVRNiFitTypeCurve::IndexFitsTable() const {
    return m_bValid && m_nCurve >= 4 && m_nCurve == m_nPoints;
}

void CVRNiFitTypeCurve::Fit(CDblHdr& t, CDblHdr& p, CDblHdr& tc, CDblHdr& q, CSynPar& c0, int bFitConstant) {
    // Also refused when a bare SetUp replaced the type curve's table: the
    // windows and the ordinates written would not be the ones indexed.
    if (!IndexFitsTable())
        return;
    const int nObs = t.GetSize();
    const int nChanges = tc.GetSize();
    if (p.GetSize() < nObs || q.GetSize() < nChanges)
        return;

    const int n = m_nCurve;
    m_nObs = nObs;
    m_nChanges = nChanges;
    m_nUnknowns = bFitConstant != 0 ? n + 1 : n;
    const int nCols = m_nUnknowns;

    if (bFitConstant == 0)
        SubtractFormP(p, static_cast<double>(c0));

    m_Design.SetSize(nObs, nCols);
    if (nObs > 0) {
        double* pA = m_Design[0];
        for (int e = 0; e < nObs * nCols; e++)
            pA[e] = 0.0;
    }

    std::vector<double> dq(static_cast<size_t>(nChanges));
    for (int k = 0; k < nChanges; k++)
        dq[k] = k == 0 ? q[0] : q[k] - q[k - 1];

    for (int i = 0; i < nObs; i++) {
        double* row = m_Design[i];
        for (int j = 0; j < nCols; j++)
            row[j] = 0.0;
        if (bFitConstant != 0)
            row[n] = 1.0;
        for (int k = 0; k < nChanges; k++) {
            double tau = t[i] - tc[k];
            if (tau <= 0.0)
                break;
            const int s = C(tau);
            for (int m = 0; m < 4; m++)
                row[s + m] = row[s + m] - dq[k] * m_Weight[m];
        }
    }

    m_Design.ATA(m_Normal);
    m_Design.ATV(m_Rhs, p.GetData(), nObs);
    m_Inverse = !m_Normal;
    m_Coef = m_Inverse * m_Rhs;
    if (m_Coef.GetRows() < nCols)
        return; // no solution to copy (the matrix component refused the shapes)

    for (int j = 0; j < n; j++)
        m_pY[j] = m_Coef[j][0];
    if (bFitConstant != 0)
        c0 = m_Coef[n][0];
}
