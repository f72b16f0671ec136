// The FLAC writer and reader: what goes in comes out bit for bit at every level and layout,
// read back by our reader and by the flac program; files the flac program made decode to
// its input; failed writes name their cause.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "PcmSignals.h"
#include "WavFixtures.h"
#include "audio/FlacReader.h"
#include "audio/FlacWriter.h"
#include "audio/PcmWavWriter.h"

namespace audio::test {
namespace {

std::vector<std::uint8_t> DecodeAll(const std::string& path, TPcmFormat* format = nullptr) {
    TFlacReader reader(path);
    if (format != nullptr) {
        *format = reader.Format();
    }
    std::vector<std::uint8_t> all;
    std::vector<std::uint8_t> frame;
    while (reader.Read(frame)) {
        all.insert(all.end(), frame.begin(), frame.end());
    }
    EXPECT_EQ(reader.FramesRead(), reader.TotalFrames());
    return all;
}

void Encode(const std::string& path, const std::vector<std::uint8_t>& pcm, const TPcmFormat& format,
            int level, bool verify, std::size_t chunkFrames = 4096) {
    const std::size_t frameBytes = static_cast<std::size_t>(format.FrameBytes());
    TFlacWriter writer(path, format, level, verify, pcm.size() / frameBytes);
    for (std::size_t at = 0; at < pcm.size(); at += chunkFrames * frameBytes) {
        const std::size_t end = std::min(pcm.size(), at + chunkFrames * frameBytes);
        writer.Write(std::span(pcm).subspan(at, end - at));
    }
    writer.Finish();
}

TEST(FlacCodec, EveryLevelAndLayoutDecodesToItsInputBitForBit) {
    TempDir dir;
    struct Case {
        TPcmFormat format;
        std::size_t frames;
    };
    const Case cases[] = {
        {{2, 44100, 16}, 44100}, {{1, 96000, 24}, 30000}, {{2, 22050, 8}, 10000},
        {{6, 48000, 16}, 5000},  {{2, 8000, 32}, 4000},   {{2, 44100, 16}, 1}, // one frame
    };
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> pcm = ChordPcm(c.frames, c.format);
        for (const int level : {0, 5, 8}) {
            SCOPED_TRACE(testing::Message()
                         << c.format.Channels << "ch " << c.format.SampleRate << " Hz "
                         << c.format.BitsPerSample << " bits, level " << level);
            const std::string flac = dir.File("out.flac");
            Encode(flac, pcm, c.format, level, true);
            TPcmFormat read{};
            EXPECT_EQ(DecodeAll(flac, &read), pcm);
            EXPECT_EQ(read, c.format);
            // The flac program agrees: the stream and its checksum are sound.
            EXPECT_EQ(Shell("flac -s -t " + Quote(flac)), 0);
        }
    }
}

TEST(FlacCodec, HigherLevelsMakeSmallerFilesAndTheFlacProgramDecodesThemToTheWav) {
    TempDir dir;
    const TPcmFormat cd{2, 44100, 16};
    const std::vector<std::uint8_t> pcm = ChordPcm(5 * 44100, cd, 0.01);
    std::uintmax_t previous = 0;
    for (const int level : {8, 5, 0}) {
        const std::string flac = dir.File("l" + std::to_string(level) + ".flac");
        Encode(flac, pcm, cd, level, level == 5);
        const std::uintmax_t size = fs::file_size(flac);
        EXPECT_GT(size, previous) << "level " << level;
        EXPECT_LT(size, pcm.size()) << "level " << level;
        previous = size;
        const std::string wav = dir.File("l" + std::to_string(level) + ".wav");
        ASSERT_EQ(Shell("flac -s -d -f -o " + Quote(wav) + " " + Quote(flac)), 0);
        EXPECT_EQ(FindChunk(ReadBytes(wav), "data"), pcm) << "level " << level;
    }
}

// FLAC to WAV: what the flac program made of a WAV comes back as the same data chunk, in a
// header any reader takes.
TEST(FlacCodec, AFileTheFlacProgramMadeDecodesToTheSameWav) {
    TempDir dir;
    struct Case {
        const char* sox; // the input's layout
        TPcmFormat format;
    };
    const Case cases[] = {
        {"-r 44100 -c 2 -b 16", {2, 44100, 16}},
        {"-r 48000 -c 1 -b 24", {1, 48000, 24}},
        {"-r 11025 -c 2 -b 8", {2, 11025, 8}},
        {"-r 48000 -c 6 -b 24", {6, 48000, 24}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sox);
        const std::string in = dir.File("in.wav");
        ASSERT_EQ(Shell(std::string("sox -n ") + c.sox + " " + Quote(in) +
                        " synth 1.5 pinknoise vol 0.5"),
                  0);
        const std::string flac = dir.File("in.flac");
        ASSERT_EQ(Shell("flac -s -f -o " + Quote(flac) + " " + Quote(in)), 0);
        TPcmFormat format{};
        const std::vector<std::uint8_t> pcm = DecodeAll(flac, &format);
        EXPECT_EQ(format, c.format);
        const std::string out = dir.File("out.wav");
        TPcmWavWriter writer(out, format);
        writer.Write(pcm);
        writer.Finish();
        const auto expected = FindChunk(ReadBytes(in), "data");
        ASSERT_TRUE(expected.has_value());
        EXPECT_EQ(FindChunk(ReadBytes(out), "data"), expected);
        // sox writes the same format chunk: the extensible one (valid bits, the speakers)
        // beyond 16 bits or two channels.
        EXPECT_EQ(FindChunk(ReadBytes(out), "fmt "), FindChunk(ReadBytes(in), "fmt "));
        EXPECT_EQ(Capture("soxi -r " + Quote(out)), std::to_string(c.format.SampleRate) + "\n");
        EXPECT_EQ(Capture("soxi -c " + Quote(out)), std::to_string(c.format.Channels) + "\n");
    }
}

TEST(FlacCodec, DamagedOrForeignFilesAreRefusedWithAReason) {
    TempDir dir;
    const TPcmFormat cd{2, 44100, 16};
    const std::string flac = dir.File("good.flac");
    Encode(flac, ChordPcm(44100, cd), cd, 5, true);
    std::vector<std::uint8_t> damaged = ReadBytes(flac);
    for (std::size_t i = damaged.size() / 2; i < damaged.size() / 2 + 64; ++i) {
        damaged[i] ^= 0x5A;
    }
    const std::string bad = dir.Write("bad.flac", damaged);
    EXPECT_THROW(DecodeAll(bad), std::runtime_error);
    EXPECT_THROW(TFlacReader(dir.WriteText("text.flac", "not a FLAC file at all")),
                 std::runtime_error);
    EXPECT_THROW(TFlacReader(dir.File("missing.flac")), std::runtime_error);
}

TEST(FlacCodec, AWriteThatFailsNamesTheSystemsReason) {
    const TPcmFormat cd{2, 44100, 16};
    const std::vector<std::uint8_t> pcm = ChordPcm(44100, cd);
    try {
        Encode("/dev/full", pcm, cd, 5, true);
        ADD_FAILURE() << "a full device took the file";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), std::strerror(ENOSPC));
    }
    try {
        TPcmWavWriter writer("/dev/full", cd);
        writer.Write(pcm);
        writer.Finish();
        ADD_FAILURE() << "a full device took the WAV";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), std::strerror(ENOSPC));
    }
    TempDir dir;
    EXPECT_THROW(TFlacWriter(dir.File("no/such/folder.flac"), cd, 5, true, 0), std::runtime_error);
    // FLAC has no room for more than eight channels.
    EXPECT_THROW(TFlacWriter(dir.File("nine.flac"), TPcmFormat{9, 44100, 16}, 5, true, 0),
                 std::runtime_error);
}

} // namespace
} // namespace audio::test
