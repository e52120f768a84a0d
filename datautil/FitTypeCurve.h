#pragma once

#include "datautil/Interpolate.h"
#include "host/data/DataHeaders.h"
#include "host/data/Parameters.h"
#include "host/matrix/Matrix.h"

// Fits a tabulated response curve g (the type curve) to observations produced
// by a piecewise-constant input: observation i is modelled as
//     p_i = c - sum_k dq_k * g(t_i - tc_k),
// the sum over the input changes tc_k before t_i, dq_k the change of the input
// level there, g between its nodes the four-point Lagrange interpolant. The
// node values of g (and optionally the constant c) are found by linear least
// squares and written into the type curve's ordinates; afterwards f and dfdx
// evaluate the fitted curve.
//
// The node abscissae must be positive and evenly spaced in ln x: the window of
// an abscissa is then found from its logarithm in constant time.
class CVRNiFitTypeCurve : public CVRNiInterpolate {
public:
    CVRNiFitTypeCurve();
    CVRNiFitTypeCurve(const CVRNiFitTypeCurve& other);
    CVRNiFitTypeCurve& operator=(const CVRNiFitTypeCurve& other);
    ~CVRNiFitTypeCurve() override;

    // Takes the type curve's nodes; the object keeps pointers to x's and y's
    // values. Fewer than 4 nodes, x[0] <= 0, or fewer ordinates than nodes
    // leave the object invalid.
    void SetTypeCurve(CDblHdr& x, CDblHdr& y);

    // Fits the node values to the observations p at abscissae t, for the input
    // levels q from the change abscissae tc (ascending) on. With bFitConstant
    // non-zero c0 is fitted and written back; with it zero c0 is given and is
    // subtracted from the caller's observations first (they stay shifted).
    // Does nothing on an invalid object, after a bare SetUp of another table,
    // or when p holds fewer values than t or q fewer than tc.
    void Fit(CDblHdr& t, CDblHdr& p, CDblHdr& tc, CDblHdr& q, CSynPar& c0, int bFitConstant);

protected:
    // p[i] := p[i] - v for the observations of the current fit.
    void SubtractFormP(CDblHdr& p, double v);
    // Window search from the logarithm; -1 (no window, so f and dfdx give the
    // null value) when the table was set up by a bare SetUp rather than by
    // SetTypeCurve.
    int iInx(double& x) override;
    // Window start for tau, leaving the four value weights in m_Weight.
    int C(double& tau);

    CMatrix m_Design;
    CMatrix m_Normal;
    CMatrix m_Rhs;
    CMatrix m_Inverse;
    CMatrix m_Coef;
    double m_dLnX0;
    double m_dIndexScale;
    int m_nObs;
    int m_nCurve;
    int m_nLastWindow;
    int m_nUnknowns;
    int m_nChanges;

private:
    // trunc((ln tau - ln x[0]) * scale), clamped to 0 ... N-4.
    int LogIndex(double tau) const;
    // Whether the logarithmic index was built for the table now held: valid,
    // with as many points as the type curve had nodes.
    bool IndexFitsTable() const;
};
