#pragma once
// A loopback web server for the MusicBrainz and cover art tests (tests/cd/musicbrainz.py
// serve), answering each path with the answers a test wrote, in turn, and recording when
// each request came. It ends when the object goes.
#include <string>
#include <vector>

#include "support/LoopbackServer.h"
#include "support/TestSupport.h"

namespace cdtest {

struct MbAnswer {
    int status = 200;
    std::string body;
    std::string type = "application/json; charset=utf-8";
    std::string retryAfter; // sent as Retry-After when not empty
    double delay = 0;       // seconds before answering
    int repeat = 1;         // the body this many times over
};

inline MbAnswer Answer(int status, std::string body, std::string retryAfter = "") {
    MbAnswer a;
    a.status = status;
    a.body = std::move(body);
    a.retryAfter = std::move(retryAfter);
    return a;
}

struct MbRoute {
    std::string path; // without the query, e.g. "/ws/2/discid/abc"
    std::vector<MbAnswer> answers;
};

struct MbRequest {
    double time = 0; // the server's monotonic clock, seconds
    std::string target;
    std::string userAgent;
};

class MbServer {
public:
    explicit MbServer(const std::vector<MbRoute>& routes);

    std::string Url() const { return server_.Url(); }
    std::vector<MbRequest> Requests() const;

private:
    testsupport::ScratchFolder dir_; // before the server: its routes and log
    testsupport::LoopbackServer server_;
};

// The disc id of a layout by the helper's own computation: track start LSNs (data tracks
// marked) and the lead-out LSN.
std::string IndependentDiscId(const std::vector<std::pair<unsigned, bool>>& starts,
                              unsigned leadOut);

} // namespace cdtest
