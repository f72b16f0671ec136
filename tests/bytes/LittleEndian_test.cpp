#include "bytes/LittleEndian.h"
#include "bytes/Riff.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <sstream>
#include <vector>

namespace bytes {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromStream(const std::ostringstream& out) {
    const std::string s = out.str();
    return Bytes(s.begin(), s.end());
}

// Written to a stream, the value is exactly these bytes, and reads back as itself.
template <typename T, std::size_t N>
void ExpectStreamRoundTrip(T value, const std::array<std::uint8_t, N>& bytes) {
    std::ostringstream out;
    bool written = false;
    T read{};
    std::istringstream in;
    if constexpr (N == 2) {
        written = WriteLe16(out, value);
        in.str(out.str());
        EXPECT_TRUE(ReadLe16(in, read));
    } else {
        written = WriteLe32(out, value);
        in.str(out.str());
        EXPECT_TRUE(ReadLe32(in, read));
    }
    EXPECT_TRUE(written);
    EXPECT_EQ(FromStream(out), Bytes(bytes.begin(), bytes.end()));
    EXPECT_EQ(read, value);
}

struct Le32Case {
    std::uint32_t value;
    std::array<std::uint8_t, 4> bytes;
};

// Sign bits, the 2 GiB boundary and every byte position distinct.
const Le32Case kLe32Cases[] = {
    {0x00000000U, {0x00, 0x00, 0x00, 0x00}}, {0x12345678U, {0x78, 0x56, 0x34, 0x12}},
    {0x7FFFFFFFU, {0xFF, 0xFF, 0xFF, 0x7F}}, {0x80000000U, {0x00, 0x00, 0x00, 0x80}},
    {0x80000001U, {0x01, 0x00, 0x00, 0x80}}, {0xFFFFFFFFU, {0xFF, 0xFF, 0xFF, 0xFF}},
    {0x000000FFU, {0xFF, 0x00, 0x00, 0x00}}, {0x0000FF00U, {0x00, 0xFF, 0x00, 0x00}},
};

TEST(LittleEndian, ThirtyTwoBitValuesHaveTheirLowByteFirstEverywhere) {
    for (const auto& c : kLe32Cases) {
        SCOPED_TRACE(c.value);
        std::array<std::uint8_t, 4> buffer{};
        PutLe32(buffer.data(), c.value);
        EXPECT_EQ(buffer, c.bytes);
        EXPECT_EQ(GetLe32(c.bytes.data()), c.value);
        EXPECT_EQ(GetLeI32(c.bytes.data()), static_cast<std::int32_t>(c.value));

        Bytes appended{0xAA};
        AppendLe32(appended, c.value);
        EXPECT_EQ(appended, (Bytes{0xAA, c.bytes[0], c.bytes[1], c.bytes[2], c.bytes[3]}));

        ExpectStreamRoundTrip(c.value, c.bytes);
    }
}

TEST(LittleEndian, SixteenBitValuesRoundTripSignedAndUnsigned) {
    const struct {
        std::int16_t value;
        std::array<std::uint8_t, 2> bytes;
    } cases[] = {{0, {0x00, 0x00}},      {1, {0x01, 0x00}},     {-1, {0xFF, 0xFF}},
                 {0x1234, {0x34, 0x12}}, {32767, {0xFF, 0x7F}}, {-32768, {0x00, 0x80}},
                 {-256, {0x00, 0xFF}},   {255, {0xFF, 0x00}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        std::array<std::uint8_t, 2> buffer{};
        PutLeI16(buffer.data(), c.value);
        EXPECT_EQ(buffer, c.bytes);
        EXPECT_EQ(GetLeI16(c.bytes.data()), c.value);
        EXPECT_EQ(GetLe16(c.bytes.data()), static_cast<std::uint16_t>(c.value));

        ExpectStreamRoundTrip(static_cast<std::uint16_t>(c.value), c.bytes);
    }
}

TEST(LittleEndian, NegativeThirtyTwoBitValuesKeepTheirSign) {
    for (const std::int32_t v : {INT32_MIN, -1, -2147483647, 1, INT32_MAX}) {
        std::array<std::uint8_t, 4> buffer{};
        PutLeI32(buffer.data(), v);
        EXPECT_EQ(GetLeI32(buffer.data()), v);
    }
}

TEST(LittleEndian, AShortStreamFailsTheReadAndLeavesTheValue) {
    std::istringstream three(std::string("\x01\x02\x03", 3));
    std::uint32_t value32 = 77;
    EXPECT_FALSE(ReadLe32(three, value32));
    EXPECT_EQ(value32, 77U);
    std::istringstream one(std::string("\x01", 1));
    std::uint16_t value16 = 5;
    EXPECT_FALSE(ReadLe16(one, value16));
    EXPECT_EQ(value16, 5U);
    std::ostringstream bad;
    bad.setstate(std::ios::badbit);
    EXPECT_FALSE(WriteLe32(bad, 1));
    EXPECT_FALSE(WriteChunkHeader(bad, "data", 1));
}

TEST(Riff, ChunkHeadersRoundTripAndOddPayloadsSkipTheirPadByte) {
    const struct {
        const char* id;
        std::uint32_t size;
        std::uint64_t next; // of a chunk whose header is at offset 12
    } cases[] = {{"fmt ", 16, 36},
                 {"data", 0, 20},
                 {"LIST", 7, 28},
                 {"fact", 1, 22},
                 {"data", 0x80000000U, 0x80000014ULL},
                 {"data", 0xFFFFFFFFU, 0x100000014ULL}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        std::array<std::uint8_t, kChunkHeaderBytes> raw{};
        PutChunkHeader(raw.data(), c.id, c.size);
        const ChunkHeader parsed = ParseChunkHeader(raw.data());
        EXPECT_TRUE(parsed.Is(c.id));
        EXPECT_FALSE(parsed.Is("RIFX"));
        EXPECT_EQ(parsed.size, c.size);
        EXPECT_EQ(NextChunkOffset(12, parsed.size), c.next);

        Bytes appended;
        AppendChunkHeader(appended, c.id, c.size);
        std::ostringstream written;
        ASSERT_TRUE(WriteChunkHeader(written, c.id, c.size));
        EXPECT_EQ(appended, Bytes(raw.begin(), raw.end()));
        EXPECT_EQ(FromStream(written), appended);
    }
}

TEST(Riff, SizesAreClampedToThirtyTwoBitsNeverWrapped) {
    constexpr std::uint32_t kMax = UINT32_MAX;
    EXPECT_EQ(ClampU32(std::int64_t{-1}), 0U);
    EXPECT_EQ(ClampU32(INT64_MIN), 0U);
    EXPECT_EQ(ClampU32(0), 0U);
    EXPECT_EQ(ClampU32(std::int64_t{0x80000000}), 0x80000000U);
    EXPECT_EQ(ClampU32(std::int64_t{kMax}), kMax);
    EXPECT_EQ(ClampU32(std::int64_t{kMax} + 1), kMax);
    EXPECT_EQ(ClampU32(std::uint64_t{5} << 30), kMax);
    EXPECT_EQ(ClampU32(UINT64_MAX), kMax);
    EXPECT_EQ(ClampU32(-5), 0U);
    EXPECT_EQ(ClampU32(INT32_MAX), static_cast<std::uint32_t>(INT32_MAX));
}

} // namespace
} // namespace bytes
