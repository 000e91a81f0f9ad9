// Runs the qxtool binary as a user does, capturing its exit status, standard output and error.
#pragma once

#include "support/TempFiles.h"

#include <cstdio>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

struct RunResult {
    int status = -1;
    std::string out, err;
};

inline RunResult RunQxtool(const std::string& args) {
    TempDir dir;
    const std::string errFile = dir.File("stderr");
    const std::string cmd = std::string(QXTOOL_PATH) + " " + args + " 2>" + errFile;
    RunResult r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    const auto e = ReadFile(errFile);
    r.err.assign(e.begin(), e.end());
    return r;
}

// The lines of an output, or the cells of a line.
inline std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> v;
    std::string cur;
    std::istringstream in(s);
    while (std::getline(in, cur, sep)) v.push_back(cur);
    return v;
}
