#pragma once
// RIFF chunks: four-character ids, the 8-byte chunk header (id, little-endian payload size)
// and the pad byte that follows an odd payload. Readers walk a file from chunk to chunk with
// NextChunkOffset; writers lay out headers with PutChunkHeader / AppendChunkHeader /
// WriteChunkHeader. Sizes on disk are 32 bits: larger values are clamped, never wrapped.
// Plain C++, no state: callable from any thread.
#include <array>
#include <concepts>
#include <cstdint>
#include <iosfwd>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

namespace bytes {

constexpr std::size_t kChunkHeaderBytes = 8;

// An id is exactly four bytes, e.g. "RIFF", "WAVE", "fmt ", "data".
bool IdIs(const std::uint8_t* p, std::string_view id);
void PutId(std::uint8_t* p, std::string_view id);
void AppendId(std::vector<std::uint8_t>& out, std::string_view id);
bool WriteId(std::ostream& out, std::string_view id);

struct ChunkHeader {
    std::array<std::uint8_t, 4> id{};
    std::uint32_t size = 0; // payload bytes, without the pad byte

    bool Is(std::string_view name) const { return IdIs(id.data(), name); }
};

// The header stored at p (8 bytes).
ChunkHeader ParseChunkHeader(const std::uint8_t* p);
void PutChunkHeader(std::uint8_t* p, std::string_view id, std::uint32_t size);
void AppendChunkHeader(std::vector<std::uint8_t>& out, std::string_view id, std::uint32_t size);
bool WriteChunkHeader(std::ostream& out, std::string_view id, std::uint32_t size);

// Where the chunk after one at headerOffset starts: past its header, its payload and, for an
// odd payload, the pad byte.
constexpr std::uint64_t NextChunkOffset(std::uint64_t headerOffset, std::uint32_t size) {
    return headerOffset + kChunkHeaderBytes + size + (size & 1U);
}

// A size or offset as a 32-bit field holds it: negative values become 0, values past
// 4 GiB - 1 become 4 GiB - 1.
template <std::integral T> constexpr std::uint32_t ClampU32(T value) {
    constexpr auto kMax = std::numeric_limits<std::uint32_t>::max();
    if (std::cmp_less(value, 0)) {
        return 0;
    }
    return std::cmp_greater(value, kMax) ? kMax : static_cast<std::uint32_t>(value);
}

} // namespace bytes
