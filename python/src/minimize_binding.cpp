// _vrnmath._minimize: vrn::Minimize on Python callables (or compiled reference problems).
//
// The interpreter lock is released for the whole run and taken back only while Python
// code runs: in the objective, gradient, Hessian, callback and log wrappers below.
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
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <pybind11/stl.h>

#include "minimize/UnconstrainedMinimization.h"
#include "python/src/bindings.h"
#include "tool/Minimize.h"

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
    const CompiledProblem* compiled = nullptr;
    bool compiledJac = false;
    bool compiledHess = false;

    CVRNUnconstrainedMinimization* engine = nullptr;
    std::atomic<bool> failed{false};
    std::exception_ptr error;
    // Atomic: compiled objectives may be evaluated on several threads at once.
    std::atomic<long> nfev{0}, njev{0}, nhev{0};

    // With jac=True the gradient comes with f: kept for the gradient call at the same x.
    std::vector<double> cachedX, cachedG;
    bool cacheValid = false;

    // Read from the engine's run record before the engine goes away.
    std::vector<double> finalG;
    std::optional<bool> gradientCheckPassed;

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
            error = std::current_exception();
            failed = true;
            if (engine)
                engine->Abort();
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

} // namespace

py::dict MinimizeBinding(py::object fun, const DoubleArray& x0, py::tuple args, py::object jac, bool jacInFun,
                         py::object hess, bool compiledJac, bool compiledHess, int method,
                         std::optional<DoubleArray> typicalX, double typicalF, std::optional<double> gtol,
                         std::optional<double> xtol, int maxiter, bool secant, bool checkGradient,
                         bool checkHessian, py::object callback, py::object logRow, bool captureLog,
                         std::optional<double> maxStep, std::optional<double> trustRadius,
                         std::optional<int> ndigits, std::optional<double> cgTol, int driver) {
    Run run;
    run.n = static_cast<size_t>(x0.size());
    run.fun = std::move(fun);
    run.args = std::move(args);
    run.jac = std::move(jac);
    run.hess = std::move(hess);
    run.jacInFun = jacInFun;
    run.callback = std::move(callback);
    run.logRow = std::move(logRow);
    if (py::isinstance<CompiledProblem>(run.fun)) {
        run.compiled = &run.fun.cast<const CompiledProblem&>();
        run.compiledJac = compiledJac;
        run.compiledHess = compiledHess;
    }
    const std::vector<double> start(x0.data(), x0.data() + x0.size());

    vrn::Objective f;
    vrn::GradientFunction gradient;
    vrn::HessianFunction hessian;
    if (run.compiled) {
        const golden::TestProblem* p = run.compiled->problem.get();
        f = [&run, p](std::span<const double> x) {
            ++run.nfev;
            return p->fx(x.data());
        };
    } else if (run.jacInFun) {
        f = [&run](std::span<const double> x) {
            double value = kNaN;
            run.Python([&] {
                run.cachedG.resize(run.n);
                run.cacheValid = false;
                value = run.Pair(x, run.cachedG);
                run.cachedX.assign(x.begin(), x.end());
                run.cacheValid = true;
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

    if (run.compiled && run.compiledJac) {
        const golden::TestProblem* p = run.compiled->problem.get();
        gradient = [&run, p](std::span<const double> x, std::span<double> g) {
            ++run.njev;
            p->grad(x.data(), g.data());
        };
    } else if (run.jacInFun) {
        gradient = [&run](std::span<const double> x, std::span<double> g) {
            const bool ok = run.Python([&] {
                ++run.njev;
                if (run.cacheValid && run.cachedX.size() == x.size() &&
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

    if (run.compiled && run.compiledHess) {
        const golden::TestProblem* p = run.compiled->problem.get();
        hessian = [&run, p](std::span<const double> x, std::span<double> h) {
            ++run.nhev;
            p->hess(x.data(), h.data());
        };
    } else if (!run.hess.is_none()) {
        hessian = [&run](std::span<const double> x, std::span<double> h) {
            run.Python([&] {
                const py::object out = run.hess(ToArray(x), *run.args);
                ++run.nhev;
                MatrixInto(out, h, run.n, "hess");
            });
        };
    }

    vrn::MinimizeOptions options;
    options.method = method;
    options.driver = driver == 1 ? vrn::Driver::Tool : driver == 2 ? vrn::Driver::Step : vrn::Driver::Engine;
    options.itnlim = maxiter;
    options.typicalF = typicalF;
    if (typicalX)
        options.typicalX.assign(typicalX->data(), typicalX->data() + typicalX->size());
    options.gradientTolerance = gtol;
    options.stepTolerance = xtol;
    options.maximumStep = maxStep;
    options.trustRadius = trustRadius;
    options.numberOfDigits = ndigits;
    options.cgTolerance = cgTol;
    options.expensive = secant;
    options.checkGradient = checkGradient;
    options.checkHessian = checkHessian;
    options.captureLog = captureLog;
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
        if (!finished) {
            run.engine = &engine;
            return;
        }
        const CVRNRunRecord& record = engine.GetRunRecord();
        run.finalG = record.g;
        if (record.gradientCheck.ran)
            run.gradientCheckPassed = record.gradientCheck.passed;
        run.engine = nullptr;
    };

    vrn::MinimizeResult result;
    {
        py::gil_scoped_release release;
        result = vrn::Minimize(f, gradient, hessian, start, options);
    }
    if (run.error)
        std::rethrow_exception(run.error);

    py::dict out;
    out["x"] = ToArray(result.x);
    out["fun"] = result.f;
    if (run.finalG.size() == run.n && run.n > 0)
        out["jac"] = ToArray(run.finalG);
    else
        out["jac"] = py::none();
    out["code"] = result.code;
    out["message"] = result.message;
    out["nit"] = result.iterations;
    out["runs"] = result.runs;
    out["nfev"] = run.nfev.load();
    out["njev"] = run.njev.load();
    out["nhev"] = run.nhev.load();
    out["log"] = py::cast(result.log);
    if (run.gradientCheckPassed)
        out["gradient_check"] = *run.gradientCheckPassed;
    else
        out["gradient_check"] = py::none();
    return out;
}

void RegisterMinimize(py::module_& m) {
    m.def("_minimize", &MinimizeBinding, py::arg("fun"), py::arg("x0"), py::arg("args"), py::arg("jac"),
          py::arg("jac_in_fun"), py::arg("hess"), py::arg("compiled_jac"), py::arg("compiled_hess"),
          py::arg("method"), py::arg("typical_x"), py::arg("typical_f"), py::arg("gtol"), py::arg("xtol"),
          py::arg("maxiter"), py::arg("secant"), py::arg("check_gradient"), py::arg("check_hessian"),
          py::arg("callback"), py::arg("log_row"), py::arg("capture_log"), py::arg("max_step"),
          py::arg("trust_radius"), py::arg("ndigits"), py::arg("cg_tol"), py::arg("driver"),
          "One minimization; the arguments are checked by vrnmath.minimize.");
}

} // namespace vrnpy
