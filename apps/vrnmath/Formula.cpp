#include "apps/vrnmath/Formula.h"

#include <muParser.h>

#include <algorithm>
#include <cctype>
#include <iterator>

#include "apps/vrnmath/Arguments.h"

namespace vrnmath {

namespace {

std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r')
            c = ' ';
    return s;
}

// Echoed user text is cut to this many bytes, so that a long formula still
// gives a readable one-line message.
constexpr std::size_t kEchoLimit = 200;

// s on one line, cut after about kEchoLimit bytes (never inside a UTF-8
// sequence) with a note of the full length.
std::string Echo(const std::string& s) {
    if (s.size() <= kEchoLimit)
        return OneLine(s);
    std::size_t cut = kEchoLimit;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80)
        --cut;
    return OneLine(s.substr(0, cut)) + "... (" + std::to_string(s.size()) + " characters)";
}

// Whether the compiled expression holds muParser's assignment operator '='
// anywhere (also in a branch that the start point does not take).
bool AssignsToAVariable(const mu::Parser& parser) {
    const mu::ParserByteCode& code = parser.GetByteCode();
    const mu::SToken* token = code.GetBase();
    for (std::size_t i = 0; token != nullptr && i < code.GetSize(); i++)
        if (token[i].Cmd == mu::cmASSIGN)
            return true;
    return false;
}

bool IsIdentifier(const std::string& s) {
    if (s.empty())
        return false;
    for (const char ch : s) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (!(std::isalnum(c) || c == '_'))
            return false;
    }
    return !std::isdigit(static_cast<unsigned char>(s[0]));
}

std::string Joined(const std::vector<std::string>& names) {
    std::string s;
    for (const std::string& n : names)
        s += (s.empty() ? "" : ", ") + n;
    return s;
}

// muParser's built-in functions and constants (those of mu::Parser; tests compare the lists).
const char* const kFunctions[] = {"sin",   "cos",   "tan",   "asin",  "acos", "atan", "sinh", "cosh",  "tanh",
                                  "asinh", "acosh", "atanh", "atan2", "exp",  "ln",   "log",  "log10", "log2",
                                  "sqrt",  "abs",   "sign",  "rint",  "min",  "max",  "sum",  "avg"};
const char* const kConstants[] = {"_pi", "_e"};

// Whether the name at position pos of the expression is followed by '(' (a call).
bool IsCall(const std::string& expression, const std::string& name, int pos) {
    if (pos < 0 || static_cast<std::size_t>(pos) + name.size() > expression.size() ||
        expression.compare(static_cast<std::size_t>(pos), name.size(), name) != 0)
        return false;
    std::size_t i = static_cast<std::size_t>(pos) + name.size();
    while (i < expression.size() && std::isspace(static_cast<unsigned char>(expression[i])))
        ++i;
    return i < expression.size() && expression[i] == '(';
}

} // namespace

std::vector<std::string> FormulaFunctionNames() {
    return {std::begin(kFunctions), std::end(kFunctions)};
}

std::vector<std::string> FormulaConstantNames() {
    return {std::begin(kConstants), std::end(kConstants)};
}

std::string FormulaVocabulary(const std::string& variables) {
    return "Formulas (muParser) use " + variables +
           ", numbers such as 1.5e-3, and:\n"
           "  functions  sin cos tan asin acos atan (radians), sinh cosh tanh asinh acosh atanh,\n"
           "             atan2(y, x), exp, ln and log (natural logarithm), log10, log2, sqrt, abs,\n"
           "             sign, rint (nearest integer); min max sum avg of one or more arguments\n"
           "  constants  _pi (3.14159...), _e (2.71828...)\n"
           "  operators  + - * / ^ (power), < <= > >= == != (1 or 0), && ||, cond ? a : b\n";
}

struct Formula::Impl {
    mu::Parser parser;
    // Sized once: muParser keeps the addresses of the variables.
    std::vector<double> values;
};

Formula::Formula(const std::string& expression, const std::vector<std::string>& names,
                 const std::vector<double>& start)
    : m_pImpl(std::make_unique<Impl>()) {
    Impl& d = *m_pImpl;
    d.values = start;
    d.values.resize(names.size(), 0.0);
    for (size_t i = 0; i < names.size(); i++) {
        try {
            d.parser.DefineVar(names[i], &d.values[i]);
        } catch (const mu::Parser::exception_type& e) {
            throw UsageError("cannot use '" + Echo(names[i]) + "' as a variable name: " + Echo(e.GetMsg()));
        }
    }
    try {
        d.parser.SetExpr(expression);
        // muParser compiles the expression at its first evaluation.
        (void)d.parser.Eval();
    } catch (const mu::Parser::exception_type& e) {
        if (e.GetCode() == mu::ecUNASSIGNABLE_TOKEN && IsIdentifier(e.GetToken())) {
            if (IsCall(expression, e.GetToken(), e.GetPos()))
                throw UsageError("unknown function '" + Echo(e.GetToken()) +
                                 "' in formula (functions: " + Joined(FormulaFunctionNames()) + ")");
            throw UsageError("unknown variable '" + Echo(e.GetToken()) +
                             "' in formula (variables given by --x0: " + Echo(Joined(names)) + ")");
        }
        throw UsageError("cannot parse formula '" + Echo(expression) + "': " + Echo(e.GetMsg()));
    }
    // muParser's '=' stores into a variable: "x=2" would be minimized as the
    // constant 2 while overwriting the point the engine just set.
    if (AssignsToAVariable(d.parser))
        throw UsageError("formula '" + Echo(expression) +
                         "' assigns to a variable: '=' is not allowed (compare with '==')");
    // Comma-separated expressions all get evaluated but only the last value
    // would be minimized.
    if (d.parser.GetNumResults() != 1)
        throw UsageError("formula '" + Echo(expression) + "' gives " +
                         std::to_string(d.parser.GetNumResults()) +
                         " values separated by ','; give a single expression");
}

Formula::~Formula() = default;

double Formula::operator()(std::span<const double> x) {
    Impl& d = *m_pImpl;
    for (size_t i = 0; i < d.values.size() && i < x.size(); i++)
        d.values[i] = x[i];
    return d.parser.Eval();
}

FormulaCopies::FormulaCopies(const std::string& expression, const std::vector<std::string>& names,
                             const std::vector<double>& start, int copies) {
    for (int i = 0; i < std::max(copies, 1); i++) {
        m_All.push_back(std::make_unique<Formula>(expression, names, start));
        m_Free.push_back(m_All.back().get());
    }
}

FormulaCopies::Lease FormulaCopies::Borrow() {
    std::unique_lock<std::mutex> lock(m_Lock);
    m_Returned.wait(lock, [this] { return !m_Free.empty(); });
    Formula* copy = m_Free.back();
    m_Free.pop_back();
    return Lease(*this, copy);
}

FormulaCopies::Lease::~Lease() {
    {
        std::lock_guard<std::mutex> lock(m_Set.m_Lock);
        m_Set.m_Free.push_back(m_pCopy);
    }
    m_Set.m_Returned.notify_one();
}

double FormulaCopies::operator()(std::span<const double> x) {
    const Lease lease = Borrow();
    return (*lease)(x);
}

} // namespace vrnmath
