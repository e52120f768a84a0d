// _vrnmath._least_squares: vrn::LeastSquares on Python callables.
//
// The interpreter lock is released for the whole fit and taken back only while Python
// code runs (the residual and Jacobian wrappers below). An exception raised by the
// user's code leaves the fit and is raised again unchanged; with threads > 1 the
// residual wrapper is called from the evaluation threads, one call at a time.
#include <cmath>
#include <cstring>
#include <limits>
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

DoubleArray Matrix(const std::vector<double>& v, size_t rows, size_t cols) {
    DoubleArray a({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(cols)});
    if (!v.empty() && v.size() == rows * cols)
        std::memcpy(a.mutable_data(), v.data(), v.size() * sizeof(double));
    else
        std::fill(a.mutable_data(), a.mutable_data() + rows * cols, std::numeric_limits<double>::quiet_NaN());
    return a;
}

template <class T> T Setting(const py::dict& s, const char* key, T fallback) {
    return s.contains(key) ? s[key].cast<T>() : fallback;
}

py::dict Fit(const py::function& fun, const py::object& jac, const DoubleArray& x0,
             const py::dict& settings) {
    std::vector<double> start(x0.data(), x0.data() + x0.size());
    vrn::LeastSquaresOptions o;
    o.method = Setting<int>(settings, "method", 3);
    o.ftol = Setting<double>(settings, "ftol", 1e-8);
    o.xtol = Setting<double>(settings, "xtol", 1e-8);
    o.gtol = Setting<double>(settings, "gtol", 1e-8);
    o.maximumEvaluations = Setting<long>(settings, "max_nfev", 0);
    o.itnlim = Setting<int>(settings, "itnlim", 10000);
    const std::string loss = Setting<std::string>(settings, "loss", "linear");
    const auto l = vrn::LossFromName(loss);
    if (!l)
        throw py::value_error("loss must be 'linear', 'soft_l1', 'huber', 'cauchy' or 'arctan', got '" +
                              loss + "'");
    o.loss = *l;
    o.lossScale = Setting<double>(settings, "f_scale", 1.0);
    o.differences = Setting<std::string>(settings, "jac", "2-point") == "3-point"
                        ? vrn::DifferenceScheme::ThreePoint
                        : vrn::DifferenceScheme::TwoPoint;
    if (settings.contains("x_scale") && !settings["x_scale"].is_none())
        o.xScale = settings["x_scale"].cast<std::vector<double>>();
    if (settings.contains("trust_radius") && !settings["trust_radius"].is_none())
        o.trustRadius = settings["trust_radius"].cast<double>();
    o.threads = Setting<int>(settings, "threads", 1);
    o.absoluteSigma = Setting<bool>(settings, "absolute_sigma", false);
    o.fallbacks = Setting<bool>(settings, "fallbacks", true);
    o.recordIterations = Setting<bool>(settings, "record_iterations", false);

    const size_t n = start.size();
    const vrn::ResidualFunction residual = [&fun](std::span<const double> x) {
        py::gil_scoped_acquire gil;
        const py::object out = fun(Array(x));
        const auto a = DoubleArray::ensure(out);
        if (!a || a.ndim() > 1)
            throw py::value_error("fun must return a one-dimensional array of residuals");
        std::vector<double> r(a.data(), a.data() + a.size());
        return r;
    };
    vrn::JacobianFunction jacobian;
    if (!jac.is_none())
        jacobian = [&jac, n](std::span<const double> x, std::span<double> out) {
            py::gil_scoped_acquire gil;
            const py::object value = jac(Array(x));
            const auto a = DoubleArray::ensure(value);
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

    vrn::LeastSquaresResult r;
    {
        py::gil_scoped_release release;
        r = vrn::LeastSquares(residual, jacobian, start, o);
    }
    py::dict d;
    d["x"] = Array(r.x);
    d["cost"] = r.cost;
    d["fun"] = Array(r.residuals);
    d["jac"] = Matrix(r.jacobian, r.m, r.n);
    d["grad"] = Array(r.gradient);
    d["optimality"] = r.optimality;
    d["nfev"] = r.residualEvaluations;
    d["njev"] = r.jacobianEvaluations;
    d["nfev_differences"] = r.differenceEvaluations;
    d["nit"] = r.iterations;
    d["runs"] = r.runs;
    d["status"] = static_cast<int>(r.status);
    d["message"] = r.message;
    d["success"] = r.success;
    d["warnings"] = r.warnings;
    d["time"] = r.timeSeconds;
    const vrn::Uncertainty& u = r.uncertainty;
    d["covariance"] = Matrix(u.covariance, r.n, r.n);
    d["standard_errors"] =
        u.standardErrors.empty() ? Array(std::vector<double>(r.n, std::nan(""))) : Array(u.standardErrors);
    d["correlation"] = Matrix(u.correlation, r.n, r.n);
    d["dof"] = u.dof;
    d["residual_variance"] = u.computed ? u.residualVariance : std::nan("");
    d["rank"] = u.rank;
    d["undetermined"] = u.undetermined;
    d["singular_values"] = Array(u.singularValues);
    d["engine_code"] = r.engine.code;
    return d;
}

} // namespace

void RegisterLeastSquares(py::module_& m) {
    m.def("_least_squares", &Fit, py::arg("fun"), py::arg("jac"), py::arg("x0"), py::arg("settings"),
          "vrn::LeastSquares on a residual callable (and an optional Jacobian callable); returns a dict");
}

} // namespace vrnpy
