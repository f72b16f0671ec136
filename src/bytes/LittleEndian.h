#pragma once
// Little-endian integers in byte buffers and binary streams: the one place the program turns
// 16- and 32-bit values into the bytes of a file (WAV headers, ADPCM blocks, PCM samples,
// database records) and back.
//
// The buffer functions take a pointer to at least 2 or 4 valid bytes (the caller checks the
// bounds) and are inline, so sample loops pay nothing for them. The stream functions report
// a failed read or write through their result and leave the stream's state as the stream
// set it. Plain C++, callable from any thread on buffers and streams it does not share.
#include <cstdint>
#include <iosfwd>
#include <vector>

namespace bytes {

constexpr std::uint16_t GetLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

constexpr std::uint32_t GetLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Two's complement: 0xFFFF is -1.
constexpr std::int16_t GetLeI16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(GetLe16(p));
}

constexpr std::int32_t GetLeI32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(GetLe32(p));
}

constexpr void PutLe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

constexpr void PutLe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

constexpr void PutLeI16(std::uint8_t* p, std::int16_t v) {
    PutLe16(p, static_cast<std::uint16_t>(v));
}

constexpr void PutLeI32(std::uint8_t* p, std::int32_t v) {
    PutLe32(p, static_cast<std::uint32_t>(v));
}

// Appended at the end of a growing buffer.
void AppendLe16(std::vector<std::uint8_t>& out, std::uint16_t v);
void AppendLe32(std::vector<std::uint8_t>& out, std::uint32_t v);

// False when the stream could not take or give all bytes; on a failed read value is unchanged.
bool WriteLe16(std::ostream& out, std::uint16_t v);
bool WriteLe32(std::ostream& out, std::uint32_t v);
bool ReadLe16(std::istream& in, std::uint16_t& value);
bool ReadLe32(std::istream& in, std::uint32_t& value);

} // namespace bytes
