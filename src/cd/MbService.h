#pragma once
// The MusicBrainz web service and the Cover Art Archive as the program asks them: one GET
// through the program's HTTP client, paced and retried as the services ask of clients.
//
// Contract:
// - Requests to one host leave at least `interval` apart, process-wide (every lookup
//   shares one clock per host), the first at once.
// - A 503 or 429 answer is asked again after the pause its Retry-After names (seconds),
//   else after `retryPause`, at most `retries` times; then the lookup has failed.
// - Get blocks the calling thread (any thread). The cancel flag, when given, is looked at
//   while waiting and during the transfer: Get returns Cancelled within ~10 ms of it.
// - No Qt, no program settings: the caller fills the options from its own.
#include "platform/HttpClient.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

namespace cd {

struct MbServiceOptions {
    std::string contact; // the user agent's contact, e.g. an e-mail address
    platform::HttpProxy proxy;
    std::chrono::milliseconds timeout{20000};
    std::chrono::milliseconds interval{1000}; // between two requests to one host
    int retries = 3;
    std::chrono::milliseconds retryPause{1000}; // when the answer names none
    std::chrono::milliseconds maxRetryPause{30000};
    std::size_t maxBytes = std::size_t{4} << 20;
    const std::atomic<bool>* cancel = nullptr;
};

struct MbFetch {
    enum class Kind { Found, NotFound, Failed, Cancelled };
    Kind kind = Kind::Failed;
    long status = 0;
    std::string body;
    std::string contentType;
    std::string error; // Failed: why, in words for the user
    int requests = 0;  // how many were sent
};

class MbService {
public:
    static constexpr const char* DefaultServer = "https://musicbrainz.org";
    static constexpr const char* DefaultCoverServer = "https://coverartarchive.org";

    static MbFetch Get(const std::string& url, const MbServiceOptions& options);

    // "Vellorine/<version> ( <contact> )"; without a contact the project's page.
    static std::string UserAgent(const std::string& contact);
    // The disc id lookup; with a toc, the service falls back to a fuzzy TOC match.
    static std::string DiscIdUrl(const std::string& server, const std::string& discId,
                                 const std::string& toc);
    // The front image of a release, 500 pixels wide.
    static std::string FrontCoverUrl(const std::string& server, const std::string& releaseId);
    // "scheme://host[:port]" of a URL, lower case; what pacing counts by.
    static std::string HostOf(const std::string& url);
    // A Retry-After value in seconds as a pause (at most `limit`); `fallback` for
    // anything else (a date, garbage, nothing).
    static std::chrono::milliseconds RetryPause(const std::string& retryAfter,
                                                std::chrono::milliseconds fallback,
                                                std::chrono::milliseconds limit);
};

} // namespace cd
