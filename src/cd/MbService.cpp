#include "cd/MbService.h"

#include "Version.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <thread>

namespace cd {

namespace {

using Clock = std::chrono::steady_clock;

bool Raised(const std::atomic<bool>* flag) {
    return flag != nullptr && flag->load();
}

// Sleeps until `until`, looking at the flag every few milliseconds; false when it went up.
bool SleepUntil(Clock::time_point until, const std::atomic<bool>* cancel) {
    while (Clock::now() < until) {
        if (Raised(cancel)) {
            return false;
        }
        std::this_thread::sleep_for(
            std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(5)));
    }
    return !Raised(cancel);
}

// The next free moment of each host, shared by every lookup of the process.
class HostPacer {
public:
    static HostPacer& Instance() {
        static HostPacer pacer;
        return pacer;
    }
    // Reserves the host's next slot and waits for it; false when cancelled.
    bool Wait(const std::string& host, std::chrono::milliseconds interval,
              const std::atomic<bool>* cancel) {
        Clock::time_point slot;
        {
            std::lock_guard lock(mutex_);
            const auto now = Clock::now();
            auto [it, fresh] = next_.try_emplace(host, now);
            slot = fresh ? now : std::max(now, it->second);
            it->second = slot + interval;
        }
        return SleepUntil(slot, cancel);
    }

private:
    std::mutex mutex_;
    std::map<std::string, Clock::time_point> next_;
};

std::string TrimSlash(std::string server) {
    while (!server.empty() && server.back() == '/') {
        server.pop_back();
    }
    return server;
}

std::string FailureText(const platform::HttpReply& reply) {
    switch (reply.outcome) {
    case platform::HttpOutcome::TimedOut:
        return "the server did not answer in time";
    case platform::HttpOutcome::TooLarge:
        return "the answer was too large";
    case platform::HttpOutcome::TooManyRedirects:
        return "too many redirections";
    case platform::HttpOutcome::Failed:
        return "the server could not be reached (" + reply.error + ")";
    default:
        return "HTTP status " + std::to_string(reply.status);
    }
}

} // namespace

std::string MbService::UserAgent(const std::string& contact) {
    const std::string who = contact.empty() ? "https://vellorine.org" : contact;
    return std::string("Vellorine/") + vellorine::kVersion + " ( " + who + " )";
}

std::string MbService::DiscIdUrl(const std::string& server, const std::string& discId,
                                 const std::string& toc) {
    std::string url = TrimSlash(server) + "/ws/2/discid/" + platform::UrlEscape(discId) +
                      "?inc=recordings+artist-credits+release-groups+labels&fmt=json";
    if (!toc.empty()) {
        url += "&toc=" + toc; // digits and "+" only
    }
    return url;
}

std::string MbService::FrontCoverUrl(const std::string& server, const std::string& releaseId) {
    return TrimSlash(server) + "/release/" + platform::UrlEscape(releaseId) + "/front-500";
}

std::string MbService::HostOf(const std::string& url) {
    const auto scheme = url.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const auto end = url.find_first_of("/?#", start);
    std::string host = url.substr(0, end == std::string::npos ? url.size() : end);
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return host;
}

std::chrono::milliseconds MbService::RetryPause(const std::string& retryAfter,
                                                std::chrono::milliseconds fallback,
                                                std::chrono::milliseconds limit) {
    std::size_t i = 0;
    while (i < retryAfter.size() && retryAfter[i] == ' ') {
        ++i;
    }
    long long seconds = 0;
    std::size_t digits = 0;
    for (; i < retryAfter.size() && std::isdigit(static_cast<unsigned char>(retryAfter[i]));
         ++i, ++digits) {
        seconds = std::min<long long>(seconds * 10 + (retryAfter[i] - '0'), 1000000);
    }
    while (i < retryAfter.size() && retryAfter[i] == ' ') {
        ++i;
    }
    if (digits == 0 || i != retryAfter.size()) {
        return std::min(fallback, limit);
    }
    return std::min(std::chrono::milliseconds(seconds * 1000), limit);
}

MbFetch MbService::Get(const std::string& url, const MbServiceOptions& options) {
    platform::HttpRequest request;
    request.url = url;
    request.timeout = options.timeout;
    request.connectTimeout = std::min(options.timeout, request.connectTimeout);
    request.maxBytes = options.maxBytes;
    request.proxy = options.proxy;
    request.userAgent = UserAgent(options.contact);
    request.cancel = options.cancel;
    const std::string host = HostOf(url);
    MbFetch fetch;
    for (int attempt = 0;; ++attempt) {
        if (!HostPacer::Instance().Wait(host, options.interval, options.cancel)) {
            fetch.kind = MbFetch::Kind::Cancelled;
            return fetch;
        }
        const platform::HttpReply reply = platform::HttpClient::Get(request);
        ++fetch.requests;
        fetch.status = reply.status;
        if (reply.outcome == platform::HttpOutcome::Cancelled) {
            fetch.kind = MbFetch::Kind::Cancelled;
            return fetch;
        }
        const bool busy = reply.outcome == platform::HttpOutcome::Ok &&
                          (reply.status == 503 || reply.status == 429);
        if (busy && attempt < options.retries) {
            const auto pause =
                RetryPause(reply.retryAfter, options.retryPause, options.maxRetryPause);
            if (!SleepUntil(Clock::now() + pause, options.cancel)) {
                fetch.kind = MbFetch::Kind::Cancelled;
                return fetch;
            }
            continue;
        }
        if (reply.outcome == platform::HttpOutcome::Ok && reply.status == 200) {
            fetch.kind = MbFetch::Kind::Found;
            fetch.body = reply.body;
            fetch.contentType = reply.contentType;
        } else if (reply.outcome == platform::HttpOutcome::Ok && reply.status == 404) {
            fetch.kind = MbFetch::Kind::NotFound;
        } else {
            fetch.kind = MbFetch::Kind::Failed;
            fetch.error = busy ? "the server is busy (HTTP " + std::to_string(reply.status) + ")"
                               : FailureText(reply);
        }
        return fetch;
    }
}

} // namespace cd
