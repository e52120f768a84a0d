// _vrnmath._minimize: vrn::Minimize on Python callables (or compiled reference problems);
// _vrnmath._minimize_many: vrn::MinimizeMany on a compiled problem and many start points,
// with an optional per-item callback (called from the batch's threads under the lock).
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

#include "face/Minimize.h"
#include "face/MinimizeMany.h"
#include "face/OptionTable.h"
#include "face/RunCore.h"
#include "lsq/LeastSquares.h"
#include "minimize/UnconstrainedMinimization.h"
#include "python/src/bindings.h"
#include "render/ResultJson.h"

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

} // namespace

vrn::MinimizeOptions OptionsFrom(const py::dict& given, vrn::ProblemKind kind) {
    const bool fit = kind == vrn::ProblemKind::LeastSquares;
    vrn::MinimizeOptions options;
    if (fit)
        options = vrn::LeastSquaresOptions();
    options.naming = vrn::OptionNaming::Python;
    const py::object numpyBool = py::module_::import("numpy").attr("bool_");
    const py::object integral = py::module_::import("numbers").attr("Integral");
    const py::object real = py::module_::import("numbers").attr("Real");
    for (const auto& [key, value] : given) {
        const std::string keyword = py::str(key);
        const vrn::OptionRow* row = vrn::FindOption(keyword, vrn::OptionNaming::Python, kind);
        if (!row || !row->put)
            throw py::value_error("unknown option '" + keyword + "'");
        const std::string shown = py::repr(value);
        auto refuse = [&](const std::string& what) {
            throw py::value_error(keyword + " must be " + what + " (got " + shown + ")");
        };
        vrn::OptionValue v;
        v.set = true;
        const bool isBool = py::isinstance<py::bool_>(value) || py::isinstance(value, numpyBool);
        const bool isText = py::isinstance<py::str>(value);
        switch (row->type) {
        case vrn::OptionType::Method: {
            const vrn::MethodInfo* m = nullptr;
            if (isText)
                m = vrn::FindMethod(std::string_view(value.cast<std::string>()));
            else if (!isBool && py::isinstance(value, integral))
                m = vrn::FindMethod(value.cast<int>());
            if (!m)
                refuse(fit ? std::string("'hook' or 'dogleg' (or the number 3 or 2)")
                           : "one of " + vrn::MethodKeys() + " or a number from 1 to 4");
            v.number = m->number;
            break;
        }
        case vrn::OptionType::Driver: {
            const std::string d = isText ? value.cast<std::string>() : "";
            if (d != "engine" && d != "tool" && d != "step")
                refuse("'engine', 'tool' or 'step'");
            v.number = d == "engine" ? 0 : d == "tool" ? 1 : 2;
            break;
        }
        case vrn::OptionType::Flag:
            v.number = PyObject_IsTrue(value.ptr()) == 1 ? 1.0 : 0.0;
            break;
        case vrn::OptionType::OnOff: {
            // True or False (or 1 or 0): a text such as 'off' would read as true.
            const bool integer = !isBool && py::isinstance(value, integral);
            if (!isBool && !(integer && (value.cast<long long>() == 0 || value.cast<long long>() == 1)))
                refuse("True or False");
            v.number = PyObject_IsTrue(value.ptr()) == 1 ? 1.0 : 0.0;
            break;
        }
        case vrn::OptionType::Loss: {
            const std::optional<vrn::Loss> loss =
                isText ? vrn::LossFromName(value.cast<std::string>()) : std::nullopt;
            if (!loss)
                refuse("'linear', 'soft_l1', 'huber', 'cauchy' or 'arctan'");
            v.number = static_cast<int>(*loss);
            break;
        }
        case vrn::OptionType::Differences: {
            const std::string d = isText ? value.cast<std::string>() : "";
            if (d != "2-point" && d != "3-point")
                refuse("a callable returning the Jacobian, '2-point' or '3-point'");
            v.number = d == "3-point" ? 3 : 2;
            break;
        }
        case vrn::OptionType::Integer: {
            if (isBool || !py::isinstance(value, integral))
                refuse("an integer");
            const long long i = value.cast<long long>();
            if (i < -2000000000LL || i > 2000000000LL)
                refuse(vrn::RangeText(*row));
            v.number = static_cast<double>(i);
            break;
        }
        case vrn::OptionType::Real:
            if (isBool || !py::isinstance(value, real))
                refuse("a real number");
            v.number = value.cast<double>();
            break;
        case vrn::OptionType::RealList: {
            const auto a = DoubleArray::ensure(value);
            if (!a || a.ndim() > 1) {
                PyErr_Clear();
                refuse("a one-dimensional array of numbers");
            }
            v.list.assign(a.data(), a.data() + a.size());
            break;
        }
        case vrn::OptionType::Derivative:
            refuse("given as jac or hess");
        }
        row->put(options, v);
    }
    return options;
}

