// _vrnmath._minimize: vrn::Minimize on Python callables (or compiled reference problems);
// _vrnmath._minimize_many: vrn::MinimizeMany on a compiled problem and many start points.
//
// The interpreter lock is released for the whole run and taken back only while Python
// code runs: in the objective, gradient, Hessian, callback and log wrappers below. With
// evaluation threads (settings["threads"] > 1) the objective and gradient wrappers are
// called from the engine's threads as well; each call takes the lock for itself, so the
// Python code runs one call at a time. Compiled problems never take it.
//
// The engine knows nothing of exceptions. A wrapper that catches one (a Python error
// from the user's code, a bad return value, a pending Ctrl-C) keeps it, asks the engine
// to abort and from then on answers without calling Python again (f = NaN, g = 0), so
// the run ends at the end of the current iteration. After the run the kept exception
// is raised again, unchanged.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <pybind11/stl.h>

#include "minimize/UnconstrainedMinimization.h"
#include "python/src/bindings.h"
#include "tool/Minimize.h"
#include "tool/MinimizeMany.h"

namespace vrnpy {

namespace {

std::string ShapeText(const py::array& a) {
    std::string s = "(";
    for (py::ssize_t i = 0; i < a.ndim(); i++) {
        if (i > 0)
            s += ", ";
        s += std::to_string(a.shape(i));
    }
    if (a.ndim() == 1)
        s += ",";
    return s + ")";
}

DoubleArray ToArray(std::span<const double> x) {
    DoubleArray a(static_cast<py::ssize_t>(x.size()));
    if (!x.empty())
        std::memcpy(a.mutable_data(), x.data(), x.size() * sizeof(double));
    return a;
}

// A real number from what fun returned: a Python number, a NumPy scalar or an array
// holding exactly one value.
double ScalarOf(const py::handle& value, const char* what) {
    if (PyFloat_CheckExact(value.ptr()))
        return PyFloat_AS_DOUBLE(value.ptr());
    if (py::isinstance<py::array>(value)) {
        const auto a = py::reinterpret_borrow<py::array>(value);
        if (a.size() != 1)
            throw py::value_error(std::string(what) + " must return a scalar, got an array of shape " +
                                  ShapeText(a));
    }
    const double v = PyFloat_AsDouble(value.ptr());
    if (v == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
        throw py::type_error(std::string(what) + " must return a real number, got " +
                             std::string(py::str(py::type::handle_of(value).attr("__name__"))));
    }
    return v;
}

// Copies an array of n values (shape (n,), or a scalar when n is 1) into out.
void VectorInto(const py::handle& value, std::span<double> out, const char* what) {
    const auto a = DoubleArray::ensure(value);
    if (!a) {
        PyErr_Clear();
        throw py::type_error(std::string(what) + " must return an array of numbers");
    }
    const auto n = static_cast<py::ssize_t>(out.size());
    const bool fits = (a.ndim() == 1 && a.shape(0) == n) || (a.ndim() == 0 && n == 1);
    if (!fits)
        throw py::value_error(std::string(what) + " must return an array of shape (" + std::to_string(n) +
                              ",), got shape " + ShapeText(a));
    std::memcpy(out.data(), a.data(), out.size() * sizeof(double));
}

// Copies an n x n array, row-major, into out (n * n values).
void MatrixInto(const py::handle& value, std::span<double> out, size_t n, const char* what) {
    const auto a = DoubleArray::ensure(value);
    if (!a) {
        PyErr_Clear();
        throw py::type_error(std::string(what) + " must return an array of numbers");
    }
    const auto sn = static_cast<py::ssize_t>(n);
    if (a.ndim() != 2 || a.shape(0) != sn || a.shape(1) != sn)
        throw py::value_error(std::string(what) + " must return an array of shape (" + std::to_string(n) +
                              ", " + std::to_string(n) + "), got shape " + ShapeText(a));
    std::memcpy(out.data(), a.data(), n * n * sizeof(double));
}

// Everything one run shares between its wrappers. The Python objects are touched only
// while the wrappers hold the interpreter lock.
struct Run {
    size_t n = 0;
    py::object fun, jac, hess, callback, logRow;
    py::tuple args;
    bool jacInFun = false;
    bool compiled = false;

