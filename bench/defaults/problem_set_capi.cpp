// The problem set (classic problems, their scaled versions, then the fits) behind a C interface, for the
// SciPy baseline (bench/defaults/scipy_baseline.py loads this library with ctypes), so that SciPy minimizes
// exactly the functions our minimizer does, data bits included.
#include <memory>
#include <vector>

#include "problems/ClassicProblems.h"
#include "problems/FitProblems.h"

namespace {

std::vector<std::unique_ptr<classic::Problem>>& Set() {
    static std::vector<std::unique_ptr<classic::Problem>> set = [] {
        auto all = classic::AllProblems();
        for (int size : {30, 50})
            for (auto& p : classic::ScaledProblems(size))
                all.push_back(std::move(p));
        for (auto& p : fits::AllFits())
            all.push_back(std::move(p));
        return all;
    }();
    return set;
}

const classic::Problem* At(int k) {
    auto& set = Set();
    return k >= 0 && k < static_cast<int>(set.size()) ? set[static_cast<size_t>(k)].get() : nullptr;
}

} // namespace

extern "C" {

int vrn_set_count() {
    return static_cast<int>(Set().size());
}
// The name of problem k, or "" for a k outside the set.
const char* vrn_set_name(int k) {
    return At(k) ? At(k)->name.c_str() : "";
}
int vrn_set_n(int k) {
    return At(k) ? At(k)->n : 0;
}
double vrn_set_fstar(int k) {
    return At(k) ? At(k)->fstar : 0.0;
}
// 1 when f reaches the known minimum (or another known local minimum) of problem k.
int vrn_set_solved(int k, double f) {
    return At(k) && At(k)->IsSolved(f) ? 1 : 0;
}
void vrn_set_x0(int k, double* x) {
    if (auto* p = At(k))
        for (int i = 0; i < p->n; ++i)
            x[i] = p->x0[static_cast<size_t>(i)];
}
double vrn_set_f(int k, const double* x) {
    return At(k) ? At(k)->fx(x) : 0.0;
}
void vrn_set_g(int k, const double* x, double* g) {
    if (auto* p = At(k))
        p->grad(x, g);
}
// Row-major n x n, both triangles.
void vrn_set_h(int k, const double* x, double* h) {
    if (auto* p = At(k)) {
        for (int i = 0; i < p->n * p->n; ++i)
            h[i] = 0.0;
        p->hess(x, h);
    }
}
}
