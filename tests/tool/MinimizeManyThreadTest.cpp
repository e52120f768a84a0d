// vrn::Minimize with evaluation threads and vrn::MinimizeMany: the same results, logs
// and counts as one thread and as serial runs, in input order; exceptions reach the
// caller. Runs under ThreadSanitizer in CI (the names hold "Thread").
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/matrix/Matrix.h"
#include "minimize/MinimizationMethodBase.h"
#include "problems/ReferenceProblems.h"
#include "tool/Minimize.h"
#include "tool/MinimizeMany.h"

namespace {

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), sizeof(double) * a.size()) == 0;
}

void ExpectSameResult(const vrn::MinimizeResult& got, const vrn::MinimizeResult& want) {
    EXPECT_TRUE(SameBits(got.x, want.x));
    EXPECT_EQ(std::memcmp(&got.f, &want.f, sizeof(double)), 0);
    EXPECT_EQ(got.code, want.code);
    EXPECT_EQ(got.message, want.message);
    EXPECT_EQ(got.iterations, want.iterations);
    EXPECT_EQ(got.runs, want.runs);
    EXPECT_EQ(got.evaluations.f, want.evaluations.f);
    EXPECT_EQ(got.evaluations.gradient, want.evaluations.gradient);
    EXPECT_EQ(got.evaluations.hessian, want.evaluations.hessian);
    EXPECT_EQ(got.log, want.log);
}

// The reference problems as callables: pure functions of x, safe to call concurrently.
struct Callables {
    explicit Callables(const std::string& name) : problem(golden::MakeTestProblem(name)) {
        auto p = problem;
        f = [p](std::span<const double> x) { return p->fx(x.data()); };
        g = [p](std::span<const double> x, std::span<double> out) { p->grad(x.data(), out.data()); };
        h = [p](std::span<const double> x, std::span<double> out) { p->hess(x.data(), out.data()); };
    }
    std::shared_ptr<golden::TestProblem> problem;
    vrn::Objective f;
    vrn::GradientFunction g;
    vrn::HessianFunction h;
};

struct MinimizeCase {
    const char* problem;
    vrn::Driver driver;
    int method;
    bool gradient, hessian, expensive, checkGradient;
};

const MinimizeCase kCases[] = {
    {"extrosenbrock", vrn::Driver::Engine, 3, false, false, false, false},
    {"wood", vrn::Driver::Engine, 2, false, false, false, false},
    {"helical", vrn::Driver::Engine, 1, false, false, true, false},
    {"powell", vrn::Driver::Engine, 3, true, false, false, true},
    {"quadratic", vrn::Driver::Engine, 4, false, false, false, false},
    {"rosenbrock", vrn::Driver::Tool, 3, false, false, false, false},
    {"beale", vrn::Driver::Step, 1, true, false, false, false},
};

vrn::MinimizeResult RunCase(const MinimizeCase& c, int threads) {
    Callables k(c.problem);
    vrn::MinimizeOptions o;
    o.driver = c.driver;
    o.method = c.method;
    o.expensive = c.expensive;
    o.checkGradient = c.checkGradient;
    o.captureLog = true;
    if (c.method != 4)
        o.messageBits = 16;
    o.threads = threads;
    return vrn::Minimize(k.f, c.gradient ? k.g : vrn::GradientFunction(),
                         c.hessian ? k.h : vrn::HessianFunction(), k.problem->x0, o);
}

TEST(MinimizeThreads, EvaluationThreadsGiveTheOneThreadResult) {
    for (const MinimizeCase& c : kCases) {
        const vrn::MinimizeResult one = RunCase(c, 1);
        EXPECT_GT(one.evaluations.f, 0) << c.problem << ": " << one.message;
        for (int threads : {2, 4}) {
            SCOPED_TRACE(::testing::Message()
                         << c.problem << ", method " << c.method << ", " << threads << " threads");
            ExpectSameResult(RunCase(c, threads), one);
        }
    }
}

TEST(MinimizeThreads, ThreadCountsOutsideTheRangeAreRefused) {
    Callables k("rosenbrock");
    for (int threads : {0, -1, vrn::MaxEvaluationThreads() + 1, 100000}) {
        vrn::MinimizeOptions o;
        o.threads = threads;
        const vrn::MinimizeResult r = vrn::Minimize(k.f, k.problem->x0, o);
        EXPECT_EQ(r.code, 6);
        EXPECT_EQ(r.message, "threads must be 1 to " + std::to_string(vrn::MaxEvaluationThreads()) +
                                 " (4 per hardware thread, never more than 256) (got " +
                                 std::to_string(threads) + ")");
        EXPECT_EQ(r.evaluations.f, 0);
    }
}

