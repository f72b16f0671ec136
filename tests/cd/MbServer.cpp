#include "cd/MbServer.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace cdtest {

namespace {

const std::string Helper = VELLORINE_SOURCE_DIR "/tests/cd/musicbrainz.py";

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

// Bodies go as hex, so binary and invalid UTF-8 pass unchanged.
std::string Hex(const std::string& bytes) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        out += Digits[c >> 4];
        out += Digits[c & 15];
    }
    return out;
}

std::string RoutesJson(const std::vector<MbRoute>& routes) {
    std::ostringstream out;
    out << "{";
    for (std::size_t r = 0; r < routes.size(); ++r) {
        out << (r ? "," : "") << JsonString(routes[r].path) << ":[";
        for (std::size_t a = 0; a < routes[r].answers.size(); ++a) {
            const MbAnswer& answer = routes[r].answers[a];
            out << (a ? "," : "") << "{\"status\":" << answer.status
                << ",\"type\":" << JsonString(answer.type)
                << ",\"body_hex\":" << JsonString(Hex(answer.body)) << ",\"delay\":" << answer.delay
                << ",\"repeat\":" << answer.repeat;
            if (!answer.retryAfter.empty()) {
                out << ",\"retry_after\":" << JsonString(answer.retryAfter);
            }
            out << "}";
        }
        out << "]";
    }
    out << "}";
    return out.str();
}

// Writes the routes where the server reads them; the command that starts it.
std::string ServerCommand(const std::vector<MbRoute>& routes,
                          const testsupport::ScratchFolder& dir) {
    std::ofstream(dir.File("routes.json")) << RoutesJson(routes);
    return "python3 " + platform::QuoteArgument(Helper) + " serve " +
           platform::QuoteArgument(dir.File("routes.json")) + " " +
           platform::QuoteArgument(dir.File("requests.log"));
}

} // namespace

MbServer::MbServer(const std::vector<MbRoute>& routes)
    : server_(ServerCommand(routes, dir_), "MusicBrainz") {}

std::vector<MbRequest> MbServer::Requests() const {
    std::vector<MbRequest> requests;
    std::ifstream log(dir_.File("requests.log"));
    for (std::string line; std::getline(log, line);) {
        std::istringstream fields(line);
        MbRequest r;
        std::string time;
        std::getline(fields, time, '\t');
        std::getline(fields, r.target, '\t');
        std::getline(fields, r.userAgent);
        r.time = std::stod(time);
        requests.push_back(r);
    }
    return requests;
}

std::string IndependentDiscId(const std::vector<std::pair<unsigned, bool>>& starts,
                              unsigned leadOut) {
    std::string command =
        "python3 " + platform::QuoteArgument(Helper) + " discid " + std::to_string(leadOut);
    for (const auto& [start, data] : starts) {
        command += " " + std::to_string(start) + (data ? "d" : "");
    }
    const auto result = testsupport::RunCommand(command);
    std::string id = result.Output;
    while (!id.empty() && (id.back() == '\n' || id.back() == '\r')) {
        id.pop_back();
    }
    return id;
}

} // namespace cdtest
