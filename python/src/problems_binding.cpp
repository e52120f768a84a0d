// The reference problems as compiled objectives: callable from Python like any
// objective, and evaluated by the minimizer without entering the interpreter.
#include <stdexcept>
#include <vector>

#include "python/src/bindings.h"

namespace vrnpy {

namespace {

std::vector<double> PointOf(const CompiledProblem& p, const DoubleArray& x) {
    const auto n = static_cast<py::ssize_t>(p.problem->n);
    if (x.ndim() != 1 || x.shape(0) != n)
        throw py::value_error("x must have shape (" + std::to_string(n) + ",), got an array of " +
                              std::to_string(x.size()) + " values with " + std::to_string(x.ndim()) +
                              " dimensions");
    return std::vector<double>(x.data(), x.data() + n);
}

} // namespace

CompiledProblem::CompiledProblem(const std::string& problemName) : name(problemName) {
    std::unique_ptr<golden::TestProblem> made = golden::MakeTestProblem(problemName);
    if (!made || made->n <= 0) {
        std::string known;
        for (const std::string& s : golden::TestProblemNames())
            if (s != "empty")
                known += (known.empty() ? "" : ", ") + s;
        throw py::value_error("unknown reference problem '" + problemName + "' (known: " + known + ")");
    }
    problem = std::shared_ptr<const golden::TestProblem>(std::move(made));
}

void RegisterProblems(py::module_& m) {
    py::class_<CompiledProblem>(
        m, "ReferenceProblem",
        "A reference problem compiled into the library: f(x), its gradient and Hessian.")
        .def(py::init<const std::string&>(), py::arg("name"))
        .def_readonly("name", &CompiledProblem::name)
        .def_property_readonly("n", [](const CompiledProblem& p) { return p.problem->n; })
        .def_property_readonly("x0",
                               [](const CompiledProblem& p) {
                                   DoubleArray a(static_cast<py::ssize_t>(p.problem->n));
                                   std::copy(p.problem->x0.begin(), p.problem->x0.end(), a.mutable_data());
                                   return a;
                               })
        .def("__call__",
             [](const CompiledProblem& p, const DoubleArray& x) {
                 const std::vector<double> v = PointOf(p, x);
                 return p.problem->fx(v.data());
             })
        .def("jac",
             [](const CompiledProblem& p, const DoubleArray& x) {
                 const std::vector<double> v = PointOf(p, x);
                 DoubleArray g(static_cast<py::ssize_t>(v.size()));
                 p.problem->grad(v.data(), g.mutable_data());
                 return g;
             })
        .def("hess",
             [](const CompiledProblem& p, const DoubleArray& x) {
                 const std::vector<double> v = PointOf(p, x);
                 const auto n = static_cast<py::ssize_t>(v.size());
                 DoubleArray h({n, n});
                 std::fill(h.mutable_data(), h.mutable_data() + n * n, 0.0);
                 p.problem->hess(v.data(), h.mutable_data());
                 return h;
             })
        .def("__repr__",
             [](const CompiledProblem& p) { return "vrnmath.ReferenceProblem('" + p.name + "')"; })
        .def(py::pickle([](const CompiledProblem& p) { return py::make_tuple(p.name); },
                        [](const py::tuple& t) { return CompiledProblem(t[0].cast<std::string>()); }));
    py::list names;
    for (const std::string& s : golden::TestProblemNames())
        if (s != "empty")
            names.append(s);
    m.attr("reference_problem_names") = names;
}

} // namespace vrnpy
