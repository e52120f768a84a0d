// _vrnmath._least_squares: vrn::LeastSquares on Python callables.
//
// The options are the keywords vrnmath.least_squares was given, converted through the
// least-squares section of the option table (OptionsFrom); the library validates them
// and words its refusals with the Python keywords. The result is the one result of the
// spine as JSON, which the package turns into its OptimizeResult.
//
// The interpreter lock is released for the whole fit and taken back only while Python
// code runs (the residual and Jacobian wrappers below). An exception raised by the
// user's code leaves the fit and is raised again unchanged; with threads > 1 the
// residual wrapper is called from the evaluation threads, one call at a time.
#include <atomic>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include <pybind11/stl.h>

#include "lsq/LeastSquares.h"
#include "python/src/bindings.h"

namespace vrnpy {

namespace {

DoubleArray Array(std::span<const double> v) {
    DoubleArray a(static_cast<py::ssize_t>(v.size()));
    if (!v.empty())
        std::memcpy(a.mutable_data(), v.data(), v.size() * sizeof(double));
    return a;
}

std::string Fit(const py::function& fun, const py::object& jac, const DoubleArray& x0,
                const py::dict& given) {
    const std::vector<double> start(x0.data(), x0.data() + x0.size());
    const vrn::MinimizeOptions options = OptionsFrom(given, vrn::ProblemKind::LeastSquares);
    vrn::LeastSquaresOptions o;
    static_cast<vrn::MinimizeOptions&>(o) = options;

    // Calls of fun and jac; every increment happens with the interpreter lock held.
    std::atomic<long> residualCalls{0}, jacobianCalls{0};
    const size_t n = start.size();
    const vrn::ResidualFunction residual = [&fun, &residualCalls](std::span<const double> x) {
        py::gil_scoped_acquire gil;
        const py::object out = fun(Array(x));
        ++residualCalls;
        const auto a = DoubleArray::ensure(out);
        if (!a) {
            PyErr_Clear();
            throw py::type_error("fun must return an array of residuals");
        }
        if (a.ndim() > 1)
            throw py::value_error("fun must return a one-dimensional array of residuals");
        return std::vector<double>(a.data(), a.data() + a.size());
    };
    vrn::JacobianFunction jacobian;
    if (!jac.is_none())
        jacobian = [&jac, &jacobianCalls, n](std::span<const double> x, std::span<double> out) {
            py::gil_scoped_acquire gil;
            const py::object value = jac(Array(x));
            ++jacobianCalls;
            const auto a = DoubleArray::ensure(value);
            if (!a)
                PyErr_Clear();
            const size_t rows = out.size() / n;
            const bool matrix = a && a.ndim() == 2 && static_cast<size_t>(a.shape(0)) == rows &&
                                static_cast<size_t>(a.shape(1)) == n;
            // One residual or one parameter: a vector of the right length will do.
            const bool vector =
                a && a.ndim() <= 1 && static_cast<size_t>(a.size()) == out.size() && (rows == 1 || n == 1);
            if (!matrix && !vector)
                throw py::value_error("jac must return an array of shape (" + std::to_string(rows) + ", " +
                                      std::to_string(n) + ")");
            std::memcpy(out.data(), a.data(), out.size() * sizeof(double));
        };

    vrn::LeastSquaresResult result;
    {
        py::gil_scoped_release release;
        result = vrn::LeastSquares(residual, jacobian, start, o);
    }
    const PythonCalls calls{residualCalls.load(), jacobianCalls.load(), 0};
    return ResultJson(result, &calls);
}

} // namespace

void RegisterLeastSquares(py::module_& m) {
    m.def("_least_squares", &Fit, py::arg("fun"), py::arg("jac"), py::arg("x0"), py::arg("options"),
          "vrn::LeastSquares on a residual callable (and an optional Jacobian callable), with the options of "
          "the table's least-squares section by Python keyword; returns the result's JSON.");
}

} // namespace vrnpy
