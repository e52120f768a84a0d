// Iteration events for the observers and the run record the engine fills for its caller.
#include <cmath>

#include "minimize/UnconstrainedMinimization.h"

namespace {

bool IsJudgedCandidate(int code) {
    return code == GradientSmall || code == StepSizeSmall || code == TooManyLargeSteps;
}

double MaxAbs(const double* v, int n) {
    double m = 0.0;
    for (int i = 0; i < n; i++) {
        const double a = std::fabs(v[i]);
        // A NaN component makes the norm NaN rather than disappear from it.
        if (a > m || std::isnan(a))
            m = a;
    }
    return m;
}

} // namespace

void CVRNUnconstrainedMinimization::BeginRecord(CVRNMinimizationMethodBase* problem) {
    m_Counter.Attach(problem);
    m_Counter.ResetCounts();
    m_pMethod = problem ? &m_Counter : nullptr;
    m_dLastLambda = 0.0;
    m_Record.code = OptionCheck;
    m_Record.method = m_nMethod;
    m_Record.iterations = 0;
    m_Record.n = 0;
    m_Record.x.clear();
    m_Record.g.clear();
    m_Record.f = 0.0;
    m_Record.initialF = 0.0;
    m_Record.started = false;
    m_Record.fEvaluations = m_Record.gradientEvaluations = m_Record.hessianEvaluations = 0;
    for (CVRNDerivativeCheckRecord* check : {&m_Record.gradientCheck, &m_Record.hessianCheck}) {
        check->ran = false;
        check->passed = true;
        check->tolerance = 0.0;
        check->entries.clear();
    }
    m_Record.iterationRecords.clear();
    m_HessianStorage = HessianStorage::None;
}

CVRNIterationEvent CVRNUnconstrainedMinimization::MakeEvent(const double* x, double f,
                                                            const double* g) const {
    CVRNIterationEvent e;
    e.iteration = m_nIterationCount;
    e.n = m_nParameters;
    e.method = m_nMethod;
    e.x = x;
    e.f = f;
    e.g = g;
    e.radius = (m_nMethod == 2 || m_nMethod == 3) ? m_dTrustRadius : m_dLastLambda;
    e.fEvaluations = m_Counter.fEvaluations;
    e.gradientEvaluations = m_Counter.gradientEvaluations;
    e.hessianEvaluations = m_Counter.hessianEvaluations;
    e.code = m_nTerminationCode.load();
    return e;
}

namespace {

void AppendIteration(CVRNRunRecord& record, const CVRNIterationEvent& e) {
    CVRNIterationRecord r;
    r.iteration = e.iteration;
    r.f = e.f;
    r.gradientNorm = e.g ? MaxAbs(e.g, e.n) : 0.0;
    r.stepLength = e.stepLength;
    r.radius = e.radius;
    r.fEvaluations = e.fEvaluations;
    r.gradientEvaluations = e.gradientEvaluations;
    r.hessianEvaluations = e.hessianEvaluations;
    r.x.assign(e.x, e.x + e.n);
    if (e.g)
        r.g.assign(e.g, e.g + e.n);
    record.iterationRecords.push_back(std::move(r));
}

} // namespace

void CVRNUnconstrainedMinimization::NotifyRunStart() {
    m_Record.started = true;
    m_Record.initialF = m_dF;
    if (m_Observers.empty() && !m_pDiagnostics && !m_bRecordIterations)
        return;
    CVRNIterationEvent e = MakeEvent(m_pX, m_dF, m_pGrad);
    e.stepLength = 0.0;
    if (m_bRecordIterations)
        AppendIteration(m_Record, e);
    if (m_pDiagnostics)
        m_pDiagnostics->OnRunStart(e);
    for (CVRNIterationObserver* o : m_Observers)
        o->OnRunStart(e);
}

void CVRNUnconstrainedMinimization::NotifyTrialPoint() {
    if (m_Observers.empty() && !m_pDiagnostics)
        return;
    CVRNIterationEvent e = MakeEvent(m_pXMin, m_dFPlus, nullptr);
    double s = 0.0;
    for (int i = 0; i < m_nParameters; i++)
        s += m_pStep[i] * m_pStep[i];
    e.stepLength = std::sqrt(s);
    if (m_pDiagnostics)
        m_pDiagnostics->OnTrialPoint(e);
    for (CVRNIterationObserver* o : m_Observers)
        o->OnTrialPoint(e);
}

void CVRNUnconstrainedMinimization::NotifyAcceptedStep(const double* x, double f, const double* g) {
    if (m_Observers.empty() && !m_pDiagnostics && !m_bRecordIterations)
        return;
    CVRNIterationEvent e = MakeEvent(x, f, g);
    double s = 0.0;
    for (int i = 0; i < m_nParameters; i++)
        s += m_pStep[i] * m_pStep[i];
    e.stepLength = std::sqrt(s);
    // Method 4 counts an iteration after its bookkeeping; the step belongs to the next.
    if (m_nMethod == 4)
        e.iteration = m_nIterationCount + 1;
    if (m_bRecordIterations)
        AppendIteration(m_Record, e);
    if (m_pDiagnostics)
        m_pDiagnostics->OnAcceptedStep(e);
    for (CVRNIterationObserver* o : m_Observers)
        o->OnAcceptedStep(e);
}

void CVRNUnconstrainedMinimization::FinishRecord(bool notify) {
    const int n = m_nParameters > 0 ? m_nParameters : 0;
    const int code = m_nTerminationCode.load();
    m_Record.code = code;
    m_Record.method = m_nMethod;
    m_Record.iterations = m_nIterationCount;
    m_Record.n = n;
    m_Record.fEvaluations = m_Counter.fEvaluations;
    m_Record.gradientEvaluations = m_Counter.gradientEvaluations;
    m_Record.hessianEvaluations = m_Counter.hessianEvaluations;

    const double* x = m_pX;
    const double* g = m_pGrad;
    double f = m_dF;
    if (m_nMethod == 4) {
        // The conjugate-gradient method keeps its search direction in the gradient
        // array; the gradient it last evaluated at x is kept in the record as it goes,
        // and is dropped when a last line minimization moved x without a new gradient.
        if (code == StepSizeSmall) {
            f = m_dFPlus;
            m_Record.g.clear();
        }
        g = nullptr;
    } else if (IsJudgedCandidate(code)) {
        x = m_pXMin;
        f = m_dFPlus;
        g = m_pGradMin;
    }
    if (n > 0 && x && m_Record.started) {
        m_Record.x.assign(x, x + n);
        if (g)
            m_Record.g.assign(g, g + n);
    } else {
        m_Record.x.clear();
        m_Record.g.clear();
    }
    m_Record.f = m_Record.started ? f : 0.0;

    if (!notify || (m_Observers.empty() && !m_pDiagnostics))
        return;
    CVRNIterationEvent e = MakeEvent(m_Record.x.empty() ? nullptr : m_Record.x.data(), m_Record.f,
                                     m_Record.g.empty() ? nullptr : m_Record.g.data());
    e.n = static_cast<int>(m_Record.x.size());
    if (m_pDiagnostics)
        m_pDiagnostics->OnRunEnd(e);
    for (CVRNIterationObserver* o : m_Observers)
        o->OnRunEnd(e);
}
