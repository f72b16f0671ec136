#pragma once
// The one HTTP client of the program: a GET over libcurl for every lookup (CDDB,
// AccurateRip, CTDB, ...), with the same limits and the same proxy rule everywhere.
//
// Contract:
// - Get blocks the calling thread (any thread) until the reply is complete, the
//   transfer has failed or timed out, or the cancel flag is up. libcurl is initialised
//   once per process, on the first Get.
// - The cancel flag belongs to the caller and must outlive the call; any thread may raise
//   it. The transfer looks at it at least every PollMs, so Get returns Cancelled within
//   about that much of the flag going up, even while the server is silent.
// - The proxy is what the request says: with `proxy.use` off the connection is always
//   direct, whatever http_proxy, HTTPS_PROXY or no_proxy the environment holds; with it
//   on, every request goes through that proxy.
// - At most `maxRedirects` redirects are followed, to http or https only. A body longer
//   than `maxBytes` ends the transfer: the reply is TooLarge and keeps the first
//   `maxBytes` bytes.
// - Text() decodes the body to UTF-8 by the reply's declared charset (ISO-8859-1,
//   US-ASCII, windows-1252, UTF-8); with none or another one, valid UTF-8 stays as it is
//   and anything else is taken as ISO-8859-1.
// - No Qt, no program settings: the caller fills the request from its own.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

namespace platform {

struct HttpProxy {
    bool use = false;
    std::string host; // name or address, or a URL "http://host:port"
    int port = 80;    // used when `host` names none
};

struct HttpRequest {
    std::string url;
    std::chrono::milliseconds timeout{20000};        // the whole transfer
    std::chrono::milliseconds connectTimeout{10000}; // at most `timeout`
    int maxRedirects = 3;
    std::size_t maxBytes = std::size_t{1} << 20;
    HttpProxy proxy;
    std::string userAgent; // empty: "Vellorine/<version>"
    const std::atomic<bool>* cancel = nullptr;
};

enum class HttpOutcome {
    Ok,               // a complete reply, whatever its status code
    TooLarge,         // the body passed maxBytes; what fits is kept
    Cancelled,        // the cancel flag went up
    TimedOut,         // no complete reply within the timeout
    TooManyRedirects, // more than maxRedirects
    Failed,           // refused, unreachable, malformed, ... (see error)
};

struct HttpReply {
    HttpOutcome outcome = HttpOutcome::Failed;
    long status = 0;         // the last response's HTTP status; 0 without one
    std::string body;        // bytes as they came (after content decoding)
    std::string contentType; // as sent, e.g. "text/plain; charset=ISO-8859-1"
    std::string error;       // libcurl's words when the outcome is not Ok
    std::string retryAfter;  // the last response's Retry-After header; empty without one
    // The body as UTF-8 text (see the contract).
    std::string Text() const;
    // The charset parameter of contentType, lower case; empty when there is none.
    std::string Charset() const;
};

class HttpClient {
public:
    static constexpr int PollMs = 10; // how often a transfer looks at the cancel flag

    static HttpReply Get(const HttpRequest& request);
};

// `bytes` in the named charset (see the contract of Text) as UTF-8.
std::string DecodeText(const std::string& bytes, const std::string& charset);
// Percent-encodes everything but the unreserved characters of a URL (letters, digits,
// "-", ".", "_", "~"), for one query value or path segment.
std::string UrlEscape(const std::string& text);
// Whether `bytes` is well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF).
bool IsUtf8(const std::string& bytes);

} // namespace platform
