// Stopping tests, termination texts and the report lines of the engine.
#include <cmath>
#include <cstdio>
#include <string>

#include "minimize/EngineMeasures.h"
#include "minimize/UnconstrainedMinimization.h"

CString& CVRNUnconstrainedMinimization::GetTerminationCode() {
    switch (m_nTerminationCode.load()) {
    case OptimalSolution:
        m_TerminationText = "Optimal Solution\n";
        break;
    case GradientSmall:
        m_TerminationText = "WARNING --- probably converged, Gradient small\n";
        break;
    case StepSizeSmall:
        m_TerminationText = "WARNING --- probably converged, step size small\n";
        break;
    case NoLowerPoint:
        m_TerminationText = "WARNING --- cannot find lower point\n";
        break;
    case TooManyIterations:
        m_TerminationText = "WARNING --- too many iterations\n";
        break;
    case TooManyLargeSteps:
        m_TerminationText = "WARNING --- too many large steps, possibly unbounded\n";
        break;
    case AbortedByUser:
        m_TerminationText = "Aborted by User\n";
        break;
    default:
        break; // option check: the previous text stands
    }
    return m_TerminationText;
}

void CVRNUnconstrainedMinimization::Terminate(double* const xplus, double fplus, double* const gplus,
                                              double* const xprev) {
    const int n = m_nParameters;
    const bool print = MessagesOn();
    m_nTerminationCode = OptimalSolution;

    if (m_nStepResult == 1) {
        m_nTerminationCode = NoLowerPoint;
        if (print) {
            m_pStatusView->Print("OPTSTP    The last global step failed to locate a point lower than x.");
            m_pStatusView->Print("OPTSTP    Either x is an approximate local minimum of the function,");
            m_pStatusView->Print(
                "OPTSTP    the function is too nonlinear for this algorithm, or steptl is too large.");
        }
        return;
    }

    // A point whose value, gradient or coordinates are not finite is never a solution:
    // the convergence tests below would otherwise skip NaN components and pass.
    bool finite = std::isfinite(fplus);
    for (int i = 0; i < n && finite; i++)
        finite = std::isfinite(gplus[i]) && std::isfinite(xplus[i]);

    if (finite) {
        const double absf = std::fabs(fplus);
        const double d = absf > m_dTypicalF ? absf : m_dTypicalF;
        double rgx = 0.0;
        for (int i = 0; i < n; i++) {
            const double absx = std::fabs(xplus[i]);
            const double typ = 1.0 / m_pScaleX[i];
            const double relgrd = std::fabs(gplus[i]) * (absx > typ ? absx : typ) / d;
            if (relgrd > rgx)
                rgx = relgrd;
        }
        if (rgx <= m_dGradTol) {
            m_nTerminationCode = GradientSmall;
            if (print) {
                m_pStatusView->Print("OPTSTP    The relative Gradient is close to zero.");
                m_pStatusView->Print("OPTSTP    The current iterate is probably a solution");
            }
            return;
        }
    }

    if (m_nIterationCount == 0)
        return;

    if (finite) {
        const double rsx =
            vrn_engine::MaxRelativeLength(n, xplus, m_pScaleX, [&](int i) { return xplus[i] - xprev[i]; });
        if (rsx <= m_dStepTol) {
            m_nTerminationCode = StepSizeSmall;
            if (print) {
                m_pStatusView->Print("OPTSTP    Successive iterates are within steptl.");
                m_pStatusView->Print("OPTSTP    The current iterate is probably a solution.");
            }
            return;
        }
    }

    if (!m_bMaxStepTaken) {
        m_nMaxStepCount = 0;
        return;
    }
    if (print)
        m_pStatusView->Print("OPTSTP    Step of maximum length (MaxStep) taken.");
    m_nMaxStepCount++;
    if (m_nMaxStepCount >= 5) {
        m_nTerminationCode = TooManyLargeSteps;
        if (print) {
            m_pStatusView->Print("OPTSTP    Maximum step size exceeded five consecutive times.");
            m_pStatusView->Print(
                "OPTSTP    Either the function is unbounded  below, becomes asymptotic to a finite "
                "value  from above in some direction, or");
            m_pStatusView->Print("OPTSTP    StepMax is too small.");
        }
    }
}

void CVRNUnconstrainedMinimization::result(double* const x, double f, double* const g, CMatrix& a,
                                           double* const p, int full) {
    (void)x;
    (void)f;
    (void)g;
    (void)a;
    (void)p;
    (void)full;
    if (m_pStatusView)
        m_pStatusView->Print("RESULT      Iterate k = %ld", static_cast<long>(m_nIterationCount));
}

void CVRNUnconstrainedMinimization::PrintVector(double* v, int count) {
    if (!m_pStatusView || count <= 0)
        return;
    // Appends printf-formatted text of any length to line.
    auto appendf = [](std::string& line, const char* format, auto... args) {
        const int len = std::snprintf(nullptr, 0, format, args...);
        if (len <= 0)
            return;
        const size_t old = line.size();
        line.resize(old + static_cast<size_t>(len) + 1);
        std::snprintf(&line[old], static_cast<size_t>(len) + 1, format, args...);
        line.resize(old + static_cast<size_t>(len));
    };
    auto printBlock = [&](int first, int last) {
        std::string line;
        appendf(line, "%d -- %d     ", first + 1, last + 1);
        for (int i = first; i <= last; i++)
            appendf(line, "%lf  ", v[i]);
        m_pStatusView->Print("%s", line.c_str());
    };
    const int blocks = count / 5;
    const int rest = count % 5;
    for (int b = 0; b < blocks; b++)
        printBlock(5 * b, 5 * b + 4);
    if (rest > 0)
        printBlock(5 * blocks, 5 * blocks + rest - 1);
}

void CVRNUnconstrainedMinimization::MultilplyByScaler(double s, double* const in, double* const out) {
    for (int i = 0; i < m_nParameters; i++)
        out[i] = s * in[i];
}
