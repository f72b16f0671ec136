#include "cd/CddbClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>

namespace cd {

namespace {

constexpr int PollMs = 50; // how often a transfer looks at the cancel flag
constexpr int MaxConnectMs = 10000;

void EnsureCurl() {
    // curl_global_init is not thread-safe; a function-local static runs it exactly once.
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)ready;
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
    bool cut = false;
};

std::size_t Receive(char* data, std::size_t size, std::size_t count, void* user) {
    auto* r = static_cast<Reception*>(user);
    const std::size_t bytes = size * count;
    const std::size_t room = TCddbClient::MaxReplyBytes - r->body.size();
    if (bytes > room) {
        r->body.append(data, room);
        r->cut = true;
        return 0; // ends the transfer; what arrived is kept
    }
    r->body.append(data, bytes);
    return bytes;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* cancel = static_cast<const std::atomic<bool>*>(user);
    return cancel != nullptr && cancel->load() ? 1 : 0;
}

std::string Escape(const std::string& word) {
    // libcurl ignores the handle argument of curl_easy_escape since 7.82.
    char* escaped = curl_easy_escape(nullptr, word.c_str(), static_cast<int>(word.size()));
    std::string out = escaped != nullptr ? escaped : "";
    curl_free(escaped);
    return out;
}

// Words separated by blanks, each escaped, joined by "+" as the CGI expects.
std::string EscapeWords(const std::string& text) {
    std::istringstream in(text);
    std::string word;
    std::string out;
    while (in >> word) {
        out += (out.empty() ? "" : "+") + Escape(word);
    }
    return out;
}

std::string OrUnknown(std::string word) {
    word.erase(std::remove_if(word.begin(), word.end(), [](char c) { return c == ' '; }),
               word.end());
    return word.empty() ? "unknown" : word;
}

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

// "categ discid title" as the query replies list matches.
bool ParseMatch(const std::string& line, TCddbMatch& match) {
    std::istringstream in(line);
    if (!(in >> match.category >> match.discId)) {
        return false;
    }
    std::string rest;
    std::getline(in, rest);
    match.title = Trim(rest);
    return true;
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

bool IsUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = Utf8SequenceLength(s, i);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

} // namespace

TCddbClient::TCddbClient(TCddbSettings settings, const std::atomic<bool>* cancel)
    : settings_(std::move(settings)), cancel_(cancel) {
    EnsureCurl();
}

std::string TCddbClient::QueryCommand(const TCddbDisc& disc) {
    char id[9];
    std::snprintf(id, sizeof id, "%08x", disc.discId);
    std::string command =
        "cddb query " + std::string(id) + " " + std::to_string(disc.offsets.size());
    for (const std::uint32_t offset : disc.offsets) {
        command += " " + std::to_string(offset);
    }
    return command + " " + std::to_string(disc.seconds);
}

bool TCddbClient::ParseReply(const std::string& reply, int& code, std::string& statusLine,
                             std::vector<std::string>& body) {
    body.clear();
    std::istringstream in(reply);
    std::string line;
    if (!std::getline(in, line)) {
        return false;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    const bool coded =
        line.size() >= 3 &&
        std::all_of(line.begin(), line.begin() + 3, [](char c) { return c >= '0' && c <= '9'; }) &&
        (line.size() == 3 || line[3] == ' ' || line[3] == '-');
    if (!coded) {
        return false;
    }
    code = std::stoi(line.substr(0, 3));
    statusLine = line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line == ".") {
            break;
        }
        body.push_back(line);
    }
    return true;
}

