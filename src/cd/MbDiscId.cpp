#include "cd/MbDiscId.h"

#include "cd/DiscToc.h"

#include <discid/discid.h>

#include <array>
#include <memory>

namespace cd {

namespace {

constexpr std::uint32_t LeadIn = 150;

struct DiscIdDeleter {
    void operator()(DiscId* d) const { discid_free(d); }
};

} // namespace

std::optional<MbToc> MbTocOf(const RipDisc& disc) {
    MbToc toc;
    for (const RipLogTocEntry& e : disc.toc) {
        if (e.data) {
            if (!toc.offsets.empty()) {
                break; // a data session after the audio
            }
            continue;
        }
        if (toc.offsets.empty()) {
            toc.first = e.number;
        }
        toc.last = e.number;
        toc.offsets.push_back(e.start + LeadIn);
    }
    const auto count = static_cast<int>(toc.offsets.size());
    if (count == 0 || toc.first < 1 || toc.last > 99 || toc.last - toc.first + 1 != count) {
        return std::nullopt;
    }
    toc.leadOut = AudioLeadOutOf(disc) + LeadIn;
    return toc;
}

std::string MbDiscIdOf(const MbToc& toc) {
    if (toc.offsets.empty() || toc.offsets.size() > 99) {
        return {};
    }
    // The library's layout: [0] the lead-out, then the tracks by number.
    std::array<int, 100> offsets{};
    offsets[0] = static_cast<int>(toc.leadOut);
    for (std::size_t i = 0; i < toc.offsets.size(); ++i) {
        offsets[static_cast<std::size_t>(toc.first) + i] = static_cast<int>(toc.offsets[i]);
    }
    std::unique_ptr<DiscId, DiscIdDeleter> d(discid_new());
    if (!d || discid_put(d.get(), toc.first, toc.last, offsets.data()) == 0) {
        return {};
    }
    const char* id = discid_get_id(d.get());
    return id != nullptr ? id : "";
}

std::string MbDiscIdOf(const RipDisc& disc) {
    const auto toc = MbTocOf(disc);
    return toc ? MbDiscIdOf(*toc) : "";
}

std::string MbTocParameter(const MbToc& toc) {
    std::string text = std::to_string(toc.first) + "+" + std::to_string(toc.last) + "+" +
                       std::to_string(toc.leadOut);
    for (const std::uint32_t offset : toc.offsets) {
        text += "+" + std::to_string(offset);
    }
    return text;
}

} // namespace cd
