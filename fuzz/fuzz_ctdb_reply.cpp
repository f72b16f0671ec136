// Arbitrary bytes as a CTDB lookup reply: the text decodes to valid UTF-8 under any
// charset, the reply is read into entries or refused, and every entry read has a
// confidence the match can add up.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cd/CtdbLookup.h"
#include "platform/HttpClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    static const char* const charsets[] = {"", "utf-8", "iso-8859-1", "windows-1252"};
    const char* charset = charsets[size > 0 ? data[0] % 4 : 0];
    const std::string text = platform::DecodeText(bytes, charset);
    if (!platform::IsUtf8(text)) {
        std::abort();
    }
    const auto entries = cd::CtdbLookup::ParseReply(text);
    if (!entries) {
        return 0;
    }
    long long total = 0;
    for (const cd::CtdbEntry& e : *entries) {
        if (e.confidence < 0) {
            std::abort();
        }
        total += e.confidence;
    }
    const cd::CtdbMatch match =
        cd::CtdbLookup::Match(*entries, entries->empty() ? 0 : entries->front().crc);
    if (total <= 0x7fffffff && (match.total != total || match.confidence > match.total)) {
        std::abort();
    }
    return 0;
}
