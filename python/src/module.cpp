// The compiled part of the Python package vrnmath. The package's own modules
// (vrnmath/__init__.py and its neighbours) give it the documented interface.
#include "python/src/bindings.h"

PYBIND11_MODULE(_vrnmath, m) {
    m.doc() = "VRNMathTools minimizer and data utilities (compiled part of the vrnmath package)";
    // The version the module was built as: the package refuses a module of another one.
    m.attr("__version__") = VRN_VERSION_TEXT;
    vrnpy::RegisterProblems(m);
    vrnpy::RegisterMinimize(m);
    vrnpy::RegisterDatautil(m);
    vrnpy::RegisterLeastSquares(m);
}
