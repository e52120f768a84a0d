#pragma once

// Runs the built vrnmath program with arguments and keeps its exit status and output.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace program {

struct Run {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string Quoted(const std::string& arg) {
    std::string q = "'";
    for (char c : arg)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Whether the program was built (the tests skip otherwise).
inline bool Built() {
#ifdef VRNMATH_EXE
    return true;
#else
    return false;
#endif
}

inline Run Start(const std::vector<std::string>& args) {
    Run o;
#ifdef VRNMATH_EXE
    const std::string base = ::testing::TempDir() + "vrnmath_run_" + std::to_string(getpid());
    std::string cmd = Quoted(VRNMATH_EXE);
    for (const std::string& a : args)
        cmd += ' ' + Quoted(a);
    cmd += " >" + Quoted(base + ".out") + " 2>" + Quoted(base + ".err") + " </dev/null";
    const int raw = std::system(cmd.c_str());
    o.status = (raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
    o.out = Slurp(base + ".out");
    o.err = Slurp(base + ".err");
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
#else
    (void)args;
#endif
    return o;
}

} // namespace program
