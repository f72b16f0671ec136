#include "cd/FaultySectors.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace cd {

namespace {

constexpr std::size_t SectorBytes = 2352;
constexpr std::size_t ScrambledBytes = 16; // spread over the sector, 147 bytes apart

bool ParseNumber(std::string_view text, std::int64_t& value) {
    const auto* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc{} && result.ptr == end && value >= 0;
}

bool ParseKind(std::string_view text, FaultySectors::Kind& kind) {
    if (text == "fail") {
        kind = FaultySectors::Kind::Fail;
    } else if (text == "noise") {
        kind = FaultySectors::Kind::Noise;
    } else if (text == "flaky") {
        kind = FaultySectors::Kind::Flaky;
    } else if (text == "stall") {
        kind = FaultySectors::Kind::Stall;
    } else {
        return false;
    }
    return true;
}

bool ParseEntry(std::string_view entry, FaultySectors::Range& range) {
    const auto equals = entry.find('=');
    if (equals != std::string_view::npos && !ParseKind(entry.substr(equals + 1), range.kind)) {
        return false;
    }
    const std::string_view sectors = entry.substr(0, equals);
    const auto dash = sectors.find('-');
    if (dash == std::string_view::npos) {
        return ParseNumber(sectors, range.first) && ParseNumber(sectors, range.last);
    }
    return ParseNumber(sectors.substr(0, dash), range.first) &&
           ParseNumber(sectors.substr(dash + 1), range.last) && range.first <= range.last;
}

} // namespace

FaultySectors::FaultySectors(std::vector<Range> ranges) : ranges_(std::move(ranges)) {}

std::vector<FaultySectors::Range> FaultySectors::Parse(const std::string& list) {
    std::vector<Range> ranges;
    std::string_view rest(list);
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        const std::string_view entry = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        if (entry.empty()) {
            continue;
        }
        Range range;
        if (ParseEntry(entry, range)) {
            ranges.push_back(range);
        } else {
            std::fprintf(stderr, "VELLORINE_FAULTY_SECTORS: ignoring \"%.*s\"\n",
                         static_cast<int>(entry.size()), entry.data());
        }
    }
    return ranges;
}

std::shared_ptr<FaultySectors> FaultySectors::FromEnvironment() {
    const char* list = std::getenv("VELLORINE_FAULTY_SECTORS");
    if (list == nullptr) {
        return nullptr;
    }
    auto ranges = Parse(list);
    if (ranges.empty()) {
        return nullptr;
    }
    return std::make_shared<FaultySectors>(std::move(ranges));
}

const FaultySectors::Range* FaultySectors::Find(std::int64_t sector) const {
    for (const Range& r : ranges_) {
        if (sector >= r.first && sector <= r.last) {
            return &r;
        }
    }
    return nullptr;
}

// XOR with values that are never 0, so a scrambled sector always differs from the truth
// and (with a fresh draw each time) from its previous reads.
void FaultySectors::Scramble(std::uint8_t* sectorData) {
    for (std::size_t i = 0; i < ScrambledBytes; ++i) {
        sectorData[i * (SectorBytes / ScrambledBytes)] ^=
            static_cast<std::uint8_t>(1 + random_() % 255);
    }
}

bool FaultySectors::Apply(std::int64_t first, std::int64_t count, std::uint8_t* data) {
    bool stall = false;
    bool fail = false;
    {
        std::lock_guard lock(mutex_);
        for (std::int64_t i = 0; i < count && !fail; ++i) {
            const Range* range = Find(first + i);
            if (range == nullptr) {
                continue;
            }
            std::uint8_t* sector =
                data == nullptr ? nullptr : data + static_cast<std::size_t>(i) * SectorBytes;
            switch (range->kind) {
            case Kind::Fail:
                fail = true;
                break;
            case Kind::Stall:
                stall = fail = true;
                break;
            case Kind::Noise:
                if (sector != nullptr) {
                    Scramble(sector);
                }
                break;
            case Kind::Flaky:
                if (flakyReads_[first + i]++ == 0 && sector != nullptr) {
                    Scramble(sector);
                }
                break;
            }
        }
    }
    if (stall) {
        std::this_thread::sleep_for(StallTime); // outside the lock: other reads go on
    }
    return !fail;
}

} // namespace cd