// Start points around the reference start of a problem, all different.
std::vector<std::vector<double>> StartPoints(const golden::TestProblem& p, int count) {
    std::vector<std::vector<double>> x0s;
    for (int i = 0; i < count; ++i) {
        std::vector<double> x = p.x0;
        for (size_t j = 0; j < x.size(); ++j)
            x[j] += 0.05 * ((i * 7 + static_cast<int>(j) * 3) % 11 - 5);
        x0s.push_back(x);
    }
    return x0s;
}

struct BatchCase {
    const char* problem;
    int method;
    bool gradient;
    int runs;
    int threads;
};

const BatchCase kBatches[] = {
    {"rosenbrock", 3, false, 0, 2}, {"rosenbrock", 3, false, 1, 2}, {"rosenbrock", 3, false, 9, 1},
    {"rosenbrock", 1, true, 17, 2}, {"beale", 2, false, 12, 3},     {"wood", 3, true, 6, 8},
    {"quadratic", 4, true, 10, 2},  {"helical", 3, false, 5, 0},
};

TEST(MinimizeManyThread, CallablesGiveTheSerialResultsInInputOrder) {
    for (const BatchCase& b : kBatches) {
        SCOPED_TRACE(::testing::Message() << b.problem << ", method " << b.method << ", " << b.runs
                                          << " runs, " << b.threads << " threads");
        Callables k(b.problem);
        const auto x0s = StartPoints(*k.problem, b.runs);
        vrn::MinimizeOptions o;
        o.method = b.method;
        o.captureLog = true;
        const vrn::GradientFunction g = b.gradient ? k.g : vrn::GradientFunction();
        const std::vector<vrn::MinimizeResult> many = vrn::MinimizeMany(k.f, g, x0s, o, b.threads);
        ASSERT_EQ(many.size(), x0s.size());
        for (size_t i = 0; i < x0s.size(); ++i) {
            SCOPED_TRACE(::testing::Message() << "run " << i);
            ExpectSameResult(many[i], vrn::Minimize(k.f, g, x0s[i], o));
        }
    }
}

TEST(MinimizeManyThread, TheEvaluationThreadsOfTheOptionsChangeNothing) {
    Callables k("extrosenbrock");
    const auto x0s = StartPoints(*k.problem, 4);
    vrn::MinimizeOptions o;
    const auto plain = vrn::MinimizeMany(k.f, x0s, o, 2);
    o.threads = 3;
    const auto threaded = vrn::MinimizeMany(k.f, x0s, o, 2);
    ASSERT_EQ(plain.size(), threaded.size());
    for (size_t i = 0; i < plain.size(); ++i)
        ExpectSameResult(threaded[i], plain[i]);
}

// A reference problem as a problem object of its own (each run gets its own).
class ObjectProblem : public CVRNMinimizationMethodBase {
public:
    ObjectProblem(const std::string& name, const std::vector<double>& x0)
        : m_Problem(golden::MakeTestProblem(name)), m_Start(x0) {}
    int NumberOfParameters() override { return m_Problem->n; }
    void InitialParameters(double* const x0) override {
        for (size_t i = 0; i < m_Start.size(); ++i)
            x0[i] = m_Start[i];
    }
    double Fx(double* const x) override {
        ++calls; // one run per object: no other thread touches it
        return m_Problem->fx(x);
    }
    void Gradient(double* const x, double* const g) override { m_Problem->grad(x, g); }
    void Hessian(double* const x, CMatrix& h) override {
        const size_t n = static_cast<size_t>(m_Problem->n);
        std::vector<double> buffer(n * n, 0.0);
        m_Problem->hess(x, buffer.data());
        for (size_t i = 0; i < n; ++i)
            for (size_t j = 0; j < n; ++j)
                h[static_cast<int>(i)][j] = buffer[i * n + j];
    }
    long calls = 0;

private:
    std::unique_ptr<golden::TestProblem> m_Problem;
    std::vector<double> m_Start;
};

TEST(MinimizeManyThread, ProblemObjectsGiveTheSerialResultsInInputOrder) {
    struct ObjectCase {
        const char* problem;
        int method;
        bool gradient, hessian;
    };
    const ObjectCase cases[] = {
        {"rosenbrock", 3, true, true}, {"beale", 1, false, false}, {"wood", 2, true, false}};
    for (const ObjectCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.problem << ", method " << c.method);
        auto reference = golden::MakeTestProblem(c.problem);
        const auto x0s = StartPoints(*reference, 8);
        std::vector<std::unique_ptr<ObjectProblem>> serial, parallel;
        std::vector<CVRNMinimizationMethodBase*> serialPtrs, parallelPtrs;
        for (const auto& x0 : x0s) {
            serial.push_back(std::make_unique<ObjectProblem>(c.problem, x0));
            parallel.push_back(std::make_unique<ObjectProblem>(c.problem, x0));
            serialPtrs.push_back(serial.back().get());
            parallelPtrs.push_back(parallel.back().get());
        }
        vrn::MinimizeOptions o;
        o.method = c.method;
        o.captureLog = true;
        const auto one = vrn::MinimizeMany(serialPtrs, c.gradient, c.hessian, o, 1);
        const auto two = vrn::MinimizeMany(parallelPtrs, c.gradient, c.hessian, o, 2);
        ASSERT_EQ(one.size(), x0s.size());
        ASSERT_EQ(two.size(), x0s.size());
        for (size_t i = 0; i < x0s.size(); ++i) {
            SCOPED_TRACE(::testing::Message() << "run " << i);
            ExpectSameResult(two[i], one[i]);
            EXPECT_TRUE(one[i].Converged());
            // Problem objects get the same verdict and gradient as callables.
            EXPECT_TRUE(one[i].success) << one[i].Summary();
            EXPECT_EQ(one[i].gradient.size(), x0s[i].size());
            EXPECT_EQ(one[i].evaluations.f, serial[i]->calls);
            EXPECT_EQ(two[i].evaluations.f, parallel[i]->calls);
            EXPECT_FALSE(one[i].log.empty());
        }
    }
}

