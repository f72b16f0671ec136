// Arbitrary bytes as a CDDB reply and record: the reply splits into a code and lines or
// is refused, the text becomes valid UTF-8 (a second pass changes nothing), and the
// record gives at most one title per track and only genre positions of the list.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cd/CddbClient.h"
#include "tags/CddbRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = cd::TCddbClient::ToUtf8(bytes);
    if (cd::TCddbClient::ToUtf8(text) != text || text.find('\0') != std::string::npos) {
        std::abort();
    }
    int code = 0;
    std::string status;
    std::vector<std::string> body;
    if (cd::TCddbClient::ParseReply(text, code, status, body) && (code < 0 || code > 999)) {
        std::abort();
    }
    const int tracks = size > 0 ? data[0] % 100 : 0; // a disc has at most 99 tracks
    const tags::TCddbRecord record = tags::ParseCddbRecord(text, tracks);
    if (record.HasTitles() && record.titles.size() != static_cast<std::size_t>(tracks)) {
        std::abort();
    }
    if (record.genre && *record.genre != -1 && (*record.genre < 1 || *record.genre > 148)) {
        std::abort();
    }
    if (record.artist.has_value() != record.album.has_value()) {
        std::abort();
    }
    return 0;
}