    // Set while the engine exists (the callables may fail on the evaluation threads).
    std::atomic<CVRNUnconstrainedMinimization*> engine{nullptr};
    std::atomic<bool> failed{false};
    std::exception_ptr error; // the first failure; written with the interpreter lock held
    // Calls of the user's callables. Atomic for clarity: every increment happens with
    // the interpreter lock held.
    std::atomic<long> nfev{0}, njev{0}, nhev{0};

    // With jac=True the gradient comes with f: the last pair, kept for the gradient call
    // at the same x. Read and written only by plain C++ code while the interpreter lock
    // is held, so evaluation threads see it whole.
    std::vector<double> cachedX, cachedG;

    // Runs body with the interpreter lock held. Returns false when the run has failed
    // before or fails now (the exception is kept and the engine asked to stop).
    template <class Body> bool Python(Body&& body) {
        if (failed.load())
            return false;
        py::gil_scoped_acquire gil;
        try {
            if (PyErr_CheckSignals() != 0)
                throw py::error_already_set();
            body();
            return true;
        } catch (...) {
            if (!error)
                error = std::current_exception();
            failed = true;
            if (CVRNUnconstrainedMinimization* e = engine.load())
                e->Abort();
            return false;
        }
    }

    // f and g from fun's pair (f, g).
    double Pair(std::span<const double> x, std::span<double> g) {
        const py::object out = fun(ToArray(x), *args);
        ++nfev;
        if (!py::isinstance<py::tuple>(out) && !py::isinstance<py::list>(out))
            throw py::type_error("with jac=True fun must return a pair (f, g)");
        const auto pair = py::reinterpret_borrow<py::sequence>(out);
        if (pair.size() != 2)
            throw py::type_error("with jac=True fun must return a pair (f, g)");
        const double f = ScalarOf(pair[0], "fun");
        VectorInto(pair[1], g, "fun's gradient");
        return f;
    }
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The engine options from the dict that vrnmath.minimize builds (its arguments, already
// checked there; what only the library can judge is refused by vrn::Minimize itself).
vrn::MinimizeOptions OptionsFrom(const py::dict& o) {
    vrn::MinimizeOptions options;
    options.method = o["method"].cast<int>();
    const int driver = o["driver"].cast<int>();
    options.driver = driver == 1 ? vrn::Driver::Tool : driver == 2 ? vrn::Driver::Step : vrn::Driver::Engine;
    options.itnlim = o["maxiter"].cast<int>();
    options.typicalF = o["typical_f"].cast<double>();
    if (!o["typical_x"].is_none()) {
        const auto tx = DoubleArray::ensure(o["typical_x"]);
        options.typicalX.assign(tx.data(), tx.data() + tx.size());
    }
    options.gradientTolerance = o["gtol"].cast<std::optional<double>>();
    options.stepTolerance = o["xtol"].cast<std::optional<double>>();
    options.maximumStep = o["max_step"].cast<std::optional<double>>();
    options.trustRadius = o["trust_radius"].cast<std::optional<double>>();
    options.numberOfDigits = o["ndigits"].cast<std::optional<int>>();
    options.cgTolerance = o["cg_tol"].cast<std::optional<double>>();
    options.expensive = o["secant"].cast<bool>();
    options.checkGradient = o["check_gradient"].cast<bool>();
    options.checkHessian = o["check_hessian"].cast<bool>();
    options.captureLog = o["capture_log"].cast<bool>();
    options.threads = o["threads"].cast<int>();
    return options;
}

py::object CheckOf(const vrn::DerivativeCheck& c) {
    if (!c.ran)
        return py::none();
    py::dict d;
    d["passed"] = c.passed;
    // The worst component: (i,) for the gradient, (i, j) with i >= j for the Hessian.
    if (c.row < 0)
        d["index"] = py::none();
    else if (c.column < 0)
        d["index"] = py::make_tuple(c.row);
    else
        d["index"] = py::make_tuple(c.row, c.column);
    d["analytic"] = c.analytic;
    d["estimate"] = c.estimate;
    d["relative_error"] = c.relativeError;
    d["tolerance"] = c.tolerance;
    return d;
}

// Everything of the result that does not depend on who counted the calls.
py::dict ResultDict(const vrn::MinimizeResult& result) {
    py::dict out;
    out["x"] = ToArray(result.x);
    out["fun"] = result.f;
    if (result.gradient.empty()) {
        out["jac"] = py::none();
        out["gradient_norm"] = kNaN;
    } else {
        out["jac"] = ToArray(result.gradient);
        out["gradient_norm"] = result.gradientNorm;
    }
    out["code"] = result.code;
    out["message"] = result.message;
    out["success"] = result.success;
    out["warnings"] = py::cast(result.warnings);
    out["nit"] = result.iterations;
    out["runs"] = result.runs;
    out["nfev"] = result.evaluations.f;
    out["njev"] = result.evaluations.gradient;
    out["nhev"] = result.evaluations.hessian;
    out["log"] = py::cast(result.log);
    out["initial_f"] = result.initialF;
    out["time_s"] = result.timeSeconds;
    out["nonfinite_fev"] = result.nonFiniteEvaluations;
    out["gradient_check"] = CheckOf(result.gradientCheck);
    out["hessian_check"] = CheckOf(result.hessianCheck);
    return out;
}

// The compiled problem's own f, gradient and Hessian; they hold no state, so any
// number of threads may call them at once.
void CompiledCallables(const CompiledProblem& compiled, bool withGradient, bool withHessian,
                       vrn::Objective& f, vrn::GradientFunction& gradient, vrn::HessianFunction& hessian) {
    std::shared_ptr<const golden::TestProblem> p = compiled.problem;
    f = [p](std::span<const double> x) { return p->fx(x.data()); };
    if (withGradient)
        gradient = [p](std::span<const double> x, std::span<double> g) { p->grad(x.data(), g.data()); };
    if (withHessian)
        hessian = [p](std::span<const double> x, std::span<double> h) { p->hess(x.data(), h.data()); };
}

} // namespace

py::dict MinimizeBinding(py::object fun, const DoubleArray& x0, py::tuple args, py::object jac, bool jacInFun,
                         py::object hess, py::object callback, py::object logRow, const py::dict& settings) {
    Run run;
    run.n = static_cast<size_t>(x0.size());
    run.fun = std::move(fun);
    run.args = std::move(args);
    run.jac = std::move(jac);
    run.hess = std::move(hess);
    run.jacInFun = jacInFun;
    run.callback = std::move(callback);
    run.logRow = std::move(logRow);
    const std::vector<double> start(x0.data(), x0.data() + x0.size());
    vrn::MinimizeOptions options = OptionsFrom(settings);

    vrn::Objective f;
    vrn::GradientFunction gradient;
    vrn::HessianFunction hessian;
    if (py::isinstance<CompiledProblem>(run.fun)) {
        run.compiled = true;
        CompiledCallables(run.fun.cast<const CompiledProblem&>(), settings["compiled_jac"].cast<bool>(),
                          settings["compiled_hess"].cast<bool>(), f, gradient, hessian);
    } else if (run.jacInFun) {
        f = [&run](std::span<const double> x) {
            double value = kNaN;
            run.Python([&] {
                std::vector<double> g(run.n);
                value = run.Pair(x, g);
                // Plain C++ under the lock: no other thread runs in between.
                run.cachedX.assign(x.begin(), x.end());
                run.cachedG = std::move(g);
            });
            return value;
        };
    } else {
        f = [&run](std::span<const double> x) {
            double value = kNaN;
            run.Python([&] {
                const py::object out = run.fun(ToArray(x), *run.args);
                ++run.nfev;
                value = ScalarOf(out, "fun");
            });
            return value;
        };
    }

    if (run.compiled) {
        // CompiledCallables gave the gradient and Hessian asked for.
    } else if (run.jacInFun) {
        gradient = [&run](std::span<const double> x, std::span<double> g) {
            const bool ok = run.Python([&] {
                ++run.njev;
                if (run.cachedX.size() == x.size() &&
                    std::memcmp(run.cachedX.data(), x.data(), x.size() * sizeof(double)) == 0) {
                    std::memcpy(g.data(), run.cachedG.data(), g.size() * sizeof(double));
                } else {
                    run.Pair(x, g);
                }
            });
            if (!ok)
                std::fill(g.begin(), g.end(), 0.0);
        };
    } else if (!run.jac.is_none()) {
        gradient = [&run](std::span<const double> x, std::span<double> g) {
            const bool ok = run.Python([&] {
                const py::object out = run.jac(ToArray(x), *run.args);
                ++run.njev;
                VectorInto(out, g, "jac");
            });
            if (!ok)
                std::fill(g.begin(), g.end(), 0.0);
        };
    }

    if (!run.compiled && !run.hess.is_none()) {
        hessian = [&run](std::span<const double> x, std::span<double> h) {
            run.Python([&] {
                const py::object out = run.hess(ToArray(x), *run.args);
                ++run.nhev;
                MatrixInto(out, h, run.n, "hess");
            });
        };
    }

    if (!run.logRow.is_none()) {
        options.onLogRow = [&run](const std::string& row) { run.Python([&] { run.logRow(row); }); };
    }
    if (!run.callback.is_none()) {
        options.onIteration = [&run](int k, std::span<const double> x, double fx, std::span<const double> g) {
            bool goOn = true;
            run.Python([&] {
                const py::object stop = run.callback(k, ToArray(x), fx, ToArray(g));
                goOn = !stop.cast<bool>();
            });
            return goOn && !run.failed.load();
        };
    }
    options.onEngine = [&run](CVRNUnconstrainedMinimization& engine, bool finished) {
        run.engine = finished ? nullptr : &engine;
    };

    vrn::MinimizeResult result;
    {
        py::gil_scoped_release release;
        result = vrn::Minimize(f, gradient, hessian, start, options);
    }
    if (run.error)
        std::rethrow_exception(run.error);

    py::dict out = ResultDict(result);
    if (!run.compiled) {
        // The calls of the user's callables (with jac=True a gradient served from fun's
        // pair is a gradient call, not a call of fun).
        out["nfev"] = run.nfev.load();
        out["njev"] = run.njev.load();
        out["nhev"] = run.nhev.load();
    }
    return out;
}

// One run per start point of a compiled problem, on `threads` threads (vrn::MinimizeMany);
// the results are those of one MinimizeBinding call per start, in input order.
py::list MinimizeManyBinding(const CompiledProblem& problem, const std::vector<DoubleArray>& x0s,
                             const py::dict& settings, int threads) {
    std::vector<std::vector<double>> starts;
    starts.reserve(x0s.size());
    for (const DoubleArray& x : x0s)
        starts.emplace_back(x.data(), x.data() + x.size());
    vrn::MinimizeOptions options = OptionsFrom(settings);
    vrn::Objective f;
    vrn::GradientFunction gradient;
    vrn::HessianFunction hessian;
    CompiledCallables(problem, settings["compiled_jac"].cast<bool>(), settings["compiled_hess"].cast<bool>(),
                      f, gradient, hessian);
    std::vector<vrn::MinimizeResult> results;
    {
        py::gil_scoped_release release;
        results = vrn::MinimizeMany(f, gradient, hessian, starts, options, threads);
    }
    py::list out;
    for (const vrn::MinimizeResult& r : results)
        out.append(ResultDict(r));
    return out;
}

void RegisterMinimize(py::module_& m) {
    m.def("_minimize", &MinimizeBinding, py::arg("fun"), py::arg("x0"), py::arg("args"), py::arg("jac"),
          py::arg("jac_in_fun"), py::arg("hess"), py::arg("callback"), py::arg("log_row"),
          py::arg("settings"), "One minimization; the arguments are checked by vrnmath.minimize.");
    m.def("_minimize_many", &MinimizeManyBinding, py::arg("problem"), py::arg("x0s"), py::arg("settings"),
          py::arg("threads"),
          "Minimizations of a compiled problem side by side; checked by vrnmath.minimize_many.");
}

} // namespace vrnpy
