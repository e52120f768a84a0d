// The data utilities on NumPy arrays. The arrays are copied into the library's data
// headers, so the caller's arrays are never changed; the checks that the library
// leaves to its caller (ascending abscissae, enough points, positive logarithms) are
// made by the Python layer (vrnmath/datautil.py).
#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include <pybind11/stl.h>

#include "datautil/BinarySearch.h"
#include "datautil/Derivative.h"
#include "datautil/FitTypeCurve.h"
#include "datautil/IndirectSort.h"
#include "datautil/Interpolate.h"
#include "datautil/NormalDistribution.h"
#include "host/data/DataHeaders.h"
#include "host/data/Parameters.h"
#include "python/src/bindings.h"

namespace vrnpy {

namespace {

void Fill(CDblHdr& h, const DoubleArray& a) {
    h.SetSize(static_cast<int>(a.size()));
    if (a.size() > 0)
        std::memcpy(h.GetData(), a.data(), static_cast<size_t>(a.size()) * sizeof(double));
}

DoubleArray Like(const DoubleArray& shapeOf) {
    std::vector<py::ssize_t> shape(shapeOf.shape(), shapeOf.shape() + shapeOf.ndim());
    return DoubleArray(shape);
}

// Values (or derivatives) of the four-point interpolant at every element of at.
DoubleArray Interpolate(const DoubleArray& x, const DoubleArray& y, const DoubleArray& at, bool derivative,
                        bool skipNull) {
    CDblHdr hx, hy;
    Fill(hx, x);
    Fill(hy, y);
    DoubleArray out = Like(at);
    const double* in = at.data();
    double* o = out.mutable_data();
    const py::ssize_t count = at.size();
    auto evaluate = [&](CVRNiInterpolate& ip) {
        for (py::ssize_t i = 0; i < count; i++) {
            double xi = in[i];
            o[i] = derivative ? ip.dfdx(xi) : ip.f(xi);
        }
    };
    if (skipNull) {
        CVRNiNonNULLValueInterpolate ip(hx, hy);
        evaluate(ip);
    } else {
        CVRNiInterpolate ip(hx, hy);
        evaluate(ip);
    }
    return out;
}

py::array_t<int> Bracket(const DoubleArray& values, const DoubleArray& at) {
    CDblHdr h;
    Fill(h, values);
    CVRNiBinarySearch search(h);
    std::vector<py::ssize_t> shape(at.shape(), at.shape() + at.ndim());
    py::array_t<int> out(shape);
    int* o = out.mutable_data();
    for (py::ssize_t i = 0; i < at.size(); i++)
        o[i] = search.Bracket(at.data()[i]);
    return out;
}

py::tuple Slope(const DoubleArray& x, const DoubleArray& y, int weightIndex, double weight, bool semilog) {
    std::vector<double> xs(x.data(), x.data() + x.size());
    std::vector<double> ys(y.data(), y.data() + y.size());
    CVRNiDerivative d;
    const int n = static_cast<int>(xs.size());
    const double slope = semilog ? d.SemilogSlope(xs.data(), ys.data(), n, weightIndex, weight)
                                 : d.PPD(xs.data(), ys.data(), n, weightIndex, weight);
    return py::make_tuple(slope, d.GetIntercept());
}

py::tuple FitTypeCurve(const DoubleArray& nodes, const DoubleArray& t, const DoubleArray& p,
                       const DoubleArray& tc, const DoubleArray& q, double c0, bool fitConstant) {
    CDblHdr hx, hy, ht, hp, htc, hq;
    Fill(hx, nodes);
    hy.SetSize(static_cast<int>(nodes.size()));
    std::fill(hy.GetData(), hy.GetData() + hy.GetSize(), 0.0);
    Fill(ht, t);
    Fill(hp, p);
    Fill(htc, tc);
    Fill(hq, q);
    CSynPar constant(c0);
    CVRNiFitTypeCurve fit;
    fit.SetTypeCurve(hx, hy);
    fit.Fit(ht, hp, htc, hq, constant, fitConstant ? 1 : 0);
    DoubleArray y(static_cast<py::ssize_t>(hy.GetSize()));
    std::memcpy(y.mutable_data(), hy.GetData(), static_cast<size_t>(hy.GetSize()) * sizeof(double));
    return py::make_tuple(y, constant.GetValue());
}

py::array_t<long long> IndirectSort(const DoubleArray& a) {
    CDblHdr h;
    Fill(h, a);
    CDblHdrIndirectSort sort;
    sort.SortIndecies(h);
    CIntHdr order;
    sort.GetOrder(order);
    const auto n = static_cast<py::ssize_t>(a.size());
    py::array_t<long long> out(n);
    for (py::ssize_t i = 0; i < n && i < order.GetSize(); i++)
        out.mutable_data()[i] = order[i];
    return out;
}

// Deviates from the library's generator; a seed restarts the process-wide sequence.
DoubleArray NormalDeviates(py::ssize_t count, double sigma, double mean, std::optional<unsigned int> seed) {
    CNormalDistribution dist(sigma, mean);
    if (seed)
        CNormalDistribution::SeedGenerator(*seed);
    DoubleArray out(count);
    for (py::ssize_t i = 0; i < count; i++)
        out.mutable_data()[i] = dist.Rand();
    return out;
}

} // namespace

void RegisterDatautil(py::module_& m) {
    m.def("_interpolate", &Interpolate, py::arg("x"), py::arg("y"), py::arg("at"), py::arg("derivative"),
          py::arg("skip_null"));
    m.def("_bracket", &Bracket, py::arg("values"), py::arg("at"));
    m.def("_slope", &Slope, py::arg("x"), py::arg("y"), py::arg("weight_index"), py::arg("weight"),
          py::arg("semilog"));
    m.def("_fit_type_curve", &FitTypeCurve, py::arg("nodes"), py::arg("t"), py::arg("p"), py::arg("tc"),
          py::arg("q"), py::arg("c0"), py::arg("fit_constant"));
    m.def("_indirect_sort", &IndirectSort, py::arg("a"));
    m.def("_normal_deviates", &NormalDeviates, py::arg("count"), py::arg("sigma"), py::arg("mean"),
          py::arg("seed"));
    m.attr("NULL_VALUE") = kVRNNullValue;
}

} // namespace vrnpy
