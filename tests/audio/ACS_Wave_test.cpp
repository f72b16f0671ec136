#include "audio/ACS_Wave.h"

#include "audio/TestSources.h"
#include "audio/WavFixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <future>
#include <sstream>

namespace audio {
namespace {

using namespace audio::test;

std::vector<uint8_t> ReadAll(TWaveIn& in, int chunk = 5000, std::size_t limit = SIZE_MAX) {
    std::vector<uint8_t> out;
    std::vector<uint8_t> buffer(static_cast<std::size_t>(chunk));
    in.Init();
    while (out.size() < limit) {
        const int n = in.GetData(buffer.data(), chunk);
        if (n == 0)
            break;
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    in.Flush();
    return out;
}

std::vector<int16_t> Decode(const std::string& path) {
    TWaveIn in;
    in.SetFileName(path);
    EXPECT_TRUE(in.Valid()) << path;
    return S16Samples(ReadAll(in));
}

// Largest difference between ours and the same number of leading samples of a reference;
// INT_MAX when the reference is shorter.
int DifferenceFromHead(const std::vector<int16_t>& ours, const std::vector<int16_t>& reference) {
    if (reference.size() < ours.size())
        return INT_MAX;
    return MaxDifference(ours,
                         std::vector<int16_t>(reference.begin(),
                                              reference.begin() + static_cast<long>(ours.size())));
}

// ffmpeg expands IMA nibbles with an exact multiply, where sox and we add shifted steps; the
// two stay within a small fraction of the step size (tens of units on this signal).
constexpr int kFfmpegImaTolerance = 64;

// A source of known 16-bit PCM whose total size may be left open (-1).
class TestSource : public TACSInput {
public:
    TestSource(std::vector<int16_t> samples, int channels, int rate, bool openSize)
        : bytes_(S16ToBytes(samples)), channels_(channels), rate_(rate), openSize_(openSize) {}
    ~TestSource() override { DetachUsers(); }
    std::int32_t BitsPerSample() override { return 16; }
    std::int32_t Channels() override { return channels_; }
    std::int32_t SampleRate() override { return rate_; }
    std::int32_t GetData(void* buffer, std::int32_t size) override {
        const auto n = static_cast<std::int32_t>(
            std::min<std::size_t>(static_cast<std::size_t>(size), bytes_.size() - at_));
        std::memcpy(buffer, bytes_.data() + at_, static_cast<std::size_t>(n));
        at_ += static_cast<std::size_t>(n);
        FPosition += n;
        return n;
    }
    void Init() override {
        at_ = 0;
        FPosition = 0;
        FSize = openSize_ ? -1 : static_cast<std::int32_t>(bytes_.size());
        FBusy = true;
    }
    void Flush() override { FBusy = false; }

private:
    std::vector<uint8_t> bytes_;
    std::size_t at_ = 0;
    int channels_, rate_;
    bool openSize_;
};

class WaveTest : public ::testing::Test {
protected:
    TempDir dir;

    std::string Pcm(const std::string& name, int channels, int rate, std::size_t frames,
                    int bits = 16, unsigned seed = 7) {
        const auto samples = TestSignal(frames, channels, rate, 12000.0, seed);
        std::vector<uint8_t> data = S16ToBytes(samples);
        if (bits == 8) {
            data.clear();
            for (int16_t s : samples)
                data.push_back(static_cast<uint8_t>((s >> 8) + 128));
        }
        WriteBytes(dir.File(name),
                   PcmWav(data, static_cast<uint16_t>(channels), static_cast<uint32_t>(rate),
                          static_cast<uint16_t>(bits)));
        return dir.File(name);
    }

    std::vector<uint8_t> SoxRaw(const std::string& path, int bits = 16) {
        const std::string encoding = bits == 8 ? " -e unsigned -b 8 " : " -e signed -b 16 ";
        EXPECT_EQ(Shell("sox " + Quote(path) + " -t raw" + encoding + dir.File("sox.raw")), 0);
        return ReadBytes(dir.File("sox.raw"));
    }

    std::vector<int16_t> FfmpegRaw(const std::string& path) {
        EXPECT_EQ(Shell("ffmpeg -v error -y -i " + Quote(path) + " -f s16le " + dir.File("ff.raw")),
                  0);
        return S16Samples(ReadBytes(dir.File("ff.raw")));
    }

    // Writes `in` through a TWaveOut into path.
    std::string Write(TACSInput& input, const std::string& path, TWavType type,
                      TFileOutputMode mode = foRewrite) {
        TWaveOut out;
        out.SetInput(&input);
        out.SetFileName(path);
        out.SetWavType(type);
        out.SetFileMode(mode);
        return RunToEnd(out);
    }

    std::string Copy(const std::string& from, const std::string& to, TWavType type,
                     TFileOutputMode mode = foRewrite) {
        TWaveIn in;
        in.SetFileName(from);
        return Write(in, to, type, mode);
    }
};

// ---- reading what other programs wrote ----

TEST_F(WaveTest, pcmFilesOfEveryShapeReadAsSoxReadsThemEvenWithListChunksAndOddCase) {
    for (int bits : {8, 16}) {
        for (int channels : {1, 2}) {
            const std::string path = Pcm("pcm.wav", channels, 22050, 20000, bits);
            const auto expected = SoxRaw(path, bits);
            // Rebuild it with a LIST chunk before the data and ids in the other case.
            const auto file = ReadBytes(path);
            const auto edited = WavBuilder()
                                    .Raw("riff")
                                    .U32(0)
                                    .Raw("wave")
                                    .Chunk("FMT ", *FindChunk(file, "fmt "))
                                    .Chunk("LIST", std::vector<uint8_t>(26, 'i'))
                                    .Chunk("DATA", *FindChunk(file, "data"))
                                    .bytes();
            WriteBytes(dir.File("edited.wav"), edited);
            for (const std::string& name : {path, dir.File("edited.wav")}) {
                TWaveIn in;
                in.SetFileName(name);
                ASSERT_TRUE(in.Valid()) << name;
                EXPECT_EQ(in.WavType(), wtPCM);
                EXPECT_EQ(in.BitsPerSample(), bits);
                EXPECT_EQ(in.Channels(), channels);
                EXPECT_EQ(in.SampleRate(), 22050);
                EXPECT_EQ(ReadAll(in, 777), expected) << bits << " bits " << channels << " ch";
            }
        }
    }
}

TEST_F(WaveTest, oddSizedChunksBeforeTheDataAreReadWithOrWithoutTheirPadByte) {
    const std::string path = Pcm("src.wav", 2, 22050, 3000);
    const auto file = ReadBytes(path);
    const auto expected = SoxRaw(path);
    const std::vector<uint8_t> info(27, 'i'); // an odd INFO or bext payload
    auto build = [&](bool padded) {
        WavBuilder b;
        b.RiffHeader().Chunk("fmt ", *FindChunk(file, "fmt ")).Chunk("LIST", info);
        if (padded)
            b.U8(0);
        b.Chunk("bext", std::vector<uint8_t>(5, 'b'));
        if (padded)
            b.U8(0);
        return b.Chunk("data", *FindChunk(file, "data")).FixRiffSize().bytes();
    };
    for (bool padded : {true, false}) {
        SCOPED_TRACE(padded ? "padded" : "unpadded");
        const auto bytes = build(padded);
        const std::string name = dir.File(padded ? "padded.wav" : "unpadded.wav");
        WriteBytes(name, bytes);
        if (padded) {
            EXPECT_EQ(SoxRaw(name), expected) << "the oracle reads the well-formed file";
        }
        TWaveIn in;
        in.SetFileName(name);
        ASSERT_TRUE(in.Valid());
        EXPECT_EQ(ReadAll(in, 1000), expected);
        // Appending finds the data chunk the same way.
        ASSERT_EQ(Copy(path, name, wtPCM, foAppend), "");
        TWaveIn appended;
        appended.SetFileName(name);
        EXPECT_EQ(ReadAll(appended, 4096).size(), 6000u * 4);
        if (padded) {
            EXPECT_EQ(Capture("soxi -s " + name), "6000\n");
        }
    }
}

TEST_F(WaveTest, pcmWrittenByFfmpegWithItsListChunkReadsSampleForSample) {
    const std::string source = Pcm("src.wav", 2, 44100, 30000);
    ASSERT_EQ(Shell("ffmpeg -v error -y -i " + source + " " + dir.File("ff.wav")), 0);
    ASSERT_TRUE(FindChunk(ReadBytes(dir.File("ff.wav")), "LIST").has_value());
    EXPECT_EQ(Decode(dir.File("ff.wav")), S16Samples(SoxRaw(dir.File("ff.wav"))));
}

TEST_F(WaveTest, imaAdpcmFromSoxAndFfmpegDecodesWithinOneStepOfBothDecoders) {
    for (int channels : {1, 2}) {
        const std::string source = Pcm("src.wav", channels, 22050, 30011);
        ASSERT_EQ(Shell("sox " + source + " -e ima-adpcm " + dir.File("sox_ima.wav")), 0);
        ASSERT_EQ(Shell("ffmpeg -v error -y -i " + source + " -c:a adpcm_ima_wav " +
                        dir.File("ff_ima.wav")),
                  0);
        for (const std::string& file : {dir.File("sox_ima.wav"), dir.File("ff_ima.wav")}) {
            TWaveIn in;
            in.SetFileName(file);
            ASSERT_TRUE(in.Valid()) << file;
            EXPECT_EQ(in.WavType(), wtDVIADPCM);
            EXPECT_EQ(in.BitsPerSample(), 16);
            const auto fact = FindChunk(ReadBytes(file), "fact");
            ASSERT_TRUE(fact.has_value());
            EXPECT_EQ(in.TotalSamples(), static_cast<int32_t>(Le32(*fact, 0)));
            const auto ours = Decode(file);
            EXPECT_EQ(ours.size(), Le32(*fact, 0) * static_cast<uint32_t>(channels))
                << "cut to the fact count";
            EXPECT_LE(DifferenceFromHead(ours, S16Samples(SoxRaw(file))), 1) << file;
            EXPECT_LE(DifferenceFromHead(ours, FfmpegRaw(file)), kFfmpegImaTolerance) << file;
        }
    }
}

TEST_F(WaveTest, msAdpcmFromSoxAndFfmpegDecodesExactlyAsFfmpegAndCloseToSox) {
    for (int channels : {1, 2}) {
        const std::string source = Pcm("src.wav", channels, 22050, 30011);
        ASSERT_EQ(Shell("sox " + source + " -e ms-adpcm " + dir.File("sox_ms.wav")), 0);
        ASSERT_EQ(
            Shell("ffmpeg -v error -y -i " + source + " -c:a adpcm_ms " + dir.File("ff_ms.wav")),
            0);
        const auto original = S16Samples(*FindChunk(ReadBytes(source), "data"));
        for (const std::string& file : {dir.File("sox_ms.wav"), dir.File("ff_ms.wav")}) {
            TWaveIn in;
            in.SetFileName(file);
            ASSERT_TRUE(in.Valid()) << file;
            EXPECT_EQ(in.WavType(), wtMSADPCM);
            const auto ours = Decode(file);
            const auto fact = FindChunk(ReadBytes(file), "fact");
            ASSERT_TRUE(fact.has_value());
            EXPECT_EQ(ours.size(), Le32(*fact, 0) * static_cast<uint32_t>(channels)) << file;
            EXPECT_GE(ours.size(), original.size()) << file;
            const auto reference = FfmpegRaw(file);
            ASSERT_GE(reference.size(), ours.size());
            EXPECT_TRUE(std::equal(ours.begin(), ours.end(), reference.begin())) << file;
            // sox rounds its prediction down where we truncate; the two stay close.
            const auto sox = S16Samples(SoxRaw(file));
            const std::vector<int16_t> soxHead(sox.begin(),
                                               sox.begin() + static_cast<long>(ours.size()));
            EXPECT_LT(MaxDifference(ours, soxHead), 600) << file;
        }
    }
}

TEST_F(WaveTest, mpegLayer3InWavDecodesToTheRightFormatAndLengthCloseToFfmpeg) {
    TWaveIn reused; // kept across both files: the second file must not get the first's facts
    for (int channels : {1, 2}) {
        const std::string source = Pcm("src.wav", channels, 44100, 44100);
        ASSERT_EQ(Shell("ffmpeg -v error -y -i " + source + " -c:a libmp3lame -f wav " +
                        dir.File("mp3.wav")),
                  0);
        TWaveIn in;
        in.SetFileName(dir.File("mp3.wav"));
        ASSERT_TRUE(in.Valid());
        EXPECT_EQ(in.WavType(), wtACM);
        EXPECT_EQ(in.SampleRate(), 44100);
        EXPECT_EQ(in.Channels(), channels);
        EXPECT_EQ(in.BitsPerSample(), 16);
        EXPECT_EQ(in.TotalTime(), 1);
        EXPECT_EQ(in.Decodes(), 1) << "the format queries of one file decode it once";
        const auto ours = Decode(dir.File("mp3.wav"));
        EXPECT_EQ(S16Samples(ReadAll(in)), ours);
        EXPECT_EQ(in.Decodes(), 2) << "a run decodes the file for its sound";
        reused.SetFileName(dir.File("mp3.wav"));
        EXPECT_EQ(reused.Channels(), channels);
        EXPECT_EQ(reused.Decodes(), channels) << "a changed file is decoded again";
        const auto reference = FfmpegRaw(dir.File("mp3.wav"));
        EXPECT_NEAR(static_cast<double>(ours.size()), static_cast<double>(reference.size()),
                    1152.0 * channels);
        double diff = 0, power = 0;
        for (std::size_t i = 0; i < std::min(ours.size(), reference.size()); ++i) {
            diff += std::pow(ours[i] - reference[i], 2);
            power += std::pow(reference[i], 2);
        }
        EXPECT_LT(std::sqrt(diff / power), 0.02);
        EXPECT_EQ(in.TotalSamples() * channels, static_cast<int32_t>(ours.size()));
    }
}

// ---- writing ----

TEST_F(WaveTest, aPcmCopyKeepsEveryByteAndGetsA44ByteHeaderSoxAccepts) {
    for (int bits : {8, 16}) {
        const std::string source = Pcm("src.wav", 2, 32000, 40001, bits);
        ASSERT_EQ(Copy(source, dir.File("copy.wav"), wtPCM), "");
        const auto copy = ReadBytes(dir.File("copy.wav"));
        ASSERT_GE(copy.size(), 44u);
        EXPECT_EQ(std::vector<uint8_t>(copy.begin() + 44, copy.end()),
                  *FindChunk(ReadBytes(source), "data"));
        EXPECT_EQ(Le32(copy, 4), copy.size() - 8);
        EXPECT_EQ(Le32(copy, 40), copy.size() - 44);
        EXPECT_EQ(Le32(copy, 28), 32000u * 2 * static_cast<unsigned>(bits) / 8);
        EXPECT_EQ(Capture("soxi -s " + dir.File("copy.wav")), "40001\n");
    }
}

TEST_F(WaveTest, imaFilesWeWriteDecodeTheSameInSoxFfmpegAndOurReader) {
    for (int channels : {1, 2}) {
        const std::string source = Pcm("src.wav", channels, 22050, 20000);
        ASSERT_EQ(Copy(source, dir.File("ima.wav"), wtDVIADPCM), "");
        const auto file = ReadBytes(dir.File("ima.wav"));
        ASSERT_GE(file.size(), 60u);
        EXPECT_EQ(Le32(file, 16), 20u);
        EXPECT_EQ(Le16(file, 20), 17);
        EXPECT_EQ(Le16(file, 32), 512);
        const uint32_t samplesPerBlock = channels == 1 ? 1017 : 505;
        EXPECT_EQ(Le16(file, 38), samplesPerBlock);
        EXPECT_EQ(Le32(file, 48), 20000u) << "fact holds the frames delivered";
        EXPECT_EQ(Le32(file, 56), file.size() - 60);
        EXPECT_EQ((file.size() - 60) % 512, 0u);
        EXPECT_EQ((file.size() - 60) / 512, 20000 / samplesPerBlock + 1);

        const auto ours = Decode(dir.File("ima.wav"));
        ASSERT_EQ(ours.size(), 20000u * static_cast<unsigned>(channels));
        const auto original = S16Samples(*FindChunk(ReadBytes(source), "data"));
        const std::vector<int16_t> settledOurs(ours.begin() + 400, ours.end());
        const std::vector<int16_t> settledOriginal(original.begin() + 400, original.end());
        EXPECT_LT(MaxDifference(settledOurs, settledOriginal), 3000);
        EXPECT_LE(DifferenceFromHead(ours, S16Samples(SoxRaw(dir.File("ima.wav")))), 1);
        EXPECT_LE(DifferenceFromHead(ours, FfmpegRaw(dir.File("ima.wav"))), kFfmpegImaTolerance);
    }
}

TEST_F(WaveTest, anInputOfOpenSizeGetsItsSizesFromTheFileAtTheEnd) {
    TestSource pcm(TestSignal(12345, 2, 44100), 2, 44100, true);
    ASSERT_EQ(Write(pcm, dir.File("open.wav"), wtPCM), "");
    const auto file = ReadBytes(dir.File("open.wav"));
    EXPECT_EQ(file.size(), 44u + 12345u * 4u);
    EXPECT_EQ(Le32(file, 40), file.size() - 44);
    EXPECT_EQ(Le32(file, 4), file.size() - 8);

    TestSource ima(TestSignal(12345, 1, 44100), 1, 44100, true);
    ASSERT_EQ(Write(ima, dir.File("open_ima.wav"), wtDVIADPCM), "");
    const auto adpcm = ReadBytes(dir.File("open_ima.wav"));
    EXPECT_EQ(Le32(adpcm, 56), adpcm.size() - 60);
    EXPECT_EQ(Le32(adpcm, 48), 12345u);
    // sox counts whole blocks, padding included.
    EXPECT_EQ(Capture("soxi -s " + dir.File("open_ima.wav")), std::to_string(13 * 1017) + "\n");
}

TEST_F(WaveTest, appendedPcmAndImaFilesKeepHeadersSoxAccepts) {
    const std::string a = Pcm("a.wav", 2, 44100, 10000, 16, 1);
    const std::string b = Pcm("b.wav", 2, 44100, 7000, 16, 2);
    ASSERT_EQ(Copy(a, dir.File("joined.wav"), wtPCM), "");
    ASSERT_EQ(Copy(b, dir.File("joined.wav"), wtPCM, foAppend), "");
    auto expected = *FindChunk(ReadBytes(a), "data");
    const auto second = *FindChunk(ReadBytes(b), "data");
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(SoxRaw(dir.File("joined.wav")), expected);
    EXPECT_EQ(Capture("soxi -s " + dir.File("joined.wav")), "17000\n");

    ASSERT_EQ(Copy(a, dir.File("joined_ima.wav"), wtDVIADPCM), "");
    // The writer takes the file's own format when appending, whatever it was set to.
    ASSERT_EQ(Copy(b, dir.File("joined_ima.wav"), wtPCM, foAppend), "");
    const auto file = ReadBytes(dir.File("joined_ima.wav"));
    EXPECT_EQ(Le16(file, 20), 17);
    const uint32_t blocks = (10000 / 505 + 1) + (7000 / 505 + 1);
    EXPECT_EQ(Le32(file, 56), blocks * 512);
    EXPECT_EQ(Le32(file, 48), blocks * 505);
    EXPECT_EQ(Le32(file, 4), file.size() - 8);
    EXPECT_EQ(Capture("soxi -s " + dir.File("joined_ima.wav")),
              std::to_string(blocks * 505) + "\n");
    const auto ours = Decode(dir.File("joined_ima.wav"));
    EXPECT_EQ(ours.size(), blocks * 505u * 2u);
}

TEST_F(WaveTest, refusedRunsReportTheirReasonAndLeaveTheFileAlone) {
    const std::string file44 = Pcm("44.wav", 2, 44100, 1000);
    const std::string file22 = Pcm("22.wav", 2, 22050, 1000);
    const auto before = ReadBytes(file44);
    EXPECT_EQ(Copy(file22, file44, wtPCM, foAppend),
              "Cannot append data in different audio format.");
    EXPECT_EQ(ReadBytes(file44), before);

    ASSERT_EQ(Shell("sox " + file44 + " -e ms-adpcm " + dir.File("ms.wav")), 0);
    EXPECT_EQ(Copy(file44, dir.File("ms.wav"), wtPCM, foAppend),
              "Cannot append data to this .wav file.");
    const std::string eight = Pcm("8.wav", 1, 8000, 1000, 8);
    EXPECT_EQ(Copy(eight, dir.File("x.wav"), wtDVIADPCM), "Cannot encode 8 bit sound into ADPCM.");
    EXPECT_EQ(Copy(eight, "", wtPCM), "File name is not assigned.");
    // Chunks after the data would end up inside it.
    WriteBytes(
        dir.File("tail.wav"),
        WavBuilder().Bytes(ReadBytes(file44)).Chunk("LIST", std::vector<uint8_t>(20, 'x')).bytes());
    EXPECT_EQ(Copy(file44, dir.File("tail.wav"), wtPCM, foAppend),
              "Cannot append data to this .wav file.");
}

TEST_F(WaveTest, propertySettersIgnoreValuesTheyCannotTake) {
    TWaveOut out;
    out.SetBlockSize(510);
    EXPECT_EQ(out.BlockSize(), 512);
    out.SetBlockSize(0);
    EXPECT_EQ(out.BlockSize(), 512);
    out.SetBlockSize(1024);
    EXPECT_EQ(out.BlockSize(), 1024);
    out.SetWavType(wtMSADPCM);
    EXPECT_EQ(out.WavType(), wtPCM);
    out.SetWavType(wtDVIADPCM);
    EXPECT_EQ(out.WavType(), wtDVIADPCM);
    out.SetFileMode(foAppend);
    EXPECT_EQ(out.FileMode(), foAppend);

    // A block size that stereo blocks cannot be built from is refused at the start.
    TestSource stereo(TestSignal(100, 2, 8000), 2, 8000, false);
    TWaveOut odd;
    odd.SetInput(&stereo);
    odd.SetFileName(dir.File("odd.wav"));
    odd.SetWavType(wtDVIADPCM);
    odd.SetBlockSize(516);
    EXPECT_EQ(RunToEnd(odd), "The ADPCM block size does not suit the number of channels.");
}

// ---- positioning ----

TEST_F(WaveTest, startAndEndSampleSelectExactlyThoseFramesInPcmAndAdpcm) {
    const std::string pcm = Pcm("src.wav", 2, 22050, 20000);
    ASSERT_EQ(Shell("sox " + pcm + " -e ima-adpcm " + dir.File("ima.wav")), 0);
    ASSERT_EQ(Shell("sox " + pcm + " -e ms-adpcm " + dir.File("ms.wav")), 0);
    for (const std::string& file : {pcm, dir.File("ima.wav"), dir.File("ms.wav")}) {
        const auto whole = Decode(file);
        TWaveIn in;
        in.SetFileName(file);
        in.SetStartSample(1234);
        in.SetEndSample(5678);
        const auto part = S16Samples(ReadAll(in, 999));
        EXPECT_EQ(in.Size(), (5678 - 1234) * 4);
        ASSERT_EQ(part.size(), (5678u - 1234u) * 2u) << file;
        EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin() + 1234 * 2)) << file;

        TWaveIn tail;
        tail.SetFileName(file);
        tail.SetStartSample(19000);
        const auto rest = S16Samples(ReadAll(tail));
        EXPECT_EQ(tail.Size(), (20000 - 19000) * 4);
        EXPECT_TRUE(rest.size() == 2000u &&
                    std::equal(rest.begin(), rest.end(), whole.begin() + 19000 * 2))
            << file;
    }
}

TEST_F(WaveTest, loopRestartsFromStartSampleWithoutReturningZero) {
    const std::string pcm = Pcm("src.wav", 1, 8000, 3000);
    ASSERT_EQ(Shell("sox " + pcm + " -e ima-adpcm " + dir.File("ima.wav")), 0);
    for (const std::string& file : {pcm, dir.File("ima.wav")}) {
        const auto whole = Decode(file);
        TWaveIn in;
        in.SetFileName(file);
        in.SetLoop(true);
        in.SetStartSample(1000);
        const auto looped = S16Samples(ReadAll(in, 1000, 2000 * 2 * 3 + 500));
        ASSERT_GE(looped.size(), 2000u * 3u);
        for (std::size_t i = 0; i < 2000u * 3u; ++i)
            ASSERT_EQ(looped[i], whole[1000 + i % 2000]) << file << " at " << i;
    }
}

TEST_F(WaveTest, jumpMovesByAPercentOfTheSizeAtTheNextRefill) {
    const std::string pcm = Pcm("src.wav", 2, 22050, 40000);
    ASSERT_EQ(Shell("sox " + pcm + " -e ima-adpcm " + dir.File("ima.wav")), 0);
    for (const std::string& file : {pcm, dir.File("ima.wav")}) {
        const auto whole = Decode(file);
        TWaveIn in;
        in.SetFileName(file);
        in.Init();
        std::vector<uint8_t> frame(4);
        // Reads frame by frame until the position leaps; returns {before, after} the leap.
        auto readUntilLeap = [&]() -> std::pair<int32_t, int32_t> {
            for (;;) {
                const int32_t before = in.Position();
                if (in.GetData(frame.data(), 4) != 4)
                    return {before, -1};
                if (in.Position() != before + 4)
                    return {before, in.Position()};
            }
        };
        in.GetData(frame.data(), 4);
        in.Jump(50);
        const auto [before, after] = readUntilLeap();
        ASSERT_GT(after, 0) << file;
        EXPECT_NEAR(after - 4 - before, in.Size() / 2, 4) << file;
        const auto at = static_cast<std::size_t>((after - 4) / 4); // after > 0, checked above
        EXPECT_EQ(S16Samples(frame), (std::vector<int16_t>{whole[2 * at], whole[2 * at + 1]}))
            << file;

        in.Jump(-100);
        const auto [from, to] = readUntilLeap();
        EXPECT_GT(from, after);
        EXPECT_EQ(to, 4) << "clamped to the start";
        EXPECT_EQ(S16Samples(frame), (std::vector<int16_t>{whole[0], whole[1]})) << file;
        in.Flush();
    }
}

// ---- bad input ----

TEST_F(WaveTest, headerOddities_junkBeforeWaveLongChunksAndMissingFact) {
    const std::string pcm = Pcm("src.wav", 1, 8000, 1000);
    const auto file = ReadBytes(pcm);
    const auto fmt = *FindChunk(file, "fmt ");
    const auto data = *FindChunk(file, "data");
    auto variant = [&](const std::vector<uint8_t>& bytes) {
        WriteBytes(dir.File("v.wav"), bytes);
        TWaveIn in;
        in.SetFileName(dir.File("v.wav"));
        return in.Valid() ? S16Samples(ReadAll(in)).size() : std::size_t{0};
    };
    EXPECT_EQ(variant(WavBuilder()
                          .Raw("RIFF")
                          .U32(0)
                          .Raw("junk!")
                          .Raw("WAVE")
                          .Chunk("fmt ", fmt)
                          .Chunk("data", data)
                          .bytes()),
              1000u);
    // A chunk longer than the 4096-byte scan buffer is skipped in one piece...
    EXPECT_EQ(variant(WavBuilder()
                          .RiffHeader()
                          .Chunk("fmt ", fmt)
                          .Chunk("LIST", std::vector<uint8_t>(5000, 'x'))
                          .Chunk("data", data)
                          .bytes()),
              1000u);
    // ...and a header running past 8192 bytes is given up on.
    EXPECT_EQ(variant(WavBuilder()
                          .RiffHeader()
                          .Chunk("fmt ", fmt)
                          .Chunk("LIST", std::vector<uint8_t>(9000, 'x'))
                          .Chunk("data", data)
                          .bytes()),
              0u);
    // A "fmt " chunk larger than the scan buffer keeps its first bytes.
    std::vector<uint8_t> bigFmt = fmt;
    bigFmt.resize(6000, 0);
    EXPECT_EQ(variant(WavBuilder().RiffHeader().Chunk("fmt ", bigFmt).Chunk("data", data).bytes()),
              1000u);

    ASSERT_EQ(Shell("sox " + pcm + " -e ima-adpcm " + dir.File("ima.wav")), 0);
    const auto ima = ReadBytes(dir.File("ima.wav"));
    EXPECT_EQ(variant(WavBuilder()
                          .RiffHeader()
                          .Chunk("fmt ", *FindChunk(ima, "fmt "))
                          .Chunk("data", *FindChunk(ima, "data"))
                          .bytes()),
              0u)
        << "IMA without a fact chunk before its data";
}

TEST_F(WaveTest, brokenFilesAreInvalidOrReadShortButNeverCrash) {
    const std::string pcm = Pcm("src.wav", 2, 8000, 2000);
    ASSERT_EQ(Shell("sox " + pcm + " -e ima-adpcm " + dir.File("ima.wav")), 0);
    ASSERT_EQ(Shell("sox " + pcm + " -e ms-adpcm " + dir.File("ms.wav")), 0);
    for (const std::string& source : {pcm, dir.File("ima.wav"), dir.File("ms.wav")}) {
        const auto whole = ReadBytes(source);
        const std::size_t full = Decode(source).size();
        for (std::size_t cut = 0; cut < whole.size(); cut += cut < 120 ? 1 : 997) {
            WriteBytes(dir.File("cut.wav"),
                       std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(cut)));
            TWaveIn in;
            in.SetFileName(dir.File("cut.wav"));
            if (in.Valid()) {
                const std::size_t got = S16Samples(ReadAll(in)).size();
                EXPECT_LE(got, full) << source << " cut at " << cut;
                EXPECT_EQ(in.Size() % 4, 0);
            }
        }
    }
}

