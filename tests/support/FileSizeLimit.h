// A disk that fills up, for writers that go through stdio: while a CFileSizeLimit lives, no file of the
// process (nor of a program it starts) grows past `bytes`; a write beyond fails as on a full disk, with
// EFBIG ("File too large") in place of ENOSPC.
#pragma once

#include <csignal>
#include <cstdint>

#include <sys/resource.h>

class CFileSizeLimit {
public:
    explicit CFileSizeLimit(uint64_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old);
        // The signal would end the process; ignored, the write returns the error instead.
        oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old;
        limit.rlim_cur = rlim_t(bytes);
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~CFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
    }
    CFileSizeLimit(const CFileSizeLimit&) = delete;
    CFileSizeLimit& operator=(const CFileSizeLimit&) = delete;

private:
    rlimit old{};
    void (*oldHandler)(int) = SIG_DFL;
};
