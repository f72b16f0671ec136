#pragma once
// The project's loopback CDDB server (scripts/cddb-test-server) run for one test, and
// the xmcd records it serves. The server ends when the object goes.
#include <cstdint>
#include <string>
#include <vector>

#include "support/LoopbackServer.h"
#include "support/TestSupport.h"

namespace cdtest {

class CddbServer {
public:
    // Serves the records under recordsDir ("<category>/<disc id>"); extraArgs go to the
    // script as they are ({"--delay", "2"}, {"--answer", "html"}, {"--proxy"}).
    explicit CddbServer(const std::string& recordsDir,
                        const std::vector<std::string>& extraArgs = {});

    int Port() const { return server_.Port(); }
    std::string Address() const { return "127.0.0.1:" + std::to_string(Port()); }
    // One line per request received: "GET <path>" (or "PROXY <url>").
    std::vector<std::string> Requests() const;

private:
    testsupport::ScratchFolder dir_; // before the server, which logs into it
    testsupport::LoopbackServer server_;
};

// A loopback port nobody listens on.
int UnusedPort();

// The CDDB disc id of a generated image whose tracks have these frame counts, by the
// published algorithm on minute/second addresses (2-second lead-in included).
std::uint32_t PublishedDiscId(const std::vector<int>& frames);
std::string HexId(std::uint32_t id);

// An xmcd record for that disc: the frame-offset and length comments, DISCID, then the
// given key lines (e.g. "DTITLE=A / B\nTTITLE0=x\n") as they are.
std::string XmcdRecord(const std::vector<int>& frames, const std::string& lines);
// Stores a record where the server looks for it.
void WriteRecord(const testsupport::ScratchFolder& records, const std::string& category,
                 const std::string& discId, const std::string& bytes);

} // namespace cdtest
