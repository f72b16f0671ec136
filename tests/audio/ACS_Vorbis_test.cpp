#include "audio/ACS_Vorbis.h"

#include "audio/TestSources.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sys/wait.h>

using namespace audio;
using namespace audio::test;
namespace fs = std::filesystem;

namespace {

struct CommandResult {
    int status = -1;
    std::string output;
};

CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char chunk[4096];
    size_t n = 0;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        result.output.append(chunk, n);
    }
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

Bytes ReadFileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

class VorbisTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vellorine-vorbis-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path Path(const std::string& name) const { return dir_ / name; }

    // Encodes source into path; returns how the run ended.
    // The log outlives the call: the sink's handlers keep pointing at it.
    TEventLog& Encode(TVorbisOut& out, TACSInput& source, const fs::path& path) {
        TEventLog& log = *logs_.emplace_back(std::make_unique<TEventLog>());
        log.Attach(out);
        out.SetInput(&source);
        out.SetFileName(path.string());
        out.Run();
        EXPECT_TRUE(log.WaitForEnds(1, std::chrono::seconds(60)));
        return log;
    }

    // A sox-made WAV encoded by oggenc; returns the .ogg path.
    fs::path OggencFile(const std::string& name, const std::string& soxSynth,
                        const std::string& oggencOptions = "-q 2") {
        const fs::path wav = Path(name + ".wav");
        const fs::path ogg = Path(name + ".ogg");
        const auto split = soxSynth.find("synth");
        const auto sox = RunCommand("sox -n " + soxSynth.substr(0, split) + " '" + wav.string() +
                                    "' " + soxSynth.substr(split));
        EXPECT_EQ(sox.status, 0) << sox.output;
        const auto enc = RunCommand("oggenc -Q " + oggencOptions + " -o '" + ogg.string() + "' '" +
                                    wav.string() + "'");
        EXPECT_EQ(enc.status, 0) << enc.output;
        return ogg;
    }

    // Raw 16-bit little-endian samples as oggdec decodes them.
    Bytes OggdecRaw(const fs::path& ogg) {
        const fs::path raw = Path(ogg.stem().string() + ".raw");
        const auto dec = RunCommand("oggdec -Q -R -b 16 -e 0 -s 1 -o '" + raw.string() + "' '" +
                                    ogg.string() + "'");
        EXPECT_EQ(dec.status, 0) << dec.output;
        return ReadFileBytes(raw);
    }

    static Bytes ReadAll(TACSInput& in, std::int32_t chunk = 4000) {
        Bytes all;
        std::vector<std::uint8_t> buffer(static_cast<size_t>(chunk));
        for (;;) {
            const std::int32_t n = in.GetData(buffer.data(), chunk);
            if (n <= 0) {
                break;
            }
            all.insert(all.end(), buffer.begin(), buffer.begin() + n);
        }
        return all;
    }

    fs::path dir_;
    std::vector<std::unique_ptr<TEventLog>> logs_;
};

// Mean of a*b over the shorter signal divided by the input's power: near 1 when the decoded
// signal follows the input.
double Similarity(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
    double cross = 0;
    double power = 0;
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        cross += double(a[i]) * b[i];
        power += double(a[i]) * a[i];
    }
    return power > 0 ? cross / power : 0;
}

std::string Field(const std::string& text, const std::string& pattern) {
    std::smatch match;
    return std::regex_search(text, match, std::regex(pattern)) ? match[1].str() : std::string();
}

struct OggPage {
    std::uint8_t flags;
    std::uint32_t serial;
    std::int64_t granule;
    int segments;
    int packetsEnded; // lacing values below 255
};

std::vector<OggPage> ParsePages(const Bytes& file) {
    std::vector<OggPage> pages;
    size_t at = 0;
    while (at + 27 <= file.size() && std::memcmp(&file[at], "OggS", 4) == 0) {
        OggPage page{};
        page.flags = file[at + 5];
        for (int i = 7; i >= 0; --i) {
            page.granule = (page.granule << 8) | file[at + 6 + static_cast<size_t>(i)];
        }
        for (int i = 3; i >= 0; --i) {
            page.serial = (page.serial << 8) | file[at + 14 + static_cast<size_t>(i)];
        }
        page.segments = file[at + 26];
        size_t body = 0;
        for (int i = 0; i < page.segments; ++i) {
            const std::uint8_t lace = file[at + 27 + static_cast<size_t>(i)];
            body += lace;
            page.packetsEnded += lace < 255 ? 1 : 0;
        }
        pages.push_back(page);
        at += 27 + static_cast<size_t>(page.segments) + body;
    }
    EXPECT_EQ(at, file.size()) << "trailing bytes after the last page";
    return pages;
}

} // namespace

