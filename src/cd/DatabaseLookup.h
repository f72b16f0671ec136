#pragma once
// Fetches one file of an online checksum database (AccurateRip, CTDB) over the program's
// HTTP client on a worker thread of its own, so a slow or dead server never holds up the
// rip.
//
// Threads: the constructor starts the worker; `done` runs once on the worker thread with
// the outcome (it must lock whatever it touches). The destructor cancels a transfer in
// progress (the client looks at the flag every few milliseconds) and waits for the
// worker, so `done` never runs after it.
#include "platform/HttpClient.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace cd {

// How a lookup reaches its server: the limits of the transfer and the user's proxy.
struct LookupOptions {
    std::chrono::milliseconds timeout = std::chrono::seconds(20);
    platform::HttpProxy proxy;
};

class DatabaseLookup {
public:
    // Database files are a few kilobytes; anything far larger is not one.
    static constexpr std::size_t MaxBodyBytes = 4 << 20;

    struct Result {
        enum class Kind { Found, NotFound, Failed };
        Kind kind = Kind::Failed;
        std::vector<std::uint8_t> body; // Found: the file
        std::string text;               // Found: the file as UTF-8 text (its charset decoded)
        std::string error;              // Failed: why, for the log
    };
    using Done = std::function<void(const Result&)>;

    DatabaseLookup(std::string url, Done done, LookupOptions options = {});
    ~DatabaseLookup();
    DatabaseLookup(const DatabaseLookup&) = delete;
    DatabaseLookup& operator=(const DatabaseLookup&) = delete;

    // One blocking fetch; what the worker runs.
    static Result Fetch(const std::string& url, const LookupOptions& options,
                        const std::atomic<bool>* cancel = nullptr);

private:
    std::atomic<bool> cancel_{false};
    std::thread worker_;
};

} // namespace cd