TEST(MinimizeManyThread, ProblemObjectRequestsThatCannotRunAreRefused) {
    ObjectProblem p("rosenbrock", {-1.2, 1.0});
    struct Refusal {
        std::vector<CVRNMinimizationMethodBase*> problems;
        int method;
        vrn::Driver driver;
        const char* message;
    };
    const Refusal refusals[] = {
        {{nullptr}, 3, vrn::Driver::Engine, "item 0: no problem object was given"},
        {{&p},
         5,
         vrn::Driver::Engine,
         "item 0: method must be 1, 2, 3 or 4 (or 'line-search', 'dogleg', 'hook', 'cg') (got 5)"},
        {{&p},
         4,
         vrn::Driver::Step,
         "item 0: method must have a step mode for the step driver (methods 1 to 3; the Polak-Ribiere "
         "conjugate gradient has none) (got 4)"},
    };
    for (const Refusal& r : refusals) {
        vrn::MinimizeOptions o;
        o.method = r.method;
        o.driver = r.driver;
        const auto results = vrn::MinimizeMany(r.problems, true, true, o, 2);
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].code, 6);
        EXPECT_EQ(results[0].message, r.message);
    }
    EXPECT_EQ(p.calls, 0);
}

TEST(MinimizeManyThread, AnExceptionInOneRunCostsOnlyThatRun) {
    Callables k("rosenbrock");
    const auto x0s = StartPoints(*k.problem, 20);
    // The objective fails at a point no other start point reaches first: the start of run 13.
    const std::vector<double> bad = x0s[13];
    const vrn::Objective f = [&](std::span<const double> x) {
        if (x[0] == bad[0] && x[1] == bad[1])
            throw std::runtime_error("objective failed");
        return k.problem->fx(x.data());
    };
    const auto serial = vrn::MinimizeMany(k.f, x0s, {}, 1);
    for (int threads : {1, 2, 3}) {
        vrn::BatchOptions batch;
        batch.threads = threads;
        std::atomic<int> done{0};
        batch.onItemDone = [&](size_t, const vrn::MinimizeResult&) { done.fetch_add(1); };
        const auto results =
            vrn::MinimizeMany(f, vrn::GradientFunction(), vrn::HessianFunction(), x0s, {}, batch);
        ASSERT_EQ(results.size(), x0s.size());
        EXPECT_EQ(done.load(), static_cast<int>(x0s.size()));
        for (size_t i = 0; i < x0s.size(); ++i) {
            if (x0s[i] == bad) { // run 13, and any other run with the same start
                EXPECT_FALSE(results[i].success);
                EXPECT_EQ(results[i].message, "item " + std::to_string(i) +
                                                  ": the objective raised an exception: objective failed");
            } else {
                ExpectSameResult(results[i], serial[i]);
            }
        }
        batch.rethrow = true;
        EXPECT_THROW(vrn::MinimizeMany(f, vrn::GradientFunction(), vrn::HessianFunction(), x0s, {}, batch),
                     std::runtime_error);
    }
}

TEST(MinimizeManyThread, CallbacksSeeEveryRun) {
    Callables k("rosenbrock");
    const auto x0s = StartPoints(*k.problem, 10);
    std::atomic<long> steps{0}, rows{0};
    vrn::MinimizeOptions o;
    o.onIteration = [&](int, std::span<const double>, double, std::span<const double>) {
        steps.fetch_add(1);
        return true;
    };
    o.onLogRow = [&](const std::string&) { rows.fetch_add(1); };
    const auto results = vrn::MinimizeMany(k.f, k.g, k.h, x0s, o, 2);
    long iterations = 0;
    for (const auto& r : results)
        iterations += r.iterations;
    EXPECT_GE(steps.load(), iterations - static_cast<long>(x0s.size()));
    EXPECT_LE(steps.load(), iterations);
    EXPECT_GT(rows.load(), 0);
}

} // namespace
