// The method table.
#include "face/MethodTable.h"

#include <array>
#include <cctype>

namespace vrn {

namespace {

constexpr std::array<MethodInfo, 4> kMethods{{
    {Method::LineSearch,
     1,
     "line-search",
     "line search",
     {"linesearch", nullptr, nullptr},
     false,
     true,
     true,
     true,
     "lambda",
     "line-search factor \u03bb"},
    {Method::Dogleg,
     2,
     "dogleg",
     "double dogleg",
     {"double-dogleg", nullptr, nullptr},
     true,
     true,
     true,
     true,
     "radius",
     "trust radius"},
    {Method::Hook,
     3,
     "hook",
     "More-Hebden hook step",
     {"more-hebden", "hook-step", "lm"},
     true,
     true,
     true,
     true,
     "radius",
     "trust radius"},
    {Method::ConjugateGradient,
     4,
     "cg",
     "Polak-Ribiere conjugate gradient",
     {"conjugate-gradient", nullptr, nullptr},
     false,
     false,
     false,
     false,
     "line t",
     "line step"},
}};

std::string Normal(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c == ' ' || c == '\t')
            continue;
        out += c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

} // namespace

std::span<const MethodInfo> Methods() {
    return kMethods;
}

const MethodInfo* FindMethod(int number) {
    for (const MethodInfo& m : kMethods)
        if (m.number == number)
            return &m;
    return nullptr;
}

const MethodInfo* FindMethod(std::string_view name) {
    const std::string key = Normal(name);
    for (const MethodInfo& m : kMethods) {
        if (key == m.key || key == std::to_string(m.number))
            return &m;
        for (const char* alias : m.aliases)
            if (alias && key == alias)
                return &m;
    }
    return nullptr;
}

const char* MethodName(int method) {
    const MethodInfo* m = FindMethod(method);
    return m ? m->title : "unknown method";
}

std::string MethodKeys() {
    std::string s;
    for (const MethodInfo& m : kMethods)
        s += (s.empty() ? "'" : ", '") + std::string(m.key) + "'";
    return s;
}

} // namespace vrn
