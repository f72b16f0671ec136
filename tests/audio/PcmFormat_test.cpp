// Raw PCM bytes to sample values and back, and the WAV reader the in-process encoders read
// their input with.
#include "audio/PcmFormat.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "PcmSignals.h"
#include "WavFixtures.h"
#include "audio/PcmWavReader.h"

namespace audio::test {
namespace {

TEST(PcmFormat, BytesBecomeSignedValuesOfTheirDepthAndBackUnchanged) {
    struct Case {
        int bits;
        std::vector<std::uint8_t> bytes;
        std::vector<std::int32_t> values;
    };
    const Case cases[] = {
        {8, {0x00, 0x80, 0xFF, 0x7F}, {-128, 0, 127, -1}},
        {16, {0x00, 0x80, 0xFF, 0x7F, 0xFF, 0xFF, 0x01, 0x00}, {-32768, 32767, -1, 1}},
        {24,
         {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x56, 0x34, 0x12},
         {-8388608, 8388607, -1, 0x123456}},
        {32,
         {0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x7F, 0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0},
         {INT32_MIN, INT32_MAX, -2, 0}},
    };
    for (const Case& c : cases) {
        const TPcmFormat format{2, 44100, c.bits};
        std::vector<std::int32_t> values;
        PcmToInt32(c.bytes, format, values);
        EXPECT_EQ(values, c.values) << c.bits << " bits";
        std::vector<std::uint8_t> back;
        Int32ToPcm(values, format, back);
        EXPECT_EQ(back, c.bytes) << c.bits << " bits";
    }
    // A part frame at the end is not a frame.
    std::vector<std::int32_t> values;
    PcmToInt32(std::vector<std::uint8_t>{1, 0, 2, 0, 3}, TPcmFormat{2, 44100, 16}, values);
    EXPECT_EQ(values, (std::vector<std::int32_t>{1, 2}));
}

TEST(PcmFormat, FloatsAreScaledToFullScaleOfTheirDepth) {
    std::vector<float> out;
    Int32ToFloat(std::vector<std::int32_t>{-32768, 16384, 0}, 16, out);
    EXPECT_EQ(out, (std::vector<float>{-1.0f, 0.5f, 0.0f}));
    Int32ToFloat(std::vector<std::int32_t>{-8388608, 4194304}, 24, out);
    EXPECT_EQ(out, (std::vector<float>{-1.0f, 0.5f}));
    Int32ToFloat(std::vector<std::int32_t>{-128, 64}, 8, out);
    EXPECT_EQ(out, (std::vector<float>{-1.0f, 0.5f}));
}

// The extensible format's sub-format says whether its samples are PCM.
std::vector<std::uint8_t> ExtensibleFormat(std::uint16_t channels, std::uint32_t rate,
                                           std::uint16_t bits, std::uint16_t subFormat) {
    return WavBuilder()
        .Bytes(PcmFormat(channels, rate, bits, 0xFFFE))
        .U16(22)
        .U16(bits)
        .U32(3)
        .U16(subFormat)
        .Raw("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71")
        .bytes();
}

TEST(PcmWavReader, ReadsThePcmOfEveryPlainLayoutAndRefusesTheRest) {
    TempDir dir;
    const TPcmFormat stereo24{2, 96000, 24};
    const std::vector<std::uint8_t> audio = ChordPcm(1000, stereo24);
    const std::vector<std::uint8_t> odd = {1, 2, 3}; // one 24-bit mono frame: padded chunk
    struct Case {
        const char* name;
        std::vector<std::uint8_t> file;
        TPcmFormat format;
        std::vector<std::uint8_t> data; // what is read; empty with error set
        const char* error = "";
    };
    const Case cases[] = {
        {"plain", PcmWav(audio, 2, 96000, 24), stereo24, audio},
        {"extensible",
         WavBuilder()
             .RiffHeader()
             .Chunk("fmt ", ExtensibleFormat(2, 96000, 24, 1))
             .Chunk("data", audio)
             .FixRiffSize()
             .bytes(),
         stereo24, audio},
        {"chunks before and after data",
         WavBuilder()
             .RiffHeader()
             .Chunk("LIST", odd)
             .U8(0)
             .Chunk("fmt ", PcmFormat(1, 8000, 24))
             .Chunk("data", odd)
             .U8(0)
             .Chunk("id3 ", {9, 9})
             .FixRiffSize()
             .bytes(),
         TPcmFormat{1, 8000, 24}, odd},
        {"data size past the end",
         WavBuilder()
             .RiffHeader()
             .Chunk("fmt ", PcmFormat(2, 44100, 16))
             .Raw("data")
             .U32(0xFFFFFFFF)
             .Bytes({1, 0, 2, 0, 3, 0, 4, 0, 5})
             .bytes(),
         TPcmFormat{2, 44100, 16},
         {1, 0, 2, 0, 3, 0, 4, 0}},
        {"float samples",
         WavBuilder()
             .RiffHeader()
             .Chunk("fmt ", PcmFormat(2, 44100, 32, 3))
             .Chunk("data", audio)
             .bytes(),
         {},
         {},
         "format 3"},
        {"extensible float",
         WavBuilder()
             .RiffHeader()
             .Chunk("fmt ", ExtensibleFormat(2, 44100, 32, 3))
             .Chunk("data", audio)
             .bytes(),
         {},
         {},
         "format 3"},
        {"12-bit", PcmWav(audio, 2, 44100, 12), {}, {}, "12 bits"},
        {"no data",
         WavBuilder().RiffHeader().Chunk("fmt ", PcmFormat(2, 44100, 16)).bytes(),
         {},
         {},
         "no data chunk"},
        {"data first",
         WavBuilder().RiffHeader().Chunk("data", odd).Chunk("fmt ", PcmFormat(1, 8000, 8)).bytes(),
         {},
         {},
         "data before format"},
        {"not RIFF", std::vector<std::uint8_t>(64, 'x'), {}, {}, "no RIFF WAVE header"},
        {"empty", {}, {}, {}, "no RIFF WAVE header"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Write("in.wav", c.file);
        if (*c.error != '\0') {
            try {
                TPcmWavReader reader(path);
                ADD_FAILURE() << "read";
            } catch (const std::runtime_error& e) {
                EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
            }
            continue;
        }
        TPcmWavReader reader(path);
        EXPECT_EQ(reader.Format(), c.format);
        const std::size_t frameBytes = static_cast<std::size_t>(c.format.FrameBytes());
        EXPECT_EQ(reader.TotalFrames(), c.data.size() / frameBytes);
        std::vector<std::uint8_t> all;
        std::vector<std::uint8_t> chunk;
        for (reader.Read(chunk, 333); !chunk.empty(); reader.Read(chunk, 333)) {
            EXPECT_LE(chunk.size(), 333 * frameBytes);
            all.insert(all.end(), chunk.begin(), chunk.end());
        }
        EXPECT_EQ(all, c.data);
        EXPECT_EQ(reader.FramesRead(), reader.TotalFrames());
    }
    EXPECT_THROW(TPcmWavReader(dir.File("missing.wav")), std::runtime_error);
}

} // namespace
} // namespace audio::test