std::string ResultJson(const vrn::MinimizeResult& result, const PythonCalls* calls) {
    std::vector<std::pair<std::string, std::string>> extra;
    if (calls) {
        // The calls of the user's callables (with jac=True a gradient served from fun's
        // pair is a gradient call, not a call of fun).
        extra.emplace_back("python_calls", "{\"f\":" + std::to_string(calls->f) +
                                               ",\"gradient\":" + std::to_string(calls->gradient) +
                                               ",\"hessian\":" + std::to_string(calls->hessian) + "}");
    }
    return vrn::ToJson(result, vrn::JsonNumbers::Python, extra);
}

namespace {

// The calls of one run's Python callables; none for a compiled problem.
std::optional<PythonCalls> CallsOf(const Run& run) {
    if (run.compiled)
        return std::nullopt;
    return PythonCalls{run.nfev.load(), run.njev.load(), run.nhev.load()};
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

std::string MinimizeBinding(py::object fun, const DoubleArray& x0, py::tuple args, py::object jac,
                            bool jacInFun, py::object hess, py::object callback, py::object logRow,
                            const py::dict& given, bool compiledJac, bool compiledHess, bool captureLog,
                            bool central) {
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
    vrn::MinimizeOptions options = OptionsFrom(given);
    options.captureLog = captureLog;

    vrn::Objective f;
    vrn::GradientFunction gradient;
    vrn::HessianFunction hessian;
    if (py::isinstance<CompiledProblem>(run.fun)) {
        run.compiled = true;
        CompiledCallables(run.fun.cast<const CompiledProblem&>(), compiledJac, compiledHess, f, gradient,
                          hessian);
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
    } else if (central) {
        // jac='3-point': central differences of fun, handed to the engine as its gradient.
        gradient = [&f, n = run.n](std::span<const double> x, std::span<double> g) {
            std::vector<double> scratch(x.begin(), x.end());
            vrn::CentralDifferenceGradient(f, scratch, g);
            (void)n;
        };
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
    // What the run core says before a long run reaches the caller at once, as a warning.
    options.onNote = [&run](const std::string& note) {
        run.Python([&] {
            py::module_::import("warnings")
                .attr("warn")(note, py::module_::import("builtins").attr("RuntimeWarning"), 3);
        });
    };
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

    const std::optional<PythonCalls> calls = CallsOf(run);
    return ResultJson(result, calls ? &*calls : nullptr);
}

// One run per start point of a compiled problem, on `threads` threads (vrn::MinimizeMany);
// the results are those of one MinimizeBinding call per start, in input order.
// on_done (None or a callable) is called as on_done(index, json_text) once per finished
// item, from the thread that ran it, with the interpreter lock held for the call. Its
// first exception stops further calls and is raised once the batch has finished.
py::list MinimizeManyBinding(const CompiledProblem& problem, const std::vector<DoubleArray>& x0s,
                             const py::dict& given, bool compiledJac, bool compiledHess, bool captureLog,
                             int threads, const py::object& onDone) {
    std::vector<std::vector<double>> starts;
    starts.reserve(x0s.size());
    for (const DoubleArray& x : x0s)
        starts.emplace_back(x.data(), x.data() + x.size());
    vrn::MinimizeOptions options = OptionsFrom(given);
    options.captureLog = captureLog;
    vrn::Objective f;
    vrn::GradientFunction gradient;
    vrn::HessianFunction hessian;
    CompiledCallables(problem, compiledJac, compiledHess, f, gradient, hessian);
    vrn::BatchOptions batch;
    batch.threads = threads;
    std::exception_ptr callbackError; // written and read with the interpreter lock held
    if (!onDone.is_none()) {
        batch.onItemDone = [&onDone, &callbackError](size_t index, const vrn::MinimizeResult& r) {
            const std::string text = ResultJson(r, nullptr);
            py::gil_scoped_acquire gil;
            if (callbackError)
                return;
            try {
                onDone(index, py::str(text));
            } catch (...) {
                callbackError = std::current_exception();
            }
        };
    }
    std::vector<vrn::MinimizeResult> results;
    {
        py::gil_scoped_release release;
        results = vrn::MinimizeMany(f, gradient, hessian, starts, options, batch);
    }
    if (callbackError)
        std::rethrow_exception(callbackError);
    py::list out;
    for (const vrn::MinimizeResult& r : results)
        out.append(py::str(ResultJson(r, nullptr)));
    return out;
}

void RegisterMinimize(py::module_& m) {
    m.def("_minimize", &MinimizeBinding, py::arg("fun"), py::arg("x0"), py::arg("args"), py::arg("jac"),
          py::arg("jac_in_fun"), py::arg("hess"), py::arg("callback"), py::arg("log_row"), py::arg("options"),
          py::arg("compiled_jac"), py::arg("compiled_hess"), py::arg("capture_log"),
          py::arg("central") = false, "One minimization through the run core; returns the result's JSON.");
    m.def("_minimize_many", &MinimizeManyBinding, py::arg("problem"), py::arg("x0s"), py::arg("options"),
          py::arg("compiled_jac"), py::arg("compiled_hess"), py::arg("capture_log"), py::arg("threads"),
          py::arg("on_done") = py::none(),
          "Minimizations of a compiled problem side by side; one JSON text per start point.");
    m.def(
        "_method_table",
        [] {
            py::list rows;
            for (const vrn::MethodInfo& mi : vrn::Methods()) {
                py::dict row;
                row["key"] = mi.key;
                row["number"] = mi.number;
                row["title"] = mi.title;
                py::list aliases;
                for (const char* a : mi.aliases)
                    if (a)
                        aliases.append(a);
                row["aliases"] = aliases;
                row["uses_hessian"] = mi.usesHessian;
                row["uses_trust_radius"] = mi.usesTrustRadius;
                row["uses_typical_sizes"] = mi.usesTypicalSizes;
                row["step_mode"] = mi.hasStepMode;
                rows.append(row);
            }
            return rows;
        },
        "The method table: one dict per method (key, number, title, aliases, what it uses).");
    m.def(
        "_option_table",
        [](const std::string& kind) {
            if (kind != "minimize" && kind != "least_squares")
                throw py::value_error("kind must be 'minimize' or 'least_squares' (got '" + kind + "')");
            py::list rows;
            for (const vrn::OptionRow& s : vrn::OptionTable(
                     kind == "least_squares" ? vrn::ProblemKind::LeastSquares : vrn::ProblemKind::Minimize)) {
                py::dict row;
                row["name"] = s.name;
                row["keyword"] = s.keyword;
                row["switch"] = s.cliSwitch;
                row["default"] = s.byDefault;
                row["default_text"] = vrn::DefaultText(s);
                row["range"] = vrn::RangeText(s);
                row["description"] = s.description;
                rows.append(row);
            }
            return rows;
        },
        py::arg("kind") = "minimize",
        "The option table of one kind of request ('minimize' or 'least_squares'): one dict per option (name, "
        "keyword, switch, default, range, description).");
}

} // namespace vrnpy