// ---- writer ---------------------------------------------------------------------------------

TEST(VorbisBitRate, TheTableGivesTheEncoderItsBitsPerSecond) {
    EXPECT_EQ(VorbisBitRateValue(brAutoSelect), -1);
    EXPECT_EQ(VorbisBitRateValue(br45), 45000);
    EXPECT_EQ(VorbisBitRateValue(br56), 46000);
    EXPECT_EQ(VorbisBitRateValue(br128), 128000);
    EXPECT_EQ(VorbisBitRateValue(br499), 499000);
}

TEST(VorbisOut, BitRateSettersKeepMinimumNominalAndMaximumInOrder) {
    TVorbisOut out;
    out.SetDesiredMaximumBitrate(br192); // no nominal yet: ignored
    EXPECT_EQ(out.DesiredMaximumBitrate(), brAutoSelect);
    out.SetMinimumBitrate(br64); // above the nominal (auto): ignored
    EXPECT_EQ(out.MinimumBitrate(), brAutoSelect);

    out.SetDesiredNominalBitrate(br128);
    EXPECT_EQ(out.DesiredMaximumBitrate(), br128); // pulled up to the nominal
    out.SetDesiredMaximumBitrate(br96);            // below the nominal: ignored
    EXPECT_EQ(out.DesiredMaximumBitrate(), br128);
    out.SetDesiredMaximumBitrate(br192);
    EXPECT_EQ(out.DesiredMaximumBitrate(), br192);
    out.SetDesiredMaximumBitrate(brAutoSelect);
    EXPECT_EQ(out.DesiredMaximumBitrate(), brAutoSelect);
    out.SetMinimumBitrate(br160); // above the nominal: ignored
    EXPECT_EQ(out.MinimumBitrate(), brAutoSelect);
    out.SetMinimumBitrate(br96);
    EXPECT_EQ(out.MinimumBitrate(), br96);

    out.SetDesiredNominalBitrate(br64); // pulls the minimum down with it
    EXPECT_EQ(out.MinimumBitrate(), br64);
    out.SetDesiredMaximumBitrate(br320);
    out.SetDesiredNominalBitrate(brAutoSelect);
    EXPECT_EQ(out.DesiredMaximumBitrate(), brAutoSelect);
    EXPECT_EQ(out.MinimumBitrate(), brAutoSelect);

    out.SetFileMode(foAppend);
    EXPECT_EQ(out.FileMode(), foAppend);
}

TEST_F(VorbisTest, QualityModeFilesDecodeWithOggdecAndFfmpegToTheInputLengthAndRate) {
    struct Case {
        std::int32_t rate;
        std::vector<double> freqs;
        std::int32_t chunk; // odd deliveries, even shorter than a frame, must not lose samples
    };
    for (const Case& c : {Case{44100, {440.0, 660.0}, 10001}, Case{22050, {1000.0}, 1}}) {
        SCOPED_TRACE(c.rate);
        const Bytes pcm = SinePcm(c.rate, c.freqs, 2.5, 12000);
        TMemorySource source(pcm, c.rate, static_cast<std::int32_t>(c.freqs.size()), 16);
        source.chunk = c.chunk;
        TVorbisOut out;
        out.SetCompression(0.2f);
        const fs::path ogg = Path("quality" + std::to_string(c.rate) + ".ogg");
        TEventLog& log = Encode(out, source, ogg);
        ASSERT_EQ(log.Done(), 1) << log.LastMessage();
        EXPECT_FALSE(out.Busy());

        const Bytes decoded = OggdecRaw(ogg);
        EXPECT_EQ(decoded.size(), pcm.size());
        EXPECT_GT(Similarity(S16Samples(pcm), S16Samples(decoded)), 0.9);

        const auto probe = RunCommand("ffprobe -v error -show_entries stream=sample_rate,channels"
                                      ":format=duration -of default=nw=1 '" +
                                      ogg.string() + "'");
        ASSERT_EQ(probe.status, 0) << probe.output;
        EXPECT_EQ(Field(probe.output, "sample_rate=(\\d+)"), std::to_string(c.rate));
        EXPECT_EQ(Field(probe.output, "channels=(\\d+)"), std::to_string(c.freqs.size()));
        EXPECT_NEAR(std::stod(Field(probe.output, "duration=([0-9.]+)")), 2.5, 0.01);
        const auto ffdec =
            RunCommand("ffmpeg -v error -i '" + ogg.string() + "' -f s16le - | wc -c");
        // ffmpeg may keep the padding of the last block.
        EXPECT_NEAR(double(std::stoul(ffdec.output)), double(pcm.size()),
                    2048.0 * 2 * static_cast<double>(c.freqs.size()));
    }
}

