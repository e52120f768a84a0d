// A run of one of GSL's multimin minimizers with derivatives (vector_bfgs2,
// conjugate_pr, ...) on a test problem, counting evaluations: the yardstick of the
// comparison program and of the overhead benchmark.
//
// Stop: the Euclidean norm of the gradient falls to `relativeGradient` times its norm
// at the start point, the iteration cap is reached, or GSL reports that an iteration
// made no progress.
#pragma once

#include <gsl/gsl_blas.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_multimin.h>

#include "problems/ReferenceProblems.h"

namespace vrn_bench {

struct GslOutcome {
    double f = 0.0;
    long iterations = 0;
    long nfev = 0;
    long ngev = 0;
    int status = GSL_CONTINUE; // GSL_SUCCESS when the gradient test passed
};

struct GslSettings {
    double relativeGradient = 1e-6;
    long iterationCap = 10000;
    double firstStep = 0.01;
    double lineTolerance = 0.1;
};

namespace detail {

struct GslContext {
    golden::TestProblem* problem;
    long nfev;
    long ngev;
};

inline double GslF(const gsl_vector* x, void* params) {
    auto* c = static_cast<GslContext*>(params);
    ++c->nfev;
    return c->problem->fx(x->data);
}

inline void GslDf(const gsl_vector* x, void* params, gsl_vector* g) {
    auto* c = static_cast<GslContext*>(params);
    ++c->ngev;
    c->problem->grad(x->data, g->data);
}

inline void GslFdf(const gsl_vector* x, void* params, double* f, gsl_vector* g) {
    auto* c = static_cast<GslContext*>(params);
    ++c->nfev;
    ++c->ngev;
    *f = c->problem->fx(x->data);
    c->problem->grad(x->data, g->data);
}

} // namespace detail

// Minimizes `problem` from its start point; workspace allocation is part of the run.
inline GslOutcome RunGsl(const gsl_multimin_fdfminimizer_type* type, golden::TestProblem& problem,
                         const GslSettings& settings = GslSettings()) {
    const size_t n = static_cast<size_t>(problem.n);
    detail::GslContext context{&problem, 0, 0};
    gsl_multimin_function_fdf fdf;
    fdf.n = n;
    fdf.f = detail::GslF;
    fdf.df = detail::GslDf;
    fdf.fdf = detail::GslFdf;
    fdf.params = &context;

    gsl_vector* x = gsl_vector_alloc(n);
    for (size_t i = 0; i < n; ++i)
        gsl_vector_set(x, i, problem.x0[i]);
    gsl_multimin_fdfminimizer* s = gsl_multimin_fdfminimizer_alloc(type, n);
    gsl_multimin_fdfminimizer_set(s, &fdf, x, settings.firstStep, settings.lineTolerance);

    GslOutcome out;
    const double threshold =
        settings.relativeGradient * gsl_blas_dnrm2(gsl_multimin_fdfminimizer_gradient(s));
    out.status = gsl_multimin_test_gradient(gsl_multimin_fdfminimizer_gradient(s), threshold);
    while (out.status == GSL_CONTINUE && out.iterations < settings.iterationCap) {
        ++out.iterations;
        const int st = gsl_multimin_fdfminimizer_iterate(s);
        if (st != GSL_SUCCESS) {
            out.status = st;
            break;
        }
        out.status = gsl_multimin_test_gradient(gsl_multimin_fdfminimizer_gradient(s), threshold);
    }
    out.f = gsl_multimin_fdfminimizer_minimum(s);
    out.nfev = context.nfev;
    out.ngev = context.ngev;
    gsl_multimin_fdfminimizer_free(s);
    gsl_vector_free(x);
    return out;
}

// GSL prints and aborts on errors by default; the runs here report through status codes.
inline void QuietGslErrors() {
    gsl_set_error_handler_off();
}

} // namespace vrn_bench
