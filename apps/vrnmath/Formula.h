#pragma once

// An objective typed on the command line, evaluated with muParser.

#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vrnmath {

// What a formula may use besides its variables, as text for --help: muParser's
// functions, constants and operators, a few lines of at most 100 characters.
std::string FormulaVocabulary();
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

} // namespace vrnmath
