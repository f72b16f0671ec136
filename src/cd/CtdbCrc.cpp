#include "cd/CtdbCrc.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>

namespace cd {

namespace {

constexpr std::uint32_t Polynomial = 0xEDB88320; // the ZIP polynomial, bit-reversed
constexpr std::uint32_t XToThe0 = 0x80000000;    // 1 in the bit-reversed notation
constexpr std::uint64_t SampleBytes = 4;

// a(x) * b(x) modulo the polynomial, in the bit-reversed notation of the CRC.
std::uint32_t MultiplyModP(std::uint32_t a, std::uint32_t b) {
    std::uint32_t product = 0;
    for (std::uint32_t m = XToThe0; m != 0; m >>= 1) {
        if ((a & m) != 0) {
            product ^= b;
        }
        b = (b & 1) != 0 ? (b >> 1) ^ Polynomial : b >> 1;
    }
    return product;
}

// x^(2^k) modulo the polynomial for k = 0..63.
std::array<std::uint32_t, 64> PowersOfX() {
    std::array<std::uint32_t, 64> table{};
    std::uint32_t p = XToThe0 >> 1; // x^1
    for (std::uint32_t& entry : table) {
        entry = p;
        p = MultiplyModP(p, p);
    }
    return table;
}

// x^(8 * bytes) modulo the polynomial: appending that many bytes multiplies by it.
std::uint32_t ShiftFor(std::uint64_t bytes) {
    static const std::array<std::uint32_t, 64> powers = PowersOfX();
    std::uint32_t result = XToThe0;
    std::size_t k = 3; // 8 bits a byte
    for (; bytes != 0 && k < powers.size(); bytes >>= 1, ++k) {
        if ((bytes & 1) != 0) {
            result = MultiplyModP(powers[k], result);
        }
    }
    return result;
}

} // namespace

CtdbCrc::CtdbCrc(std::uint64_t totalSamples, CtdbRange range)
    : from_(std::min(range.skipHead, totalSamples) * SampleBytes),
      to_(std::max(from_, (totalSamples - std::min(range.skipTail, totalSamples)) * SampleBytes)) {}

void CtdbCrc::Add(std::span<const std::uint8_t> pcm) {
    const std::uint64_t start = next_;
    next_ += pcm.size();
    const std::uint64_t first = std::max(start, from_);
    const std::uint64_t last = std::min(next_, to_);
    if (first < last) {
        crc_ = libdeflate_crc32(crc_, pcm.data() + (first - start),
                                static_cast<std::size_t>(last - first));
    }
}

CtdbPart CtdbCrc::Part() const {
    return {crc_, next_ > from_ ? std::min(next_, to_) - from_ : 0};
}

CtdbRange CtdbCrc::RangeOf(std::uint64_t discSamples, std::uint64_t trackStart,
                           std::uint64_t trackSamples, std::uint64_t pregapSamples) {
    const std::uint64_t tail = Stride + (discSamples + pregapSamples) % Stride;
    const std::uint64_t counted = discSamples > tail ? discSamples - tail : 0; // end of the sum
    const std::uint64_t trackEnd = trackStart + trackSamples;
    CtdbRange range;
    range.skipHead =
        trackStart < Stride ? std::min<std::uint64_t>(Stride - trackStart, trackSamples) : 0;
    range.skipTail = trackEnd > counted ? std::min(trackEnd - counted, trackSamples) : 0;
    return range;
}

std::uint32_t CtdbCrc::Combine(std::uint32_t crcA, std::uint32_t crcB, std::uint64_t bytesB) {
    return MultiplyModP(ShiftFor(bytesB), crcA) ^ crcB;
}

std::uint32_t CtdbCrc::DiscCrc(std::span<const CtdbPart> parts) {
    std::uint32_t crc = 0;
    for (const CtdbPart& part : parts) {
        crc = Combine(crc, part.crc, part.bytes);
    }
    return crc;
}

} // namespace cd
