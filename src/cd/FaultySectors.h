#pragma once
// Test-only damage for disc-image drives: $VELLORINE_FAULTY_SECTORS names disc sectors
// (LSN; the generator's images start their first track at 0) that misbehave whenever a
// read covers them, so the tests can show what a scratched disc does to each read path.
// Comma-separated entries, each a sector or a range "A-B", optionally "=kind":
//   fail   (default) every read that covers the sector fails, as a drive reports a
//          medium error for the whole command
//   noise  the sector's bytes come back different on every read (no re-read helps)
//   flaky  the first read of the sector returns altered bytes, later reads are right
//   stall  every read that covers the sector takes StallTime and then fails, as a drive
//          that retries a scratch by itself does
// A read without a buffer (paranoia's cache flush) fails or stalls like any other.
// Physical drives never get an injector. Unparsable entries are ignored (with a line on
// stderr) rather than taken as damage nobody asked for.
//
// Threads: Apply may be called from any thread; the per-sector read counts of "flaky"
// are kept under a lock.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace cd {

class FaultySectors {
public:
    enum class Kind { Fail, Noise, Flaky, Stall };
    static constexpr std::chrono::milliseconds StallTime{1000};
    struct Range {
        std::int64_t first = 0;
        std::int64_t last = 0;
        Kind kind = Kind::Fail;
    };

    explicit FaultySectors(std::vector<Range> ranges);

    // Parses a comma-separated list of sector ranges in the format above.
    static std::vector<Range> Parse(const std::string& list);
    // The injector the environment asks for; null when it names no sector.
    static std::shared_ptr<FaultySectors> FromEnvironment();

    // Damages `count` raw 2352-byte sectors read from `first` on in place (`data` may be
    // null); false when the read must fail instead.
    bool Apply(std::int64_t first, std::int64_t count, std::uint8_t* data);

private:
    const Range* Find(std::int64_t sector) const;
    void Scramble(std::uint8_t* sectorData);

    std::vector<Range> ranges_;
    std::mutex mutex_;
    std::map<std::int64_t, int> flakyReads_;
    std::minstd_rand random_;
};

} // namespace cd
