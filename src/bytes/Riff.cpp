#include "bytes/Riff.h"

#include "bytes/LittleEndian.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <ostream>

namespace bytes {

namespace {

constexpr std::size_t kIdBytes = 4;

} // namespace

bool IdIs(const std::uint8_t* p, std::string_view id) {
    assert(id.size() == kIdBytes);
    return std::memcmp(p, id.data(), kIdBytes) == 0;
}

void PutId(std::uint8_t* p, std::string_view id) {
    assert(id.size() == kIdBytes);
    std::memcpy(p, id.data(), kIdBytes);
}

void AppendId(std::vector<std::uint8_t>& out, std::string_view id) {
    const std::size_t at = out.size();
    out.resize(at + kIdBytes);
    PutId(out.data() + at, id);
}

bool WriteId(std::ostream& out, std::string_view id) {
    assert(id.size() == kIdBytes);
    out.write(id.data(), kIdBytes);
    return static_cast<bool>(out);
}

ChunkHeader ParseChunkHeader(const std::uint8_t* p) {
    ChunkHeader header;
    std::copy_n(p, kIdBytes, header.id.begin());
    header.size = GetLe32(p + kIdBytes);
    return header;
}

void PutChunkHeader(std::uint8_t* p, std::string_view id, std::uint32_t size) {
    PutId(p, id);
    PutLe32(p + kIdBytes, size);
}

void AppendChunkHeader(std::vector<std::uint8_t>& out, std::string_view id, std::uint32_t size) {
    const std::size_t at = out.size();
    out.resize(at + kChunkHeaderBytes);
    PutChunkHeader(out.data() + at, id, size);
}

bool WriteChunkHeader(std::ostream& out, std::string_view id, std::uint32_t size) {
    return WriteId(out, id) && WriteLe32(out, size);
}

} // namespace bytes
