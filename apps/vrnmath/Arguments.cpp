#include "apps/vrnmath/Arguments.h"

#include <CLI/CLI.hpp>
#include <cstdio>

#include "face/OptionTable.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include <unistd.h>

namespace vrnmath {

namespace {

std::string Trim(const std::string& s) {
    const char* blanks = " \t\r\n";
    const size_t first = s.find_first_not_of(blanks);
    if (first == std::string::npos)
        return "";
    const size_t last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        parts.push_back(
            Trim(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return parts;
}

[[noreturn]] void Malformed(const std::string& what, const std::string& text, const std::string& option) {
    throw UsageError("malformed " + what + " '" + text + "' for " + option);
}

bool IsName(const std::string& s) {
    if (s.empty())
        return false;
    const unsigned char c0 = static_cast<unsigned char>(s[0]);
    if (!(std::isalpha(c0) || c0 == '_'))
        return false;
    for (const char ch : s) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (!(std::isalnum(c) || c == '_'))
            return false;
    }
    return true;
}

} // namespace

double ParseNumber(const std::string& text, const std::string& option) {
    const std::string t = Trim(text);
    if (t.empty())
        Malformed("number", text, option);
    // strtod also reads "nan", "inf" and hexadecimal forms; only finite values are numbers here.
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(t.c_str(), &end);
    if (end != t.c_str() + t.size() || !std::isfinite(v))
        Malformed("number", text, option);
    return v;
}

int ParseInteger(const std::string& text, const std::string& option) {
    const std::string t = Trim(text);
    if (t.empty())
        Malformed("whole number", text, option);
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(t.c_str(), &end, 10);
    if (end != t.c_str() + t.size() || errno == ERANGE || v < INT_MIN || v > INT_MAX)
        Malformed("whole number", text, option);
    return static_cast<int>(v);
}

std::vector<double> ParseNumberList(const std::string& text, const std::string& option) {
    std::vector<double> values;
    for (const std::string& part : SplitCommas(text))
        values.push_back(ParseNumber(part, option));
    return values;
}

StartPoint ParseStartPoint(const std::string& text, const std::string& option) {
    StartPoint start;
    const std::vector<std::string> parts = SplitCommas(text);
    const bool named = text.find('=') != std::string::npos;
    for (const std::string& part : parts) {
        if (!named) {
            start.values.push_back(ParseNumber(part, option));
            continue;
        }
        const size_t eq = part.find('=');
        if (eq == std::string::npos)
            throw UsageError("malformed start '" + part + "' for " + option + ": expected name=value");
        const std::string name = Trim(part.substr(0, eq));
        if (!IsName(name))
            throw UsageError("malformed variable name '" + name + "' for " + option +
                             ": use letters, digits and '_', starting with a letter or '_'");
        for (const std::string& known : start.names)
            if (known == name)
                throw UsageError("variable '" + name + "' is given twice in " + option);
        start.names.push_back(name);
        start.values.push_back(ParseNumber(part.substr(eq + 1), option));
    }
    return start;
}

std::string OutputProblem(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path p(path);
    if (fs::is_directory(p, ec))
        return "it is a directory";
    const fs::path parent = p.has_parent_path() ? p.parent_path() : fs::path(".");
    if (!fs::exists(parent, ec))
        return "its folder " + parent.string() + " does not exist";
    if (!fs::is_directory(parent, ec))
        return parent.string() + " is not a folder";
    if (fs::exists(p, ec) ? access(path.c_str(), W_OK) != 0 : access(parent.c_str(), W_OK) != 0)
        return "permission denied";
    return "";
}

void AddTableOption(CLI::App& command, const vrn::OptionRow& row, const std::string& help,
                    std::map<std::string, std::string>& values) {
    const std::string name = row.name;
    if (row.type == vrn::OptionType::Flag) {
        command.add_flag_callback(
            row.cliSwitch, [&values, name] { values[name] = "1"; }, help);
        return;
    }
    command
        .add_option_function<std::string>(
            row.cliSwitch, [&values, name](const std::string& v) { values[name] = v; }, help)
        ->type_name(row.type == vrn::OptionType::RealList      ? "LIST"
                    : row.type == vrn::OptionType::Integer     ? "N"
                    : row.type == vrn::OptionType::Method      ? "METHOD"
                    : row.type == vrn::OptionType::Driver      ? "NAME"
                    : row.type == vrn::OptionType::Loss        ? "LOSS"
                    : row.type == vrn::OptionType::Differences ? "KIND"
                    : row.type == vrn::OptionType::OnOff       ? "on|off"
                                                               : "X");
}

int FinishCommand(const std::vector<std::string>& outputErrors, const char* command, bool success) {
    for (const std::string& e : outputErrors)
        std::fprintf(stderr, "vrnmath %s: %s\n", command, e.c_str());
    if (!outputErrors.empty())
        return kExitOutputFailed;
    return success ? kExitSuccess : kExitNoSuccess;
}

} // namespace vrnmath
