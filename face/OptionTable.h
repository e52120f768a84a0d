#pragma once

// The option table: every option of the faces once, with its type, range, default,
// the methods and drivers that use it, its spelling in each face and a one-line
// description. The program registers its switches and prints --help from it, the
// Python package checks its keywords against it, the run core validates with it and
// the report lists the settings from it.
//
// Adding an option: a field in MinimizeOptions, a row here (with its accessors), and
// the engine call in the run core that applies it.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "face/MinimizeOptions.h"

class CVRNUnconstrainedMinimization;

namespace vrn {

// Loss: a loss name (linear, soft_l1, ...); Differences: 2-point or 3-point; OnOff: a
// flag whose default is on (the program takes on or off).
enum class OptionType { Real, Integer, Flag, RealList, Method, Driver, Derivative, Loss, Differences, OnOff };

// The two kinds of request the faces make: a minimization of f, or a least-squares fit
// of residuals. Each has its section of the table; a row may be in both.
enum class ProblemKind { Minimize, LeastSquares };

// Which methods use an option, by what the method table says of them.
enum class OptionUse {
    AllMethods,
    TypicalSizes, // methods with typical sizes and step control (1 to 3)
    TrustRadius,  // methods with a trust radius (2, 3)
    Hessian,      // methods that keep a model Hessian (1 to 3)
    NoHessian     // methods without one (4)
};

// Drivers as bits.
constexpr unsigned kEngineDriver = 1u, kToolDriver = 2u, kStepDriver = 4u,
                   kAllDrivers = kEngineDriver | kToolDriver | kStepDriver;

// A value as the table moves it between faces: a number (integers and flags too), a
// list of numbers, or unset.
struct OptionValue {
    bool set = false;
    double number = 0.0;
    std::vector<double> list;
};

struct OptionRow {
    const char* name;      // the MinimizeOptions field, "gradientTolerance"
    const char* cliSwitch; // "--gradtol"
    const char* keyword;   // the Python keyword, "gtol"
    const char* label;     // for settings listings, "Gradient tolerance"
    OptionType type;
    // The range: lower < v (or <=), v < upper (or <=); infinite bounds mean none.
    double lower, upper;
    bool lowerIncluded, upperIncluded;
    // The default as a number; NaN when it is worked out for each run (defaultText says how).
    double byDefault;
    const char* defaultText; // nullptr: the number says it all
    OptionUse use;
    unsigned drivers;
    const char* description;
    // Access to the field.
    OptionValue (*get)(const MinimizeOptions&);
    void (*put)(MinimizeOptions&, const OptionValue&);
    // The value a finished run used, from the engine (nullptr: the option's own value).
    std::optional<double> (*used)(const CVRNUnconstrainedMinimization&);
};

// The rows of one kind of request.
std::span<const OptionRow> OptionTable(ProblemKind kind = ProblemKind::Minimize);
// The row of this option, by its name in the given naming; nullptr when unknown.
const OptionRow* FindOption(std::string_view name, OptionNaming naming = OptionNaming::Cpp,
                            ProblemKind kind = ProblemKind::Minimize);
// The option's name as the given face spells it.
std::string OptionName(const OptionRow& row, OptionNaming naming);
std::string OptionName(std::string_view cppName, OptionNaming naming,
                       ProblemKind kind = ProblemKind::Minimize);
// Whether a method / driver uses the option.
bool MethodUses(const OptionRow& row, const MethodInfo& method);
bool DriverUses(const OptionRow& row, Driver driver);
// The default as text, for help texts ("1e-10", "max(|x0_i|, 1)").
std::string DefaultText(const OptionRow& row);
// The allowed range as words ("greater than 0 and less than 1").
std::string RangeText(const OptionRow& row);
// A number as the shortest text that reads back as the same double.
std::string NumberText(double v);

// The most evaluation threads an option may ask for: 4 per hardware thread, never
// more than 256.
int MaxEvaluationThreads();

// What a run is asked to do, as far as validation needs to know.
struct RunShape {
    size_t n = 0;
    bool gradient = false; // an analytic gradient is given
    bool hessian = false;  // an analytic Hessian is given
    ProblemKind kind = ProblemKind::Minimize;
};

// A refused request: which option, which rule, what was given, and the sentence in
// the naming the check was asked for.
struct OptionRefusal {
    std::string option;     // the option's C++ name ("" for the start point itself)
    std::string constraint; // the rule in words, without the option's name
    std::string given;      // the value given, as text ("" when it says nothing)
    std::string text;       // one sentence, e.g. "--gradtol must be ... (got 5)"
};

// The first reason to refuse these options for this run; nothing when they are fine.
std::optional<OptionRefusal> CheckOptions(const MinimizeOptions& options, const RunShape& shape,
                                          OptionNaming naming);

// Sets an option from the text a user typed (the program's switches). A malformed
// value is refused like an out-of-range one.
std::optional<OptionRefusal> SetOptionFromText(MinimizeOptions& options, const OptionRow& row,
                                               const std::string& text, OptionNaming naming);

// The options a finished run used, as (label, value) pairs: only those the method and
// driver use, each as the number the engine ran with.
std::vector<std::pair<std::string, std::string>> UsedSettings(const MinimizeOptions& options,
                                                              const CVRNUnconstrainedMinimization& engine);

// The settings of a least-squares fit, as (label, value) pairs: every row of the fit's
// section, with its value or its default.
std::vector<std::pair<std::string, std::string>> FitSettings(const MinimizeOptions& options);

// The help text of one option: description, range, users and default.
std::string HelpText(const OptionRow& row);

} // namespace vrn