TEST_F(VorbisTest, ManagedModeAsksTheEncoderForTheChosenBitRates) {
    // Noise keeps the encoder at its limits, so the file's rate shows the setting.
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0, 6000);
    std::vector<std::int16_t> samples(44100 * 2 * 6);
    for (auto& s : samples) {
        s = static_cast<std::int16_t>(std::clamp(noise(random), -32000.0, 32000.0));
    }
    struct Case {
        TVorbisBitRate nominal;
        TVorbisBitRate maximum;
        std::string nominalText;
        std::string upperText;
        std::string lowerText;
    };
    for (const Case& c :
         {Case{br128, brAutoSelect, "128", "128", "128"},
          Case{br56, brAutoSelect, "46", "46", "46"}, Case{br96, br160, "96", "160", "96"}}) {
        SCOPED_TRACE(c.nominalText);
        TMemorySource source(Pcm16(samples), 44100, 2, 16);
        TVorbisOut out;
        out.SetDesiredNominalBitrate(c.nominal);
        out.SetDesiredMaximumBitrate(c.maximum);
        const fs::path ogg = Path("managed" + c.nominalText + ".ogg");
        TEventLog& log = Encode(out, source, ogg);
        ASSERT_EQ(log.Done(), 1) << log.LastMessage();
        const auto info = RunCommand("ogginfo '" + ogg.string() + "'");
        ASSERT_EQ(info.status, 0) << info.output;
        EXPECT_EQ(Field(info.output, "Nominal bitrate: ([0-9]+)"), c.nominalText) << info.output;
        EXPECT_EQ(Field(info.output, "Upper bitrate: ([0-9]+)"), c.upperText);
        EXPECT_EQ(Field(info.output, "Lower bitrate: ([0-9]+)"), c.lowerText);
        const double average = std::stod(Field(info.output, "Average bitrate: ([0-9.]+)"));
        EXPECT_NEAR(average, std::stod(c.nominalText), std::stod(c.nominalText) * 0.15);
    }
}

TEST_F(VorbisTest, AnEmptyInputGivesTheThreeHeadersAndAnEndOfStreamPage) {
    TMemorySource source({}, 44100, 2, 16);
    TVorbisOut out;
    out.SetSerial(0x1234abcd);
    const fs::path ogg = Path("empty.ogg");
    TEventLog& log = Encode(out, source, ogg);
    ASSERT_EQ(log.Done(), 1) << log.LastMessage();

    const auto pages = ParsePages(ReadFileBytes(ogg));
    ASSERT_GE(pages.size(), 3u);
    EXPECT_EQ(pages[0].flags & 0x02, 0x02); // beginning of stream
    EXPECT_EQ(pages[0].packetsEnded, 1);    // identification header alone
    EXPECT_EQ(pages[0].granule, 0);
    EXPECT_EQ(pages[1].packetsEnded, 2); // comment and codebooks on their own page
    EXPECT_EQ(pages[1].granule, 0);
    EXPECT_EQ(pages.back().flags & 0x04, 0x04); // end of stream
    for (size_t i = 0; i + 1 < pages.size(); ++i) {
        EXPECT_EQ(pages[i].flags & 0x04, 0);
    }
    for (const auto& page : pages) {
        EXPECT_EQ(page.serial, 0x1234abcdu);
    }
    const auto info = RunCommand("ogginfo '" + ogg.string() + "'");
    EXPECT_EQ(info.status, 0) << info.output;
    EXPECT_EQ(info.output.find("WARNING"), std::string::npos) << info.output;
}

