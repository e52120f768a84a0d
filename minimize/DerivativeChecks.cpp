// Checks of the problem's analytic gradient and Hessian against finite-difference
// estimates at the starting point, and text dumps of vectors and matrices.
//
// The checks only report (to the status view, when one is attached); the run goes
// on with the analytic values either way.

#include <cmath>
#include <cstddef>
#include <cstdio>

#include "host/data/DataHeaders.h"
#include "host/matrix/Matrix.h"
#include "minimize/UnconstrainedMinimization.h"

namespace {

// True when the analytic value a disagrees with the estimate r by more than the
// allowed difference. A non-finite analytic value beside a finite estimate is a
// disagreement as well (the plain comparison cannot see a NaN and accepts an
// infinite value against an infinite allowance).
bool Mismatch(double a, double r, double allowed) {
    if (std::fabs(a - r) > allowed)
        return true;
    return !std::isfinite(a) && std::isfinite(r);
}

// The record gets room for exactly its entries (n for a gradient, n(n + 1)/2 for a
// Hessian): growing by doubling could take twice the memory of the entries.
void BeginCheck(CVRNDerivativeCheckRecord& record, double tolerance, std::size_t entries) {
    record.ran = true;
    record.passed = true;
    record.tolerance = tolerance;
    record.entries.clear();
    record.entries.reserve(entries);
}

// Records one compared component; the relative error is measured against the same
// scale as the check's allowance (allowed difference = scale * tolerance).
void AddCheckEntry(CVRNDerivativeCheckRecord& record, int row, int column, double analytic, double estimate,
                   double scale, bool flagged) {
    CVRNDerivativeCheckEntry e;
    e.row = row;
    e.column = column;
    e.analytic = analytic;
    e.estimate = estimate;
    e.relativeError = std::fabs(analytic - estimate) / scale;
    e.flagged = flagged;
    record.entries.push_back(e);
    if (flagged)
        record.passed = false;
}

} // namespace

void CVRNUnconstrainedMinimization::CheckGradient() {
    const int n = m_nParameters;
    double* const x = m_pX;
    double* const g = m_pGrad;
    const double tau = m_dAnalyticTol;

    CDblHdr estimate;
    estimate.SetSize(n, -1);
    double* const d = estimate;
    ForwardFiniteDifferenceGradient(x, m_dF, d);

    const double absf = std::fabs(m_dF);
    const double fscale = absf > m_dTypicalF ? absf : m_dTypicalF;
    bool mismatch = false;
    CVRNDerivativeCheckRecord& record = m_Record.gradientCheck;
    BeginCheck(record, tau, static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double absx = std::fabs(x[i]);
        const double s = fscale / (absx > m_pTypSiz[i] ? absx : m_pTypSiz[i]);
        const double absg = std::fabs(g[i]);
        const double bound = absg > s ? absg : s;
        const bool flagged = Mismatch(g[i], d[i], bound * tau);
        if (flagged)
            mismatch = true;
        AddCheckEntry(record, i, -1, g[i], d[i], bound, flagged);
    }

    if (mismatch && m_pStatusView) {
        m_pStatusView->Print("There appears to be an error in the coding of the Gradient method.");
        m_pStatusView->Print("Component   Analytic   Finite Difference");
        for (int i = 0; i < n; ++i)
            m_pStatusView->Print("%d  %lf  %lf", i, g[i], d[i]);
    }
}

void CVRNUnconstrainedMinimization::CheckHessian() {
    const int n = m_nParameters;
    double* const x = m_pX;
    double* const g = m_pGrad;
    const double tau = m_dAnalyticTol;

    if (m_bGradientFlag)
        FiniteDifferenceHessian(x, g, m_Hessian, m_pScaleX, m_pWrk1);
    else
        SecondOrderFiniteDifferenceHessian(x, m_dF, m_Hessian, m_pScaleX, m_pWrk1, m_pWrk2);

    // Reference copy of the estimate; the engine's matrix then receives the analytic
    // Hessian and keeps it.
    const int rows = m_Hessian.GetRows();
    const int cols = m_Hessian.GetCols();
    CMatrix reference;
    reference.SetSize(rows, cols);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            reference[r][c] = m_Hessian[r][c];

    m_pMethod->Hessian(x, m_Hessian);
    CMatrix& a = m_Hessian;

    // The estimates are symmetric in the lower triangle; the upper triangle of the
    // reference may hold one-sided values or whatever the matrix held before, so only
    // the diagonal and the strict lower triangle are compared.
    bool mismatch = false;
    CVRNDerivativeCheckRecord& record = m_Record.hessianCheck;
    BeginCheck(record, tau, static_cast<std::size_t>(n) * static_cast<std::size_t>(n + 1) / 2);
    for (int i = 0; i < n; ++i) {
        const double absg = std::fabs(g[i]);
        const double gscale = absg > 1.0 ? absg : 1.0;
        const double absx = std::fabs(x[i]);
        const double hscale = gscale / (absx > m_pTypSiz[i] ? absx : m_pTypSiz[i]);

        const double absr = std::fabs(reference[i][i]);
        const double dbound = absr > hscale ? absr : hscale;
        const bool diagonalFlagged = Mismatch(a[i][i], reference[i][i], dbound * tau);
        if (diagonalFlagged)
            mismatch = true;
        AddCheckEntry(record, i, i, a[i][i], reference[i][i], dbound, diagonalFlagged);

        for (int q = i + 1; q < n; ++q) {
            const double absa = std::fabs(a[q][i]);
            const double bound = absa > hscale ? absa : hscale;
            const bool flagged = Mismatch(a[q][i], reference[q][i], bound * tau);
            if (flagged)
                mismatch = true;
            AddCheckEntry(record, q, i, a[q][i], reference[q][i], bound, flagged);
        }
    }

    if (mismatch && m_pStatusView) {
        m_pStatusView->Print("There appears to be an error in the coding of the Hessian method.");
        m_pStatusView->Print("Row   Column   Analytic   Finite Difference\n");
    }
}

void CVRNUnconstrainedMinimization::WriteToFile(double* const v, int n, CString path) {
    FILE* file = std::fopen(path, "w");
    if (!file)
        return;
    for (int i = 0; i < n; ++i)
        std::fprintf(file, "%20.15lf\n", v[i]);
    std::fclose(file);
}

void CVRNUnconstrainedMinimization::WriteToFile(CMatrix& m, CString path) {
    FILE* file = std::fopen(path, "w");
    if (!file)
        return;
    const int rows = m.GetRows();
    const int cols = m.GetCols();
    // A matrix without columns has no fields to write: the file stays empty.
    if (cols > 0) {
        for (int r = 0; r < rows; ++r) {
            const double* row = m[r];
            for (int c = 0; c < cols - 1; ++c)
                std::fprintf(file, "%20.15lf,", row[c]);
            std::fprintf(file, "%20.15lf\n", row[cols - 1]);
        }
    }
    std::fclose(file);
}
