#pragma once

// An objective typed on the command line, evaluated with muParser.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace vrnmath {

// What a formula may use besides its variables, as text for --help: muParser's
// functions, constants and operators, a few lines of at most 100 characters.
std::string FormulaVocabulary(const std::string& variables = "the variables named in --x0");
// The names of the functions and of the constants listed there.
std::vector<std::string> FormulaFunctionNames();
std::vector<std::string> FormulaConstantNames();

class Formula {
public:
    // Compiles expression over the named variables (in this order) and evaluates it
    // once at start. A syntax error, a name that is neither a variable nor one of
    // muParser's functions and constants ("unknown function 'foo'" when a '(' follows
    // it, else "unknown variable 'foo'"), an assignment ('=') anywhere in the
    // expression, or several comma-separated expressions throw UsageError. The
    // messages quote at most about 200 characters of the formula.
    Formula(const std::string& expression, const std::vector<std::string>& names,
            const std::vector<double>& start);
    ~Formula();
    Formula(const Formula&) = delete;
    Formula& operator=(const Formula&) = delete;

    // The value at x (x.size() == number of variables).
    double operator()(std::span<const double> x);

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

// A formula for concurrent evaluation: one compiled copy per thread, lent out for each
// evaluation (a compiled formula keeps its variables in itself, so one copy must not be
// evaluated by two threads at once).
class FormulaCopies {
public:
    FormulaCopies(const std::string& expression, const std::vector<std::string>& names,
                  const std::vector<double>& start, int copies);

    // A copy for the holder's use; it goes back when the lease ends.
    class Lease {
    public:
        Lease(FormulaCopies& set, Formula* copy) : m_Set(set), m_pCopy(copy) {}
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Formula& operator*() const { return *m_pCopy; }

    private:
        FormulaCopies& m_Set;
        Formula* m_pCopy;
    };
    // A free copy; waits while every copy is lent out.
    Lease Borrow();
    // The value at x, on a borrowed copy.
    double operator()(std::span<const double> x);

private:
    std::mutex m_Lock;
    std::condition_variable m_Returned;
    std::vector<std::unique_ptr<Formula>> m_All;
    std::vector<Formula*> m_Free;
};

} // namespace vrnmath
