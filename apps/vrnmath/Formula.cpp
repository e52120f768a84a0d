#include "apps/vrnmath/Formula.h"

#include <muParser.h>

#include <cctype>

#include "apps/vrnmath/Arguments.h"

namespace vrnmath {

namespace {

std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r')
            c = ' ';
    return s;
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

} // namespace

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
            throw UsageError("cannot use '" + names[i] + "' as a variable name: " + OneLine(e.GetMsg()));
        }
    }
    try {
        d.parser.SetExpr(expression);
        // muParser compiles the expression at its first evaluation.
        (void)d.parser.Eval();
    } catch (const mu::Parser::exception_type& e) {
        if (e.GetCode() == mu::ecUNASSIGNABLE_TOKEN && IsIdentifier(e.GetToken()))
            throw UsageError("unknown variable '" + e.GetToken() +
                             "' in formula (variables given by --x0: " + Joined(names) + ")");
        throw UsageError("cannot parse formula '" + OneLine(expression) + "': " + OneLine(e.GetMsg()));
    }
}

Formula::~Formula() = default;

double Formula::operator()(std::span<const double> x) {
    Impl& d = *m_pImpl;
    for (size_t i = 0; i < d.values.size() && i < x.size(); i++)
        d.values[i] = x[i];
    return d.parser.Eval();
}

} // namespace vrnmath