TEST_F(VorbisTest, CommentsApplyToOneRunOnly) {
    const Bytes pcm = SinePcm(44100, {500.0, 500.0}, 0.5, 8000);
    TMemorySource source(pcm, 44100, 2, 16);
    TVorbisOut out;
    out.SetComments({"TITLE=First run", "ARTIST=Somebody", "NOVALUE"});
    TEventLog& first = Encode(out, source, Path("first.ogg"));
    ASSERT_EQ(first.Done(), 1) << first.LastMessage();
    EXPECT_TRUE(out.Comments().empty());
    TEventLog& second = Encode(out, source, Path("second.ogg"));
    ASSERT_EQ(second.Done(), 1) << second.LastMessage();

    TVorbisIn in;
    in.SetFileName(Path("first.ogg").string());
    ASSERT_TRUE(in.Valid());
    EXPECT_EQ(in.Comments(),
              (std::vector<std::string>{"TITLE=First run", "ARTIST=Somebody", "NOVALUE="}));
    in.SetFileName(Path("second.ogg").string());
    ASSERT_TRUE(in.Valid());
    EXPECT_TRUE(in.Comments().empty());
    const auto listed = RunCommand("vorbiscomment -l '" + Path("first.ogg").string() + "'");
    EXPECT_NE(listed.output.find("TITLE=First run"), std::string::npos) << listed.output;
}

TEST_F(VorbisTest, AppendingAddsASecondStreamAfterTheFirst) {
    const Bytes pcm = SinePcm(44100, {700.0, 700.0}, 1.0, 8000);
    TMemorySource source(pcm, 44100, 2, 16);
    const fs::path ogg = Path("append.ogg");
    {
        TVorbisOut out;
        out.SetSerial(1);
        ASSERT_EQ(Encode(out, source, ogg).Done(), 1);
    }
    {
        TVorbisOut out;
        out.SetSerial(2);
        out.SetFileMode(foAppend);
        ASSERT_EQ(Encode(out, source, ogg).Done(), 1);
    }
    const auto info = RunCommand("ogginfo '" + ogg.string() + "'");
    EXPECT_EQ(info.status, 0) << info.output;
    EXPECT_NE(info.output.find("Logical stream 2 ended"), std::string::npos) << info.output;
    TVorbisIn in;
    in.SetFileName(ogg.string());
    in.Init();
    EXPECT_EQ(ReadAll(in).size(), 2 * pcm.size());
    in.Flush();
}

TEST_F(VorbisTest, RefusedRunsEndThroughTheExceptionEventAndLeaveTheSinkIdle) {
    TMemorySource eightBit(Bytes(4000, 128), 8000, 1, 8);
    TVorbisOut out;
    TEventLog& log = Encode(out, eightBit, Path("eight.ogg"));
    EXPECT_EQ(log.Failures(), 1);
    EXPECT_NE(log.LastMessage().find("16-bit"), std::string::npos);
    EXPECT_FALSE(out.Busy());
    EXPECT_EQ(eightBit.flushes.load(), eightBit.inits.load()); // the input was released

    TMemorySource oddRate(SinePcm(1000, {100.0}, 0.2, 1000), 1000, 1, 16);
    out.SetDesiredNominalBitrate(br499); // no mode exists for this: must not crash
    TEventLog& refused = Encode(out, oddRate, Path("odd.ogg"));
    EXPECT_EQ(refused.Failures(), 1);

    TVorbisOut unnamed;
    TEventLog& nameless = Encode(unnamed, oddRate, fs::path());
    EXPECT_EQ(nameless.Failures(), 1);
    EXPECT_EQ(nameless.LastMessage(), "File name is not assigned.");

    // And the sink still works afterwards.
    TMemorySource good(SinePcm(44100, {300.0}, 0.3, 8000), 44100, 1, 16);
    out.SetDesiredNominalBitrate(brAutoSelect);
    EXPECT_EQ(Encode(out, good, Path("good.ogg")).Done(), 1);
}

// ---- reader ---------------------------------------------------------------------------------

TEST_F(VorbisTest, ReaderGivesOggdecsSamplesAndTheFilesFormat) {
    const fs::path ogg = OggencFile("music", "-r 44100 -c 2 -b 16 synth 3.3 sine 440 sine 554",
                                    "-q 2 -c ARTIST=Tester -c TITLE=Tune");
    const Bytes expected = OggdecRaw(ogg);
    ASSERT_FALSE(expected.empty());

    TVorbisIn in;
    in.SetFileName(ogg.string());
    ASSERT_TRUE(in.Valid());
    EXPECT_EQ(in.SampleRate(), 44100);
    EXPECT_EQ(in.Channels(), 2);
    EXPECT_EQ(in.BitsPerSample(), 16);
    EXPECT_EQ(in.TotalTime(), 3);
    EXPECT_EQ(in.Comments(), (std::vector<std::string>{"ARTIST=Tester", "TITLE=Tune"}));
    EXPECT_GT(in.NominalBitrate(), 0);
    in.Init();
    EXPECT_EQ(in.Size(), static_cast<std::int32_t>(expected.size()));
    EXPECT_EQ(in.TotalSamples() * 4, in.Size());
    const Bytes got = ReadAll(in, 3001);
    EXPECT_EQ(in.Position(), in.Size());
    in.Flush();
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
    EXPECT_THROW(in.GetData(nullptr, 0), EACSException);
}

