#pragma once

// Small measures and copies the engine's routines share. Each keeps the exact order of
// operations its callers had, so results stay bit for bit.

#include <cmath>

#include "host/matrix/Matrix.h"

namespace vrn_engine {

// ||Dx v|| = sqrt(sum (sx_i*sx_i)*(v_i*v_i)), summed in increasing i.
inline double ScaledLength(int n, const double* sx, const double* v) {
    double sum = 0.0;
    for (int i = 0; i < n; ++i)
        sum += (sx[i] * sx[i]) * (v[i] * v[i]);
    return std::sqrt(sum);
}

// max_i |v(i)| / max(|x_i|, 1/sx_i): the length of a step v relative to the point x,
// each component against the larger of |x_i| and its typical size. A NaN component is
// passed over, as the comparison that keeps the largest one is false for it.
template <class Component> double MaxRelativeLength(int n, const double* x, const double* sx, Component v) {
    double largest = 0.0;
    for (int i = 0; i < n; ++i) {
        const double absx = std::fabs(x[i]);
        const double typ = 1.0 / sx[i];
        const double rel = std::fabs(v(i)) / (absx > typ ? absx : typ);
        if (rel > largest)
            largest = rel;
    }
    return largest;
}

// Copies the strict upper triangle of the n x n matrix into the strict lower one.
inline void MirrorUpperToLower(CMatrix& a, int n) {
    for (int j = 0; j < n; ++j)
        for (int i = j + 1; i < n; ++i)
            a[i][j] = a[j][i];
}

} // namespace vrn_engine
