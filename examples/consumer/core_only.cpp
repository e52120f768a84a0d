// Uses the core library alone (VRNMathTools::vrnmath_core): a problem class of its own,
// the engine, and a status log written to the terminal through the engine's message sink.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "minimize/UnconstrainedMinimization.h"

// Beale's function of two variables, minimum f = 0 at (3, 0.5).
class Beale : public CVRNMinimizationMethodBase {
public:
    int NumberOfParameters() override { return 2; }
    void InitialParameters(double* const x0) override {
        x0[0] = 1.0;
        x0[1] = 1.0;
    }
    double Fx(double* const x) override {
        const double a = 1.5 - x[0] * (1.0 - x[1]);
        const double b = 2.25 - x[0] * (1.0 - x[1] * x[1]);
        const double c = 2.625 - x[0] * (1.0 - x[1] * x[1] * x[1]);
        return a * a + b * b + c * c;
    }
};

// Prints every status row with a prefix.
class TerminalLog : public CVRNMessageSink {
public:
    void AddMessage(const char* text) override {
        ForEachStatusRow(text, std::strlen(text), [](std::string_view row) {
            std::printf("log| %.*s\n", static_cast<int>(row.size()), row.data());
        });
    }
};

int main() {
    Beale problem;
    TerminalLog log;
    CVRNUnconstrainedMinimization engine;
    engine.Default();
    engine.SetImplementationOptions(false, false, false); // finite-difference derivatives
    engine.SetMessageBits(8);                             // no settings listing
    engine.SetStatusView(&log);
    engine.Minimize(&problem, 1.0, 1000, 3);

    const CVRNRunRecord& r = engine.GetRunRecord();
    std::printf("code %d after %d iterations, %ld evaluations: x = (%.6f, %.6f), f = %.3e\n", r.code,
                r.iterations, r.fEvaluations, r.x[0], r.x[1], r.f);
    return (r.code == 1 || r.code == 2) && r.f < 1e-10 ? 0 : 1;
}