TEST_F(VorbisTest, WhatTheWriterWritesTheReaderReadsBackAtFullLength) {
    const Bytes pcm = SinePcm(32000, {300.0}, 1.7, 9000);
    TMemorySource source(pcm, 32000, 1, 16);
    TVorbisOut out;
    ASSERT_EQ(Encode(out, source, Path("round.ogg")).Done(), 1);
    TVorbisIn in;
    in.SetFileName(Path("round.ogg").string());
    in.Init();
    const Bytes back = ReadAll(in);
    in.Flush();
    EXPECT_EQ(back.size(), pcm.size());
    EXPECT_EQ(in.TotalTime(), 2);
    EXPECT_GT(Similarity(S16Samples(pcm), S16Samples(back)), 0.9);
}

TEST_F(VorbisTest, JumpsMoveByAPercentOfTheSizeAndClampAtTheEnds) {
    const fs::path ogg = OggencFile("jump", "-r 22050 -c 2 -b 16 synth 4 sine 300-900 sine 500");
    const Bytes expected = OggdecRaw(ogg);
    TVorbisIn in;
    in.SetFileName(ogg.string());
    in.Init();
    const std::int32_t size = in.Size();
    ASSERT_EQ(size, static_cast<std::int32_t>(expected.size()));
    std::vector<std::uint8_t> buffer(8192);
    while (in.Position() < size / 2) {
        ASSERT_GT(in.GetData(buffer.data(), 8192), 0);
    }
    const std::int32_t before = in.Position();
    in.Jump(10);
    ASSERT_EQ(in.GetData(buffer.data(), 4096), 4096);
    std::int32_t target = before + static_cast<std::int32_t>(std::nearbyint(0.1 * size));
    target -= target % 4;
    EXPECT_EQ(in.Position(), target + 4096);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 4096, expected.begin() + target));

    ASSERT_EQ(in.GetData(buffer.data(), 8192), 4096); // the rest of the decoded block
    in.Jump(-400);
    ASSERT_EQ(in.GetData(buffer.data(), 4096), 4096);
    EXPECT_EQ(in.Position(), 4096);
    int worst = 0;
    for (std::size_t i = 0; i < 4096; i += 2) {
        const int a = static_cast<std::int16_t>(buffer[i] | buffer[i + 1] << 8);
        const int b = static_cast<std::int16_t>(expected[i] | expected[i + 1] << 8);
        worst = std::max(worst, std::abs(a - b));
    }
    EXPECT_LE(worst, 2) << "worst difference from the start";
    ASSERT_EQ(in.GetData(buffer.data(), 8192), 4096);
    in.Jump(400);
    EXPECT_EQ(in.GetData(buffer.data(), 4096), 0);
    EXPECT_EQ(in.Position(), size);
    in.Flush();
}

TEST_F(VorbisTest, StartAndEndSamplesSelectAPartAndLoopingStartsOverWithoutLosingTheTail) {
    const fs::path ogg = OggencFile("part", "-r 44100 -c 2 -b 16 synth 2 sine 200-2000");
    const Bytes expected = OggdecRaw(ogg);
    TVorbisIn in;
    in.SetFileName(ogg.string());
    in.SetStartSample(10000);
    in.SetEndSample(30001);
    in.Init();
    EXPECT_EQ(in.Size(), 20001 * 4);
    const Bytes part = ReadAll(in, 5000);
    in.Flush();
    ASSERT_EQ(part.size(), 20001u * 4);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), expected.begin() + 40000));

    TVorbisIn looping;
    looping.SetFileName(ogg.string());
    looping.SetLoop(true);
    looping.Init();
    Bytes got;
    std::vector<std::uint8_t> buffer(7000);
    while (got.size() < expected.size() + 50000) {
        const std::int32_t n = looping.GetData(buffer.data(), 7000);
        ASSERT_GT(n, 0);
        got.insert(got.end(), buffer.begin(), buffer.begin() + n);
    }
    looping.Flush();
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin()));
    EXPECT_TRUE(
        std::equal(got.begin() + static_cast<long>(expected.size()), got.end(), expected.begin()));
}

