#pragma once

// The parts of the compiled module _vrnmath, registered by module.cpp.

#include <memory>
#include <string>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

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

void RegisterMinimize(py::module_& m);
void RegisterDatautil(py::module_& m);
void RegisterProblems(py::module_& m);
void RegisterLeastSquares(py::module_& m);

} // namespace vrnpy
