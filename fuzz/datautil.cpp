// Fuzz target: the data utilities on arbitrary arrays.
//
// The first byte picks the utility: interpolation (plain and skipping nulls),
// bracket search, slopes, type-curve fit or indirect sort. The rest of the input
// supplies sizes, flags and raw doubles (NaN, infinities, the null value and
// subnormals included); a flag makes abscissae ascending where the caller is meant
// to guarantee it, and otherwise leaves them as they come, which must not make the
// utilities read or write outside the arrays either. A failed property or a
// sanitizer report is a finding.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "datautil/BinarySearch.h"
#include "datautil/Derivative.h"
#include "datautil/FitTypeCurve.h"
#include "datautil/IndirectSort.h"
#include "datautil/Interpolate.h"
#include "host/data/DataHeaders.h"
#include "host/data/Parameters.h"

namespace {

constexpr double kNull = -32600.0;

void Require(bool ok) {
    if (!ok)
        std::abort();
}

bool SameBits(const std::vector<double>& a, const double* b) {
    return a.empty() || std::memcmp(a.data(), b, a.size() * sizeof(double)) == 0;
}

bool SameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A double from the input: raw bits, a small integer, or one of the values that
// matter to the utilities.
double Value(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        return in.ConsumeFloatingPoint<double>();
    case 1: {
        uint64_t bits = in.ConsumeIntegral<uint64_t>();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    case 2:
        return static_cast<double>(in.ConsumeIntegralInRange<int>(-8, 64)) * 0.25;
    default: {
        static const double special[] = {kNull, 0.0,      -0.0,      1e-7,  1.0,
                                         NAN,   INFINITY, -INFINITY, 1e308, 5e-324};
        return special[in.ConsumeIntegralInRange<size_t>(0, std::size(special) - 1)];
    }
    }
}

std::vector<double> Values(FuzzedDataProvider& in, size_t maxCount) {
    std::vector<double> v(in.ConsumeIntegralInRange<size_t>(0, maxCount));
    for (double& x : v)
        x = Value(in);
    return v;
}

// Ascending, NaNs last (a strict weak order even with NaNs).
void Ascending(std::vector<double>& v) {
    std::sort(v.begin(), v.end(), [](double a, double b) {
        if (std::isnan(a))
            return false;
        return std::isnan(b) || a < b;
    });
}

bool AllNumbers(const std::vector<double>& v) {
    for (const double x : v)
        if (std::isnan(x))
            return false;
    return true;
}

CDblHdr Hdr(const std::vector<double>& v) {
    CDblHdr h;
    h.SetSize(static_cast<int>(v.size()));
    for (size_t i = 0; i < v.size(); i++)
        h[i] = v[i];
    return h;
}

void Interpolation(FuzzedDataProvider& in, bool nonNull) {
    std::vector<double> x = Values(in, 40);
    std::vector<double> y = Values(in, 40);
    if (in.ConsumeBool())
        Ascending(x);
    const bool asHeaders = in.ConsumeBool();
    CDblHdr hx = Hdr(x), hy = Hdr(y);
    // The raw-pointer set-up reads n values of both arrays.
    const int n = static_cast<int>(std::min(x.size(), y.size()));
    CVRNiInterpolate* p = nullptr;
    CVRNiInterpolate plain(x.data(), y.data(), n);
    CVRNiNonNULLValueInterpolate gaps(hx, hy);
    if (nonNull) {
        p = &gaps;
        if (!asHeaders)
            gaps.SetUp(x.data(), y.data(), n);
        else if (in.ConsumeBool())
            gaps.SetUp(hx, hy);
    } else {
        p = &plain;
        // Headers of different lengths: only the pairs both hold are a table.
        if (asHeaders)
            plain.SetUp(hx, hy);
    }
    for (int k = in.ConsumeIntegralInRange<int>(0, 8); k > 0; k--) {
        double at = Value(in);
        const double v = p->f(at);
        const double s = p->dfdx(at);
        if (p->GetCount() < 4)
            Require(v == kNull && s == kNull);
    }
    (void)p->MaxX();
    // Skipping nulls is interpolating over the table without them.
    if (nonNull && gaps.IsValid()) {
        std::vector<double> kx, ky;
        for (int j = 0; j < n; j++) {
            if (x[j] != kNull && y[j] != kNull) {
                kx.push_back(x[j]);
                ky.push_back(y[j]);
            }
        }
        CVRNiInterpolate kept(kx.data(), ky.data(), static_cast<int>(kx.size()));
        Require(kept.IsValid() && kx.size() > 4);
        double at = Value(in);
        Require(SameBits(gaps.f(at), kept.f(at)) && SameBits(gaps.dfdx(at), kept.dfdx(at)));
    }
    // Copies evaluate like their source.
    if (nonNull) {
        CVRNiNonNULLValueInterpolate copy(gaps);
        CVRNiNonNULLValueInterpolate assigned(hx, hy);
        assigned = gaps;
        double at = Value(in);
        const double a = gaps.f(at), b = copy.f(at), c = assigned.f(at);
        Require(SameBits(a, b) && SameBits(a, c));
    } else {
        CVRNiInterpolate copy(plain);
        double at = Value(in);
        const double a = plain.f(at), b = copy.f(at);
        Require(SameBits(a, b));
    }
    if (in.ConsumeBool()) {
        p->ReleaseAll();
        double at = Value(in);
        Require(p->f(at) == kNull);
    }
}

void Bracket(FuzzedDataProvider& in) {
    std::vector<double> v = Values(in, 64);
    const bool ascending = in.ConsumeBool();
    if (ascending)
        Ascending(v);
    const bool ordered = ascending && AllNumbers(v);
    CDblHdr h = Hdr(v);
    CVRNiBinarySearch search(h);
    CVRNiBinarySearch copy;
    copy = search;
    const int n = static_cast<int>(v.size());
    for (int k = in.ConsumeIntegralInRange<int>(1, 8); k > 0; k--) {
        const double x = Value(in);
        const int i = search.Bracket(x);
        Require(i == copy.Bracket(x));
        if (n == 0)
            Require(i == -32600);
        else if (n == 1)
            Require(i == 0 || i == -1);
        else
            Require(i >= 0 && i <= n - 2);
        // Inside ordered data the interval brackets x: p[i] <= x < p[i+1], or x is
        // the last value.
        if (ordered && n >= 2 && v[0] <= x && x <= v[n - 1])
            Require(v[i] <= x && (x < v[i + 1] || (i == n - 2 && x == v[n - 1])));
    }
}

void Slopes(FuzzedDataProvider& in) {
    std::vector<double> x = Values(in, 32);
    std::vector<double> y = Values(in, 32);
    const int n = static_cast<int>(std::min(x.size(), y.size()));
    const int i = in.ConsumeIntegralInRange<int>(-2, n + 1);
    const double w = Value(in);
    const std::vector<double> before = y;
    CVRNiDerivative d;
    if (in.ConsumeBool())
        (void)d.PPD(x.data(), y.data(), n, i, w);
    else
        (void)d.SemilogSlope(x.data(), y.data(), n, i, w);
    // The weighted ordinate is put back exactly.
    Require(SameBits(before, y.data()));
    CVRNiDerivative copy(d);
    Require(SameBits(d.GetIntercept(), copy.GetIntercept()));
}

class TypeCurve : public CVRNiFitTypeCurve {
public:
    using CVRNiFitTypeCurve::C;
};

void TypeCurveFit(FuzzedDataProvider& in) {
    // Nodes: either evenly spaced in ln x from a fuzzed start and ratio, or raw.
    const int nodes = in.ConsumeIntegralInRange<int>(0, 24);
    std::vector<double> x(static_cast<size_t>(nodes));
    if (in.ConsumeBool()) {
        const double x0 = Value(in);
        const double ratio = Value(in);
        for (int k = 0; k < nodes; k++)
            x[k] = x0 * std::pow(ratio, k);
    } else {
        for (double& v : x)
            v = Value(in);
        if (in.ConsumeBool())
            Ascending(x);
    }
    std::vector<double> y(static_cast<size_t>(in.ConsumeIntegralInRange<int>(0, nodes + 1)));
    for (double& v : y)
        v = Value(in);
    CDblHdr hx = Hdr(x), hy = Hdr(y);
    TypeCurve fit;
    fit.SetTypeCurve(hx, hy);

    std::vector<double> t = Values(in, 48);
    std::vector<double> p = Values(in, 48);
    std::vector<double> tc = Values(in, 12);
    std::vector<double> q = Values(in, 12);
    if (in.ConsumeBool())
        Ascending(tc);
    CDblHdr ht = Hdr(t), hp = Hdr(p), htc = Hdr(tc), hq = Hdr(q);
    CSynPar c0(Value(in));
    const double given = c0;
    const int fitConstant = in.ConsumeIntegralInRange<int>(-1, 1);
    fit.Fit(ht, hp, htc, hq, c0, fitConstant);
    // A given constant is taken off the observations of the fit; a fitted one
    // leaves them alone.
    if (fit.IsValid() && p.size() >= t.size() && q.size() >= tc.size()) {
        for (size_t k = 0; k < p.size(); k++) {
            const double expect = fitConstant == 0 && k < t.size() ? p[k] - given : p[k];
            Require(SameBits(hp[k], expect));
        }
    }

    for (int k = in.ConsumeIntegralInRange<int>(0, 4); k > 0; k--) {
        double at = Value(in);
        (void)fit.f(at);
        (void)fit.dfdx(at);
    }
    TypeCurve copy;
    static_cast<CVRNiFitTypeCurve&>(copy) = fit;
    double at = Value(in);
    (void)copy.f(at);
}

template <class THdr, class T> void FillHdr(THdr& h, const std::vector<T>& v) {
    h.SetSize(static_cast<int>(v.size()));
    for (size_t i = 0; i < v.size(); i++)
        h[i] = v[i];
}

void Sort(FuzzedDataProvider& in) {
    std::vector<double> keys = Values(in, 64);
    CDblHdr a = Hdr(keys);
    CDblHdrIndirectSort sort;
    sort.SortIndecies(a);
    const int n = sort.GetCount();
    Require(n == static_cast<int>(keys.size()));
    Require(SameBits(keys, a.GetData()));
    // A permutation that orders the keys: numbers ascending, NaNs last.
    std::vector<bool> seen(keys.size(), false);
    for (int i = 0; i < n; i++) {
        const int k = sort[i];
        Require(k >= 0 && k < n && !seen[static_cast<size_t>(k)]);
        seen[static_cast<size_t>(k)] = true;
        if (i > 0) {
            const double prev = keys[static_cast<size_t>(sort[i - 1])];
            const double cur = keys[static_cast<size_t>(k)];
            Require(std::isnan(cur) || (!std::isnan(prev) && !(cur < prev)));
        }
    }
    // Companion arrays, possibly shorter than the keys: a permutation and its undo
    // give back the array bit for bit.
    std::vector<double> companion = Values(in, 64);
    CDblHdr c = Hdr(companion);
    sort.ApplySortTo(c);
    sort.UndoSortOf(c);
    Require(c.GetSize() == static_cast<int>(companion.size()) && SameBits(companion, c.GetData()));
    std::vector<int> ints(in.ConsumeIntegralInRange<size_t>(0, 64));
    for (size_t i = 0; i < ints.size(); i++)
        ints[i] = static_cast<int>(i);
    CIntHdr ci;
    FillHdr(ci, ints);
    sort.UndoSortOf(ci);
    sort.ApplySortTo(ci);
    for (size_t i = 0; i < ints.size(); i++)
        Require(ci[i] == ints[i]);
    CIntHdr order;
    sort.GetOrder(order);
    sort.Sort(a);
    for (int i = 1; i < n; i++)
        Require(std::isnan(a[i]) || !(a[i] < a[i - 1]));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192)
        return -1;
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
        Interpolation(in, false);
        break;
    case 1:
        Interpolation(in, true);
        break;
    case 2:
        Bracket(in);
        break;
    case 3:
        Slopes(in);
        break;
    case 4:
        TypeCurveFit(in);
        break;
    default:
        Sort(in);
        break;
    }
    return 0;
}
