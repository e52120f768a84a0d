// The formula objective (apps/vrnmath/Formula): the names it accepts are muParser's own,
// and an unknown name is called a function or a variable by how it is used.
#include <gtest/gtest.h>

#include <muParser.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "apps/vrnmath/Arguments.h"
#include "apps/vrnmath/Formula.h"

namespace {

std::set<std::string> Keys(const auto& map) {
    std::set<std::string> keys;
    for (const auto& [name, value] : map)
        keys.insert(name);
    return keys;
}

TEST(FormulaVocabulary, ListsExactlyMuParsersFunctionsAndConstants) {
    const mu::Parser parser;
    const std::vector<std::string> functions = vrnmath::FormulaFunctionNames();
    const std::vector<std::string> constants = vrnmath::FormulaConstantNames();
    EXPECT_EQ(std::set<std::string>(functions.begin(), functions.end()), Keys(parser.GetFunDef()));
    EXPECT_EQ(std::set<std::string>(constants.begin(), constants.end()), Keys(parser.GetConst()));
    EXPECT_EQ(functions.size(), std::set<std::string>(functions.begin(), functions.end()).size());
}

// Every name is in the help text as a word of its own ("log" not only inside "log10").
TEST(FormulaVocabulary, TheTextNamesEveryFunctionConstantAndOperator) {
    const std::string text = vrnmath::FormulaVocabulary();
    auto isWordChar = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    auto hasWord = [&](const std::string& w) {
        for (size_t at = text.find(w); at != std::string::npos; at = text.find(w, at + 1)) {
            const bool before = at == 0 || !isWordChar(text[at - 1]);
            const bool after = at + w.size() == text.size() || !isWordChar(text[at + w.size()]);
            if (before && after)
                return true;
        }
        return false;
    };
    std::vector<std::string> names = vrnmath::FormulaFunctionNames();
    for (const std::string& c : vrnmath::FormulaConstantNames())
        names.push_back(c);
    for (const std::string& name : names)
        EXPECT_TRUE(hasWord(name)) << name;
    const mu::Parser parser;
    for (const mu::char_type** op = parser.GetOprtDef(); *op != nullptr; ++op) {
        const std::string o = *op;
        if (o == "=" || o == "(" || o == ")" || o == ":")
            continue; // assignment is refused; brackets and ':' go without saying (with '?')
        EXPECT_NE(text.find(o), std::string::npos) << o;
    }
    size_t line = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; line = end + 1, end = text.find('\n', line))
        EXPECT_LE(end - line, 100u) << text.substr(line, end - line);
}

// Each listed function compiles and evaluates with its number of arguments.
TEST(FormulaVocabulary, EveryListedFunctionIsAccepted) {
    const mu::Parser parser;
    for (const auto& [name, callback] : parser.GetFunDef()) {
        const int argc = callback.GetArgc();
        std::string call = name + "(x";
        for (int k = 1; k < std::max(argc, 2) && (argc < 0 || k < argc); k++)
            call += ", 0.5";
        call += ")";
        EXPECT_NO_THROW(vrnmath::Formula(call, {"x"}, {0.25})) << call;
    }
}

struct UnknownName {
    std::string formula;
    std::string message;
};

class FormulaUnknownName : public ::testing::TestWithParam<UnknownName> {};

TEST_P(FormulaUnknownName, IsCalledAFunctionWhenCalled) {
    const UnknownName& c = GetParam();
    try {
        vrnmath::Formula f(c.formula, {"x", "y"}, {1.0, 2.0});
        FAIL() << "accepted " << c.formula;
    } catch (const vrnmath::UsageError& e) {
        EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Names, FormulaUnknownName,
                         ::testing::Values(UnknownName{"foo(x)", "unknown function 'foo'"},
                                           UnknownName{"x + foo (y, 2)", "unknown function 'foo'"},
                                           UnknownName{"fmod(x, 2)", "unknown function 'fmod'"},
                                           UnknownName{"foo(x)", "functions: sin, cos"},
                                           UnknownName{"x * foo", "unknown variable 'foo'"},
                                           UnknownName{"foo + sin(x)", "unknown variable 'foo'"},
                                           UnknownName{"z", "variables given by --x0: x, y"},
                                           UnknownName{"sin(x) + cos(y) * z2", "unknown variable 'z2'"}));

} // namespace
