#include "bytes/WavHeader.h"

#include "bytes/LittleEndian.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace bytes {
namespace {

using testsupport::Bytes;

TEST(WavHeader, TheCdFormatHeaderIsTheCanonicalFortyFourBytes) {
    // 2 channels, 44100 Hz, 16 bits, 1000 bytes of audio, written out by hand.
    const Bytes expected = {'R',  'I',  'F',  'F',  0x0C, 0x04, 0x00, 0x00, 'W',  'A',  'V',
                            'E',  'f',  'm',  't',  ' ',  0x10, 0x00, 0x00, 0x00, 0x01, 0x00,
                            0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1, 0x02, 0x00, 0x04,
                            0x00, 0x10, 0x00, 'd',  'a',  't',  'a',  0xE8, 0x03, 0x00, 0x00};
    const auto header = PcmWavHeader(WaveFormatRecord::Pcm(2, 44100, 16), 1000);
    EXPECT_EQ(Bytes(header.begin(), header.end()), expected);
}

struct HeaderCase {
    std::uint16_t channels;
    std::uint32_t rate;
    std::uint16_t bits;
    std::uint64_t dataBytes;
    std::uint32_t riffSize;
    std::uint32_t dataSize;
    std::uint16_t blockAlign;
    std::uint32_t byteRate;
};

// Odd data counts its pad byte in the RIFF size; sizes past 32 bits stop at 4 GiB - 1.
const HeaderCase kHeaderCases[] = {
    {2, 44100, 16, 0, 36, 0, 4, 176400},
    {1, 8000, 8, 3, 40, 3, 1, 8000},
    {1, 22050, 8, 1, 38, 1, 1, 22050},
    {2, 48000, 24, 6000, 6036, 6000, 6, 288000},
    {1, 11025, 16, 0x80000000ULL, 0x80000024U, 0x80000000U, 2, 22050},
    {2, 44100, 16, 0xFFFFFFDBULL, 0xFFFFFFFFU, 0xFFFFFFDBU, 4, 176400},
    {2, 44100, 16, 0xFFFFFFDCULL, 0xFFFFFFFFU, 0xFFFFFFDCU, 4, 176400},
    {2, 44100, 16, 0xFFFFFFFFULL, 0xFFFFFFFFU, 0xFFFFFFFFU, 4, 176400},
    {2, 44100, 16, 5ULL << 30, 0xFFFFFFFFU, 0xFFFFFFFFU, 4, 176400},
    {2, 44100, 16, UINT64_MAX, 0xFFFFFFFFU, 0xFFFFFFFFU, 4, 176400},
};

TEST(WavHeader, SizesAndFormatFieldsFollowTheLayoutAndAreClamped) {
    for (const auto& c : kHeaderCases) {
        SCOPED_TRACE(testing::Message() << c.channels << "ch " << c.rate << " Hz " << c.bits
                                        << " bits, " << c.dataBytes << " bytes");
        const WaveFormatRecord format = WaveFormatRecord::Pcm(c.channels, c.rate, c.bits);
        const auto h = PcmWavHeader(format, c.dataBytes);
        EXPECT_EQ(GetLe32(&h[kRiffSizeOffset]), c.riffSize);
        EXPECT_EQ(PcmRiffSize(c.dataBytes), c.riffSize);
        EXPECT_EQ(GetLe32(&h[kPcmDataSizeOffset]), c.dataSize);
        const WaveFormatRecord parsed = ParseWaveFormatRecord(&h[20]);
        EXPECT_EQ(parsed, format);
        EXPECT_EQ(parsed.formatTag, kWaveFormatPcm);
        EXPECT_EQ(parsed.blockAlign, c.blockAlign);
        EXPECT_EQ(parsed.byteRate, c.byteRate);
    }
}

TEST(WavHeader, FormatRecordsOfOtherCodecsRoundTripFieldForField) {
    // An IMA ADPCM record: nothing in it follows from the other fields.
    const WaveFormatRecord ima{17, 2, 22050, 22311, 1024, 4};
    Bytes out{0x55};
    AppendWaveFormatRecord(out, ima);
    ASSERT_EQ(out.size(), 1 + kWaveFormatRecordBytes);
    EXPECT_EQ(out[0], 0x55);
    EXPECT_EQ(ParseWaveFormatRecord(out.data() + 1), ima);
    EXPECT_EQ(out[1], 17);
    EXPECT_EQ(out[13], 0x00); // block align 1024, low byte
    EXPECT_EQ(out[14], 0x04);
}

// Python's wave module, an independent reader, sees the layout each header announces.
TEST(WavHeader, AnIndependentReaderAcceptsTheHeaders) {
    testsupport::ScratchFolder scratch;
    const struct {
        std::uint16_t channels;
        std::uint32_t rate;
        std::uint16_t bits;
        std::uint32_t frames;
    } cases[] = {{2, 44100, 16, 100}, {1, 8000, 8, 7}, {2, 96000, 24, 10}};
    for (const auto& c : cases) {
        const WaveFormatRecord format = WaveFormatRecord::Pcm(c.channels, c.rate, c.bits);
        const std::uint64_t dataBytes = std::uint64_t{c.frames} * format.blockAlign;
        const auto header = PcmWavHeader(format, dataBytes);
        Bytes file(header.begin(), header.end());
        file.resize(file.size() + dataBytes + (dataBytes & 1), 0);
        const std::string path = scratch.Write("h.wav", file);
        const auto result = testsupport::RunCommand(
            "python3 -c 'import sys, wave; w = wave.open(sys.argv[1]); "
            "print(w.getnchannels(), w.getframerate(), w.getsampwidth(), w.getnframes())' " +
            testsupport::Quoted(path));
        ASSERT_EQ(result.ExitCode, 0) << result.Output;
        EXPECT_EQ(result.Output, std::to_string(c.channels) + " " + std::to_string(c.rate) + " " +
                                     std::to_string(c.bits / 8) + " " + std::to_string(c.frames) +
                                     "\n");
    }
}

} // namespace
} // namespace bytes
