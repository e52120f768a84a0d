#pragma once

#include "host/data/DataHeaders.h"
#include "host/matrix/Matrix.h"

// Four-point Lagrange interpolation of a tabulated curve y(x) with ascending
// abscissae. The value and the first derivative at x come from the cubic
// through the four consecutive table points of the window chosen for x; points
// outside the table use the first or the last window (extrapolation). The
// Lagrange denominators depend only on the abscissae and are computed once per
// set-up for every window.
//
// The object keeps pointers to the caller's arrays and does not copy them: the
// arrays must outlive the object, and the abscissae must not change without a
// new SetUp (the ordinates may change; they are read at every evaluation).
// f and dfdx write scratch fields, so one object serves one thread at a time.
class CVRNiInterpolate {
protected:
    // Interval search: f and dfdx use the window starting one below the index
    // returned (clamped to the table); a negative index means no window, and
    // f and dfdx then give the null value.
    virtual int iInx(double& x);

public:
    static constexpr double NullValue = kVRNNullValue;

    CVRNiInterpolate(double* x, double* y, int n);
    CVRNiInterpolate(CDblHdr& x, CDblHdr& y);
    CVRNiInterpolate(const CVRNiInterpolate& other);
    CVRNiInterpolate& operator=(const CVRNiInterpolate& other);
    virtual ~CVRNiInterpolate();

    // Takes the table; with fewer than 4 points (or a null array) the object
    // is left empty and invalid.
    virtual void SetUp(double* x, double* y, int n);
    // SetUp over the headers' values: the element count of x, or of y when y
    // holds fewer values (only the pairs that both headers hold make the table).
    void SetUp(CDblHdr& x, CDblHdr& y);
    // Forgets the table: no points, not valid.
    void ReleaseAll();

    bool IsValid() const { return m_bValid; }
    int GetCount() const { return m_nPoints; }
    // The last abscissa; the null value when there are no points.
    double MaxX() const;

    // Interpolated value and derivative at x; the null value when the object
    // holds fewer than 4 points.
    double f(double& x);
    double dfdx(double& x);

protected:
    CVRNiInterpolate();

    void UpdateInterpolationMatrix();
    // Window start for x, or -1 when there are fewer than 4 points or the
    // interval search finds no window.
    int Window(double& x);
    // Lagrange sum over the window of x with the given numerators; the null value
    // when there is no window.
    double Evaluate(double& x, void (*numerators)(const double* d, double* w));

    bool m_bValid;
    double* m_pX;
    double* m_pY;
    int m_nPoints;
    int m_nSearchSteps;
    int m_nWindows;
    double m_Diff[4];
    double m_Weight[4];
    CMatrix m_Denominators;
};

// The interpolator for tables with gaps: it copies the table without the pairs
// in which either member holds the null value -32600.0 and interpolates over
// the pairs kept. At least 5 pairs must be kept for the object to be valid.
class CVRNiNonNULLValueInterpolate : public CVRNiInterpolate {
public:
    CVRNiNonNULLValueInterpolate(CDblHdr& x, CDblHdr& y);
    CVRNiNonNULLValueInterpolate(double* x, double* y, int n);
    CVRNiNonNULLValueInterpolate(const CVRNiNonNULLValueInterpolate& other);
    CVRNiNonNULLValueInterpolate& operator=(const CVRNiNonNULLValueInterpolate& other);
    ~CVRNiNonNULLValueInterpolate() override;

    using CVRNiInterpolate::SetUp;
    // A null array or fewer than 4 pairs is refused: the object becomes
    // invalid but keeps its previous table. Otherwise the non-null pairs are
    // copied; with 4 or fewer of them the object holds no points.
    void SetUp(double* x, double* y, int n) override;

protected:
    CDblHdr m_KeptX;
    CDblHdr m_KeptY;
};
