#pragma once

// The four methods, once: their numbers, names, the spellings the faces accept and
// what each one uses. The faces ask this table instead of testing method numbers.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vrn {

// The engine's methods; MinimizeOptions::method holds their numbers.
enum class Method : int { LineSearch = 1, Dogleg = 2, Hook = 3, ConjugateGradient = 4 };

// The method the faces run when none is asked for (chosen by measurement, see
// docs/performance.md).
constexpr int kDefaultMethod = 2;

struct MethodInfo {
    Method method;
    int number;              // the engine's method number
    const char* key;         // the main spelling: "line-search", "dogleg", "hook", "cg"
    const char* title;       // "More-Hebden hook step"
    const char* aliases[3];  // further spellings the faces accept (nullptr ends the list)
    bool usesTrustRadius;    // an initial trust radius (double dogleg, hook step)
    bool usesTypicalSizes;   // typical sizes of x, the step tolerance and maximum step
    bool usesHessian;        // keeps a model Hessian (analytic, differences or secant)
    bool hasStepMode;        // can be run one iteration per call
    const char* radiusLabel; // what the progress table's radius column holds
    const char* radiusTitle; // the same in words, for reports
};

// All methods in number order.
std::span<const MethodInfo> Methods();
// The method with this engine number; nullptr when there is none.
const MethodInfo* FindMethod(int number);
// The method with this name or alias (case and '_' / '-' insensitive) or number text.
const MethodInfo* FindMethod(std::string_view name);
// "line search", ... ("unknown method" for a number without a method).
const char* MethodName(int method);
// "'line-search', 'dogleg', 'hook', 'cg'" (for messages listing the choices).
std::string MethodKeys();

} // namespace vrn