TEST_F(WaveTest, lyingSizesAndImpossibleFormatsAreCaught) {
    auto valid = [&](const std::vector<uint8_t>& bytes) {
        WriteBytes(dir.File("bad.wav"), bytes);
        TWaveIn in;
        in.SetFileName(dir.File("bad.wav"));
        return in.Valid();
    };
    const std::vector<uint8_t> data(400, 0x11);
    // A data chunk claiming far more than the file holds delivers what is there.
    const auto lying = WavBuilder()
                           .RiffHeader()
                           .Chunk("fmt ", PcmFormat(2, 8000, 16))
                           .Raw("data")
                           .U32(0x7FFFFFF0)
                           .Bytes(data)
                           .bytes();
    ASSERT_TRUE(valid(lying));
    {
        TWaveIn in;
        in.SetFileName(dir.File("bad.wav"));
        in.Init();
        EXPECT_EQ(in.Size(), 400);
        in.Flush();
        EXPECT_EQ(ReadAll(in), data);
    }
    EXPECT_FALSE(valid(PcmWav(data, 0, 8000, 16))) << "zero channels";
    EXPECT_FALSE(valid(PcmWav(data, 2, 0, 16))) << "zero rate";
    EXPECT_FALSE(valid(PcmWav(data, 2, 8000, 12))) << "12-bit PCM";
    EXPECT_FALSE(
        valid(WavBuilder().RiffHeader().Chunk("fmt ", {1, 0, 2}).Chunk("data", data).bytes()))
        << "a format chunk too short to hold a format";

    // Microsoft ADPCM with 33 coefficient pairs.
    const std::string pcm = Pcm("src.wav", 1, 8000, 2000);
    ASSERT_EQ(Shell("sox " + pcm + " -e ms-adpcm " + dir.File("ms.wav")), 0);
    const auto ms = ReadBytes(dir.File("ms.wav"));
    auto fmt = *FindChunk(ms, "fmt ");
    fmt.resize(22);
    fmt[20] = 33;
    for (int i = 0; i < 33 * 4; ++i) // 33 pairs of (256, 0)
        fmt.push_back(i % 4 == 1 ? 1 : 0);
    EXPECT_FALSE(valid(WavBuilder()
                           .RiffHeader()
                           .Chunk("fmt ", fmt)
                           .Chunk("fact", {0xD0, 0x07, 0, 0})
                           .Chunk("data", *FindChunk(ms, "data"))
                           .bytes()));
    // IMA whose bits per sample is not 4.
    ASSERT_EQ(Shell("sox " + pcm + " -e ima-adpcm " + dir.File("ima.wav")), 0);
    auto ima = ReadBytes(dir.File("ima.wav"));
    ima[34] = 8;
    EXPECT_FALSE(valid(ima));
}

