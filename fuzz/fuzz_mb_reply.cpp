// Arbitrary bytes as a MusicBrainz disc id reply: the reader either refuses them or gives
// releases whose texts are valid UTF-8 and whose tracks come from the one medium read.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/HttpClient.h"
#include "tags/MbReply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const int tracks = size > 0 ? data[0] % 100 : 0;
    const auto releases = tags::ParseMbDiscReply(bytes, "fuzzdiscid", tracks);
    if (!releases) {
        return 0;
    }
    for (const tags::MbRelease& r : *releases) {
        for (const std::string* text : {&r.title, &r.artist, &r.date, &r.label, &r.barcode}) {
            if (!platform::IsUtf8(*text)) {
                std::abort();
            }
        }
        if (r.tracks.size() > size || r.discNumber < 0 || r.Year().size() % 4 != 0) {
            std::abort();
        }
        for (const tags::MbTrack& t : r.tracks) {
            if (!platform::IsUtf8(t.title) || !platform::IsUtf8(t.artist)) {
                std::abort();
            }
        }
    }
    return 0;
}
