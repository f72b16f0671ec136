#include "platform/HttpClient.h"

#include "Version.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <memory>
#include <mutex>

namespace platform {

namespace {

void InitOnce() {
    // curl_global_init is not thread-safe; call_once makes the first Get do it for all.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct MultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;

struct Reception {
    std::string body;
    std::size_t limit = 0;
    bool cut = false;
};

std::size_t Receive(char* data, std::size_t size, std::size_t count, void* user) {
    auto* r = static_cast<Reception*>(user);
    const std::size_t bytes = size * count;
    const std::size_t room = r->limit - std::min(r->limit, r->body.size());
    if (bytes > room) {
        r->body.append(data, room);
        r->cut = true;
        return 0; // ends the transfer; what fits is kept
    }
    r->body.append(data, bytes);
    return bytes;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* cancel = static_cast<const std::atomic<bool>*>(user);
    return cancel != nullptr && cancel->load() ? 1 : 0;
}

bool Raised(const std::atomic<bool>* flag) {
    return flag != nullptr && flag->load();
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

void Configure(CURL* c, const HttpRequest& request, Reception& reception, char* error) {
    const long timeout = std::max<long>(1, static_cast<long>(request.timeout.count()));
    curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, static_cast<long>(std::max(request.maxRedirects, 0)));
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, timeout);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS,
                     std::min<long>(timeout, static_cast<long>(request.connectTimeout.count())));
    static const std::string ProgramAgent = std::string("Vellorine/") + vellorine::kVersion;
    curl_easy_setopt(c, CURLOPT_USERAGENT,
                     (request.userAgent.empty() ? ProgramAgent : request.userAgent).c_str());
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Receive);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &reception);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, request.cancel);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    // Both branches set the proxy explicitly: libcurl reads http_proxy and no_proxy from
    // the environment only for what is left unset, and the setting alone decides.
    if (request.proxy.use) {
        curl_easy_setopt(c, CURLOPT_PROXY, request.proxy.host.c_str());
        curl_easy_setopt(c, CURLOPT_PROXYPORT, static_cast<long>(request.proxy.port));
        curl_easy_setopt(c, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
        curl_easy_setopt(c, CURLOPT_NOPROXY, "");
    } else {
        curl_easy_setopt(c, CURLOPT_PROXY, "");
    }
}

// Runs the transfer through a multi handle so the cancel flag is seen every PollMs even
// while nothing arrives (the progress callback alone may wait a second).
bool Perform(CURLM* multi, const std::atomic<bool>* cancel, CURLcode& result) {
    int running = 1;
    while (running > 0) {
        if (Raised(cancel)) {
            return false;
        }
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            break;
        }
        if (running > 0) {
            curl_multi_poll(multi, nullptr, 0, HttpClient::PollMs, nullptr);
        }
    }
    int pending = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &pending)) {
        if (msg->msg == CURLMSG_DONE) {
            result = msg->data.result;
        }
    }
    return true;
}

HttpOutcome OutcomeOf(CURLcode result, bool cut) {
    switch (result) {
    case CURLE_OK:
        return HttpOutcome::Ok;
    case CURLE_WRITE_ERROR:
        return cut ? HttpOutcome::TooLarge : HttpOutcome::Failed;
    case CURLE_ABORTED_BY_CALLBACK:
        return HttpOutcome::Cancelled;
    case CURLE_OPERATION_TIMEDOUT:
        return HttpOutcome::TimedOut;
    case CURLE_TOO_MANY_REDIRECTS:
        return HttpOutcome::TooManyRedirects;
    default:
        return HttpOutcome::Failed;
    }
}

// Length of the UTF-8 sequence starting at s[i], 0 when it is not valid there.
std::size_t Utf8SequenceLength(const std::string& s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    if (c < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = c == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + length > s.size() || byte(i + 1) < low || byte(i + 1) > high) {
        return 0;
    }
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) {
            return 0;
        }
    }
    return length;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// windows-1252 differs from ISO-8859-1 only in 0x80..0x9F; 0 marks its five holes,
// which keep their ISO-8859-1 (control) meaning.
constexpr std::array<std::uint16_t, 32> Cp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string FromSingleByte(const std::string& bytes, bool cp1252) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        std::uint32_t code = static_cast<unsigned char>(ch);
        if (cp1252 && code >= 0x80 && code < 0xA0 && Cp1252High[code - 0x80] != 0) {
            code = Cp1252High[code - 0x80];
        }
        AppendUtf8(out, code);
    }
    return out;
}

} // namespace

std::string UrlEscape(const std::string& text) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const bool alnum =
            (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (alnum || c == '-' || c == '.' || c == '_' || c == '~') {
            out += ch;
        } else {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 0x0F];
        }
    }
    return out;
}

bool IsUtf8(const std::string& bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = Utf8SequenceLength(bytes, i);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

std::string DecodeText(const std::string& bytes, const std::string& charset) {
    const std::string name = Lower(charset);
    if (name == "iso-8859-1" || name == "latin1" || name == "iso8859-1" || name == "us-ascii") {
        return FromSingleByte(bytes, false);
    }
    if (name == "windows-1252" || name == "cp1252") {
        return FromSingleByte(bytes, true);
    }
    return IsUtf8(bytes) ? bytes : FromSingleByte(bytes, false);
}

std::string HttpReply::Charset() const {
    const std::string type = Lower(contentType);
    const auto at = type.find("charset=");
    if (at == std::string::npos) {
        return {};
    }
    std::string value = type.substr(at + 8);
    value = value.substr(0, value.find_first_of("; \t"));
    value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
    return value;
}

std::string HttpReply::Text() const {
    return DecodeText(body, Charset());
}

HttpReply HttpClient::Get(const HttpRequest& request) {
    InitOnce();
    HttpReply reply;
    EasyPtr easy(curl_easy_init());
    MultiPtr multi(curl_multi_init());
    if (!easy || !multi) {
        reply.error = "libcurl could not start a transfer";
        return reply;
    }
    Reception reception;
    reception.limit = request.maxBytes;
    char error[CURL_ERROR_SIZE] = {};
    Configure(easy.get(), request, reception, error);

    curl_multi_add_handle(multi.get(), easy.get());
    CURLcode result = CURLE_FAILED_INIT;
    const bool finished = Perform(multi.get(), request.cancel, result);
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &reply.status);
    const char* type = nullptr;
    if (curl_easy_getinfo(easy.get(), CURLINFO_CONTENT_TYPE, &type) == CURLE_OK &&
        type != nullptr) {
        reply.contentType = type;
    }
    curl_header* retry = nullptr;
    if (curl_easy_header(easy.get(), "Retry-After", 0, CURLH_HEADER, -1, &retry) == CURLHE_OK &&
        retry != nullptr && retry->value != nullptr) {
        reply.retryAfter = retry->value;
    }
    curl_multi_remove_handle(multi.get(), easy.get());

    reply.outcome = finished ? OutcomeOf(result, reception.cut) : HttpOutcome::Cancelled;
    if (reply.outcome == HttpOutcome::Cancelled) {
        reply.error = "cancelled";
    } else if (reply.outcome != HttpOutcome::Ok) {
        reply.error = error[0] != '\0' ? error : curl_easy_strerror(result);
    }
    if (reply.outcome == HttpOutcome::Ok || reply.outcome == HttpOutcome::TooLarge) {
        reply.body = std::move(reception.body);
    }
    return reply;
}

} // namespace platform