std::string TCddbClient::ToUtf8(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::copy_if(bytes.begin(), bytes.end(), std::back_inserter(text),
                 [](char c) { return c != '\0'; });
    if (IsUtf8(text)) {
        return text;
    }
    std::string out;
    out.reserve(text.size() * 2);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string TCddbClient::Url(const std::string& command) const {
    std::string base = settings_.server;
    if (base.find("://") == std::string::npos) {
        base = "http://" + base;
    }
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    std::string script = settings_.script;
    if (script.empty() || script.front() != '/') {
        script.insert(script.begin(), '/');
    }
    const auto at = settings_.email.rfind('@');
    const std::string user =
        at == std::string::npos ? settings_.email : settings_.email.substr(0, at);
    const std::string host = at == std::string::npos ? "" : settings_.email.substr(at + 1);
    const auto blank = settings_.client.find(' ');
    const std::string name = settings_.client.substr(0, blank);
    const std::string version =
        blank == std::string::npos ? "1.0" : Trim(settings_.client.substr(blank + 1));
    const std::string hello =
        OrUnknown(user) + " " + OrUnknown(host) + " " + OrUnknown(name) + " " + OrUnknown(version);
    return base + script + "?cmd=" + EscapeWords(command) + "&hello=" + EscapeWords(hello) +
           "&proto=6";
}

TCddbStatus TCddbClient::Command(const std::string& command, std::string& reply) {
    reply.clear();
    EasyPtr easy(curl_easy_init());
    MultiPtr multi(curl_multi_init());
    if (!easy || !multi) {
        lastMessage_ = "libcurl could not be initialised";
        return TCddbStatus::Network;
    }
    CURL* c = easy.get();
    const std::string url = Url(command);
    const long timeout = settings_.timeoutMs > 0 ? settings_.timeoutMs : DefaultTimeoutMs;
    Reception reception;
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 3L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, timeout);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, std::min<long>(timeout, MaxConnectMs));
    curl_easy_setopt(c, CURLOPT_USERAGENT, settings_.client.c_str());
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Receive);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &reception);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, cancel_);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    if (settings_.useProxy) {
        curl_easy_setopt(c, CURLOPT_PROXY, settings_.proxyHost.c_str());
        curl_easy_setopt(c, CURLOPT_PROXYPORT, static_cast<long>(settings_.proxyPort));
        curl_easy_setopt(c, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    } else {
        curl_easy_setopt(c, CURLOPT_PROXY, ""); // the setting decides, not the environment
    }
    if (settings_.serverPort > 0) {
        curl_easy_setopt(c, CURLOPT_PORT, static_cast<long>(settings_.serverPort));
    }

    curl_multi_add_handle(multi.get(), c);
    int running = 1;
    bool cancelled = false;
    while (running > 0) {
        if (cancel_ != nullptr && cancel_->load()) {
            cancelled = true;
            break;
        }
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            break;
        }
        if (running > 0) {
            curl_multi_poll(multi.get(), nullptr, 0, PollMs, nullptr);
        }
    }
    CURLcode result = CURLE_FAILED_INIT;
    int pending = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi.get(), &pending)) {
        if (msg->msg == CURLMSG_DONE) {
            result = msg->data.result;
        }
    }
    long httpCode = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &httpCode);
    curl_multi_remove_handle(multi.get(), c);

    if (cancelled || result == CURLE_ABORTED_BY_CALLBACK) {
        lastMessage_ = "cancelled";
        return TCddbStatus::Cancelled;
    }
    if (result != CURLE_OK && !(result == CURLE_WRITE_ERROR && reception.cut)) {
        lastMessage_ = error[0] != '\0' ? error : curl_easy_strerror(result);
        return httpCode >= 400 ? TCddbStatus::Server : TCddbStatus::Network;
    }
    if (httpCode < 200 || httpCode > 299) {
        lastMessage_ = "HTTP status " + std::to_string(httpCode);
        return TCddbStatus::Server;
    }
    reply = ToUtf8(reception.body);
    return TCddbStatus::Ok;
}

TCddbStatus TCddbClient::Query(const TCddbDisc& disc, std::vector<TCddbMatch>& matches) {
    matches.clear();
    std::string reply;
    const TCddbStatus status = Command(QueryCommand(disc), reply);
    if (status != TCddbStatus::Ok) {
        return status;
    }
    int code = 0;
    std::vector<std::string> body;
    if (!ParseReply(reply, code, lastMessage_, body)) {
        lastMessage_ = "not a CDDB reply";
        return TCddbStatus::Server;
    }
    TCddbMatch match;
    if (code == 200) {
        if (ParseMatch(lastMessage_.substr(3), match)) {
            matches.push_back(match);
        }
    } else if (code == 210 || code == 211) {
        for (const std::string& line : body) {
            if (ParseMatch(line, match)) {
                matches.push_back(match);
            }
        }
    } else if (code != 202) {
        return TCddbStatus::Server;
    }
    return matches.empty() ? TCddbStatus::NoMatch : TCddbStatus::Ok;
}

TCddbStatus TCddbClient::Read(const TCddbMatch& match, std::string& record) {
    record.clear();
    std::string reply;
    const TCddbStatus status = Command("cddb read " + match.category + " " + match.discId, reply);
    if (status != TCddbStatus::Ok) {
        return status;
    }
    int code = 0;
    std::vector<std::string> body;
    if (!ParseReply(reply, code, lastMessage_, body)) {
        lastMessage_ = "not a CDDB reply";
        return TCddbStatus::Server;
    }
    if (code == 401) {
        return TCddbStatus::NoMatch;
    }
    if (code != 210) {
        return TCddbStatus::Server;
    }
    for (const std::string& line : body) {
        record += line + "\n";
    }
    return TCddbStatus::Ok;
}

} // namespace cd