TEST_F(VorbisTest, FilesThatAreNotOggVorbisLeaveTheReaderInvalidAndNeverDecode) {
    WriteFileBytes(Path("text.ogg"), Bytes(5000, 'x'));
    WriteFileBytes(Path("empty.ogg"), Bytes());
    const fs::path real = OggencFile("real", "-r 44100 -c 2 -b 16 synth 1 sine 440");
    Bytes header = ReadFileBytes(real);
    header.resize(60); // the identification page only
    WriteFileBytes(Path("headeronly.ogg"), header);
    for (const char* name : {"text.ogg", "empty.ogg", "missing.ogg", "headeronly.ogg"}) {
        SCOPED_TRACE(name);
        TVorbisIn in;
        in.SetFileName(Path(name).string());
        EXPECT_FALSE(in.Valid());
        EXPECT_EQ(in.TotalTime(), 0);
        EXPECT_EQ(in.Channels(), 0);
        EXPECT_THROW(in.Init(), EACSException);
        EXPECT_FALSE(in.Busy());
        EXPECT_THROW(in.GetData(nullptr, 10), EACSException);
    }
    TVorbisIn unnamed;
    EXPECT_FALSE(unnamed.Valid());

    // Through a pipeline the failure arrives as the run's exception.
    TVorbisIn bad;
    bad.SetFileName(Path("text.ogg").string());
    TVorbisOut out;
    TEventLog& log = Encode(out, bad, Path("out.ogg"));
    EXPECT_EQ(log.Failures(), 1);
    EXPECT_NE(log.LastMessage().find("Ogg Vorbis"), std::string::npos);
}

TEST_F(VorbisTest, ATruncatedFileDecodesWhatItHoldsAndThenEnds) {
    const fs::path ogg = OggencFile("long", "-r 44100 -c 2 -b 16 synth 5 sine 440 sine 880");
    const Bytes expected = OggdecRaw(ogg);
    Bytes file = ReadFileBytes(ogg);
    file.resize(file.size() / 2);
    WriteFileBytes(Path("cut.ogg"), file);
    TVorbisIn in;
    in.SetFileName(Path("cut.ogg").string());
    ASSERT_TRUE(in.Valid());
    in.Init();
    const Bytes got = ReadAll(in);
    in.Flush();
    EXPECT_GT(got.size(), expected.size() / 8);
    EXPECT_LT(got.size(), expected.size());
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 100000, expected.begin()));
}

TEST_F(VorbisTest, AFileRemovedAfterTheValidityCheckMakesInitFail) {
    const fs::path ogg = OggencFile("gone", "-r 44100 -c 1 -b 16 synth 1 sine 440");
    TVorbisIn in;
    in.SetFileName(ogg.string());
    ASSERT_TRUE(in.Valid());
    fs::remove(ogg);
    EXPECT_THROW(in.Init(), EACSException);
    EXPECT_FALSE(in.Busy());
}

TEST_F(VorbisTest, AChainThatChangesTheChannelCountIsNotValid) {
    const fs::path mono = OggencFile("mono", "-r 44100 -c 1 -b 16 synth 1 sine 440");
    const fs::path stereo =
        OggencFile("stereo", "-r 44100 -c 2 -b 16 synth 1 sine 440", "-q 2 -s 11");
    const fs::path stereo2 =
        OggencFile("stereo2", "-r 44100 -c 2 -b 16 synth 1 sine 440", "-q 2 -s 12");
    Bytes chain = ReadFileBytes(mono);
    const Bytes tail = ReadFileBytes(stereo);
    chain.insert(chain.end(), tail.begin(), tail.end());
    WriteFileBytes(Path("chain.ogg"), chain);
    TVorbisIn in;
    in.SetFileName(Path("chain.ogg").string());
    EXPECT_FALSE(in.Valid());
    EXPECT_THROW(in.Init(), EACSException);

    // A chain of equal links plays through as one stream.
    Bytes same = ReadFileBytes(stereo2);
    same.insert(same.end(), tail.begin(), tail.end());
    WriteFileBytes(Path("same.ogg"), same);
    TVorbisIn both;
    both.SetFileName(Path("same.ogg").string());
    ASSERT_TRUE(both.Valid());
    both.Init();
    EXPECT_EQ(ReadAll(both).size(), 2 * OggdecRaw(stereo).size());
    both.Flush();
}
