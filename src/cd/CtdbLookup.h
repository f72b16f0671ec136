#pragma once
// A disc's entries in the CUETools database (CTDB), looked up over HTTP beside the
// AccurateRip one.
//
// The lookup names the disc by its table of contents: every track's start LSN, data
// tracks marked with "-", then the lead-out LSN, joined by ":", as in
//   <server>/lookup2.php?version=3&ctdb=1&fuzzy=1&toc=0:11413:25024:45713:55220
// The server answers 404 for an unknown disc, else an XML document whose <entry>
// elements are the submitted pressings: the disc checksum (crc32, hex), how many rips
// agreed on it (confidence), the entry's own TOC and its per-track checksums.
//
// Threads: as DatabaseLookup (whose worker it uses): `done` runs once on the worker
// thread, never after the destructor, which cancels a transfer in progress.
#include "cd/DatabaseLookup.h"
#include "cd/RipLog.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cd {

struct CtdbEntry {
    std::uint32_t crc = 0; // the disc checksum
    int confidence = 0;
    std::string toc;
    std::vector<std::uint32_t> trackCrcs; // empty when the entry has none
};

// A disc checksum against the entries: the confidence of those that hold it and of all.
struct CtdbMatch {
    int confidence = 0;
    int total = 0;
};

class CtdbLookup {
public:
    struct Result {
        enum class Kind { Found, NotFound, Failed };
        Kind kind = Kind::Failed;
        std::vector<CtdbEntry> entries; // Found: at least one
        std::string error;              // Failed: why, for the log
    };
    using Done = std::function<void(const Result&)>;

    // Starts the lookup of a disc (every track, data tracks marked; lead-out LSN).
    CtdbLookup(const std::string& server, const std::vector<RipLogTocEntry>& toc,
               std::uint32_t leadOut, Done done, LookupOptions options = {});

    static std::string TocParameter(const std::vector<RipLogTocEntry>& toc, std::uint32_t leadOut);
    static std::string Url(const std::string& server, const std::vector<RipLogTocEntry>& toc,
                           std::uint32_t leadOut);
    // The entries of a reply; nothing when it is not a CTDB document (an HTML page, a
    // cut or garbled text). A document without entries gives an empty list.
    static std::optional<std::vector<CtdbEntry>> ParseReply(std::string_view xml);
    static Result ResultOf(const DatabaseLookup::Result& fetched);
    static CtdbMatch Match(const std::vector<CtdbEntry>& entries, std::uint32_t discCrc);

private:
    DatabaseLookup fetch_;
};

} // namespace cd