TEST_F(WaveTest, aBlockWithAnIndexOutOfRangeRaisesAClearError) {
    const std::string pcm = Pcm("src.wav", 1, 8000, 3000);
    ASSERT_EQ(Shell("sox " + pcm + " -e ms-adpcm " + dir.File("ms.wav")), 0);
    ASSERT_EQ(Shell("sox " + pcm + " -e ima-adpcm " + dir.File("ima.wav")), 0);
    for (const std::string& name : {dir.File("ms.wav"), dir.File("ima.wav")}) {
        auto file = ReadBytes(name);
        const bool ms = name == dir.File("ms.wav");
        const auto fmt = *FindChunk(file, "fmt ");
        // Second block's predictor index (MS) or step index (IMA).
        const std::size_t dataAt =
            static_cast<std::size_t>(
                std::search(file.begin(), file.end(), std::begin("data"), std::end("data") - 1) -
                file.begin()) +
            8;
        file[dataAt + Le16(fmt, 12) + (ms ? 0 : 2)] = ms ? 7 : 89;
        WriteBytes(dir.File("broken.wav"), file);
        TWaveIn in;
        in.SetFileName(dir.File("broken.wav"));
        ASSERT_TRUE(in.Valid());
        try {
            ReadAll(in);
            ADD_FAILURE() << "no error for " << name;
        } catch (const EACSException& e) {
            EXPECT_NE(std::string(e.what()).find("out of range"), std::string::npos) << e.what();
            in.Flush();
        }
    }
}

TEST_F(WaveTest, readerCallsOutOfOrderAreRefusedWithTheirMessages) {
    TWaveIn in;
    std::vector<uint8_t> buffer(16);
    try {
        in.GetData(buffer.data(), 16);
        ADD_FAILURE();
    } catch (const EACSException& e) {
        EXPECT_STREQ(e.what(), "The Stream is not opened");
    }
    EXPECT_FALSE(in.Valid()) << "no file name";
    in.SetFileName(dir.File("missing.wav"));
    EXPECT_THROW(in.Init(), EACSException);
    WriteBytes(dir.File("zero.wav"), PcmWav(std::vector<uint8_t>(100), 1, 0, 16));
    in.SetFileName(dir.File("zero.wav"));
    EXPECT_EQ(in.TotalTime(), 0);
}

} // namespace
} // namespace audio
