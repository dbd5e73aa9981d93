#pragma once

// A disk that fills up after a few bytes, for tests of writers that must not
// report a half-written file as saved: while an object lives, no write of
// this process may carry a file beyond Limit bytes (the write comes up short
// or fails, as on a full disk).

#include <csignal>
#include <sys/resource.h>

namespace kelvora::test {

class TFullDisk {
public:
    explicit TFullDisk(rlim_t Limit)
    {
        getrlimit(RLIMIT_FSIZE, &FSaved);
        FSavedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit Lower = FSaved;
        Lower.rlim_cur = Limit;
        setrlimit(RLIMIT_FSIZE, &Lower);
    }
    ~TFullDisk()
    {
        setrlimit(RLIMIT_FSIZE, &FSaved);
        std::signal(SIGXFSZ, FSavedHandler);
    }
    TFullDisk(const TFullDisk&) = delete;
    TFullDisk& operator=(const TFullDisk&) = delete;

private:
    rlimit FSaved{};
    void (*FSavedHandler)(int) = nullptr;
};

} // namespace kelvora::test
