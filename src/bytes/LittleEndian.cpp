#include "bytes/LittleEndian.h"

#include <array>
#include <istream>
#include <ostream>

namespace bytes {

namespace {

template <typename T, std::size_t N>
bool WriteValue(std::ostream& out, T v, void (*put)(std::uint8_t*, T)) {
    std::array<std::uint8_t, N> b{};
    put(b.data(), v);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(N));
    return static_cast<bool>(out);
}

template <typename T, std::size_t N>
bool ReadValue(std::istream& in, T& value, T (*get)(const std::uint8_t*)) {
    std::array<std::uint8_t, N> b{};
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(N));
    if (static_cast<std::size_t>(in.gcount()) != N) {
        return false;
    }
    value = get(b.data());
    return true;
}

template <typename T, std::size_t N>
void AppendValue(std::vector<std::uint8_t>& out, T v, void (*put)(std::uint8_t*, T)) {
    const std::size_t at = out.size();
    out.resize(at + N);
    put(out.data() + at, v);
}

} // namespace

void AppendLe16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    AppendValue<std::uint16_t, 2>(out, v, PutLe16);
}

void AppendLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    AppendValue<std::uint32_t, 4>(out, v, PutLe32);
}

bool WriteLe16(std::ostream& out, std::uint16_t v) {
    return WriteValue<std::uint16_t, 2>(out, v, PutLe16);
}

bool WriteLe32(std::ostream& out, std::uint32_t v) {
    return WriteValue<std::uint32_t, 4>(out, v, PutLe32);
}

bool ReadLe16(std::istream& in, std::uint16_t& value) {
    return ReadValue<std::uint16_t, 2>(in, value, GetLe16);
}

bool ReadLe32(std::istream& in, std::uint32_t& value) {
    return ReadValue<std::uint32_t, 4>(in, value, GetLe32);
}

} // namespace bytes
