// Runs the qxtool binary as a user does, capturing its exit status, standard output and error; or starts
// it for a test that acts on it while it runs.
#pragma once

#include "support/TempFiles.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

struct RunResult {
    int status = -1; // exit status; -1 when it did not exit by itself
    int signal = 0;  // the signal that ended it, if one did
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

// qxtool started without a shell, for a test that acts on it while it runs: its process id, its standard
// output on a pipe the test reads or closes, its standard error kept in a file.
class CRunningTool {
public:
    // beforeExec runs in the child between fork and exec (setrlimit, close and the like: only calls that
    // are safe after a fork).
    explicit CRunningTool(const std::vector<std::string>& args, const std::function<void()>& beforeExec = {})
        : errFile(dir.File("stderr")) {
        std::vector<std::string> all = {QXTOOL_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        const int errFd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            dup2(errFd, 2);
            if (beforeExec) beforeExec();
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        close(errFd);
        outFd = fds[0];
    }
    ~CRunningTool() {
        CloseOutput();
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    CRunningTool(const CRunningTool&) = delete;
    CRunningTool& operator=(const CRunningTool&) = delete;

    pid_t Pid() const { return pid; }

    // Reads standard output until `until` holds for what came so far; false when the output ended first.
    bool ReadUntil(const std::function<bool(const std::string&)>& until) {
        while (!until(out))
            if (!ReadSome()) return false;
        return true;
    }

    // The reading end of the output goes: the tool's next write meets a pipe without a reader.
    void CloseOutput() {
        if (outFd >= 0) close(outFd);
        outFd = -1;
    }

    // Reads the rest of the output (unless it was closed) and waits for the tool to end.
    RunResult Wait() {
        while (ReadSome()) {
        }
        RunResult r;
        int st = 0;
        if (pid > 0 && waitpid(pid, &st, 0) == pid) {
            pid = -1;
            r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            r.signal = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
        }
        r.out = out;
        const auto e = ReadFile(errFile);
        r.err.assign(e.begin(), e.end());
        return r;
    }

    std::string out;

private:
    bool ReadSome() {
        if (outFd < 0) return false;
        char buf[4096];
        ssize_t n;
        do n = read(outFd, buf, sizeof buf);
        while (n < 0 && errno == EINTR);
        if (n <= 0) return false;
        out.append(buf, size_t(n));
        return true;
    }

    TempDir dir;
    std::string errFile;
    pid_t pid = -1;
    int outFd = -1;
};
