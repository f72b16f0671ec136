#include "bytes/LittleEndian.h"

#include <array>
#include <istream>
#include <ostream>

namespace bytes {

namespace {

template <std::size_t N> bool WriteAll(std::ostream& out, const std::array<std::uint8_t, N>& b) {
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(N));
    return static_cast<bool>(out);
}

template <std::size_t N> bool ReadAll(std::istream& in, std::array<std::uint8_t, N>& b) {
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(N));
    return static_cast<std::size_t>(in.gcount()) == N;
}

} // namespace

void AppendLe16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    const std::size_t at = out.size();
    out.resize(at + 2);
    PutLe16(out.data() + at, v);
}

void AppendLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    const std::size_t at = out.size();
    out.resize(at + 4);
    PutLe32(out.data() + at, v);
}

bool WriteLe16(std::ostream& out, std::uint16_t v) {
    std::array<std::uint8_t, 2> b{};
    PutLe16(b.data(), v);
    return WriteAll(out, b);
}

bool WriteLe32(std::ostream& out, std::uint32_t v) {
    std::array<std::uint8_t, 4> b{};
    PutLe32(b.data(), v);
    return WriteAll(out, b);
}

bool ReadLe16(std::istream& in, std::uint16_t& value) {
    std::array<std::uint8_t, 2> b{};
    if (!ReadAll(in, b)) {
        return false;
    }
    value = GetLe16(b.data());
    return true;
}

bool ReadLe32(std::istream& in, std::uint32_t& value) {
    std::array<std::uint8_t, 4> b{};
    if (!ReadAll(in, b)) {
        return false;
    }
    value = GetLe32(b.data());
    return true;
}

} // namespace bytes
