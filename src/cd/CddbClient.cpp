#include "cd/CddbClient.h"

#include "platform/HttpClient.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>

namespace cd {

namespace {

std::string WithoutNul(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
    return text;
}

// Words separated by blanks, each escaped, joined by "+" as the CGI expects.
std::string EscapeWords(const std::string& text) {
    std::istringstream in(text);
    std::string word;
    std::string out;
    while (in >> word) {
        out += (out.empty() ? "" : "+") + platform::UrlEscape(word);
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

} // namespace

TCddbClient::TCddbClient(TCddbSettings settings, const std::atomic<bool>* cancel)
    : settings_(std::move(settings)), cancel_(cancel) {}

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
    return WithoutNul(platform::DecodeText(bytes, ""));
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
    platform::HttpRequest request;
    request.url = Url(command);
    request.timeout =
        std::chrono::milliseconds(settings_.timeoutMs > 0 ? settings_.timeoutMs : DefaultTimeoutMs);
    request.maxBytes = MaxReplyBytes;
    request.userAgent = settings_.client;
    request.cancel = cancel_;
    request.proxy = {settings_.useProxy, settings_.proxyHost, settings_.proxyPort};
    const platform::HttpReply answer = platform::HttpClient::Get(request);
    using platform::HttpOutcome;
    switch (answer.outcome) {
    case HttpOutcome::Ok:
    case HttpOutcome::TooLarge: // a record cut at the cap still has its titles first
        break;
    case HttpOutcome::Cancelled:
        lastMessage_ = "cancelled";
        return TCddbStatus::Cancelled;
    default:
        lastMessage_ = answer.error;
        return TCddbStatus::Network;
    }
    if (answer.status < 200 || answer.status > 299) {
        lastMessage_ = "HTTP status " + std::to_string(answer.status);
        return TCddbStatus::Server;
    }
    reply = WithoutNul(answer.Text());
    return TCddbStatus::Ok;
}

TCddbStatus TCddbClient::CodedCommand(const std::string& command, int& code,
                                      std::vector<std::string>& body) {
    std::string reply;
    const TCddbStatus status = Command(command, reply);
    if (status != TCddbStatus::Ok) {
        return status;
    }
    if (!ParseReply(reply, code, lastMessage_, body)) {
        lastMessage_ = "not a CDDB reply";
        return TCddbStatus::Server;
    }
    return TCddbStatus::Ok;
}

TCddbStatus TCddbClient::Query(const TCddbDisc& disc, std::vector<TCddbMatch>& matches) {
    matches.clear();
    int code = 0;
    std::vector<std::string> body;
    if (const TCddbStatus status = CodedCommand(QueryCommand(disc), code, body);
        status != TCddbStatus::Ok) {
        return status;
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
    int code = 0;
    std::vector<std::string> body;
    if (const TCddbStatus status =
            CodedCommand("cddb read " + match.category + " " + match.discId, code, body);
        status != TCddbStatus::Ok) {
        return status;
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
