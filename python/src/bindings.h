#pragma once

// The parts of the compiled module _vrnmath, registered by module.cpp.

#include <memory>
#include <string>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "face/MinimizeOptions.h"
#include "face/MinimizeResult.h"
#include "face/OptionTable.h"
#include "problems/ReferenceProblems.h"

namespace vrnpy {

namespace py = pybind11;

// NumPy arrays of doubles as the bindings accept them: C order, converted if needed.
using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

// A compiled objective: one of the reference problems, evaluated without the GIL.
// Pickled by name, so that it travels to Dask workers.
struct CompiledProblem {
    explicit CompiledProblem(const std::string& problemName);
    std::string name;
    std::shared_ptr<const golden::TestProblem> problem;
};

// The options from the keywords a face was given (only those given): each keyword is a
// row of the option table of that kind of request, converted by the row's type. A value
// of the wrong kind raises ValueError worded with the Python keyword; ranges and the
// options a method does not use are the run core's to refuse.
vrn::MinimizeOptions OptionsFrom(const py::dict& given, vrn::ProblemKind kind = vrn::ProblemKind::Minimize);

// Calls of the user's Python callables during one run.
struct PythonCalls {
    long f = 0, gradient = 0, hessian = 0;
};

// The result in its one serialized form (NaN and infinities as Python reads them), with
// the calls of the user's callables as "python_calls" when calls is given.
std::string ResultJson(const vrn::MinimizeResult& result, const PythonCalls* calls);

void RegisterMinimize(py::module_& m);
void RegisterDatautil(py::module_& m);
void RegisterProblems(py::module_& m);
void RegisterLeastSquares(py::module_& m);

} // namespace vrnpy
