#pragma once
// Fetches one AccurateRip database file over HTTP (libcurl) on a worker thread of its
// own, so a slow or dead server never holds up the rip.
//
// Threads: the constructor starts the worker; `done` runs once on the worker thread with
// the outcome (it must lock whatever it touches). The destructor cancels a transfer in
// progress (libcurl looks at the flag at least once a second) and waits for the worker, so `done`
// never runs after it.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace cd {

class AccurateRipLookup {
public:
    struct Result {
        enum class Kind { Found, NotFound, Failed };
        Kind kind = Kind::Failed;
        std::vector<std::uint8_t> body; // Found: the file
        std::string error;              // Failed: why, for the log
    };
    using Done = std::function<void(const Result&)>;

    AccurateRipLookup(std::string url, Done done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20));
    ~AccurateRipLookup();
    AccurateRipLookup(const AccurateRipLookup&) = delete;
    AccurateRipLookup& operator=(const AccurateRipLookup&) = delete;

    // One blocking fetch; what the worker runs.
    static Result Fetch(const std::string& url, std::chrono::milliseconds timeout,
                        const std::atomic<bool>* cancel = nullptr);

private:
    std::atomic<bool> cancel_{false};
    std::thread worker_;
};

} // namespace cd
