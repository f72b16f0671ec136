#include "audio/WaveConverter.h"

#include "audio/WavFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace audio {
namespace {

using namespace audio::test;

std::stringstream StreamOf(const std::vector<uint8_t>& bytes) {
    return std::stringstream(std::string(bytes.begin(), bytes.end()),
                             std::ios::in | std::ios::out | std::ios::binary);
}

std::vector<uint8_t> BytesOf(const std::stringstream& stream) {
    const std::string s = stream.str();
    return {s.begin(), s.end()};
}

// RMS of the difference relative to the RMS of the reference, over the common length.
double RelativeError(const std::vector<int16_t>& ours, const std::vector<int16_t>& reference) {
    double diff = 0, ref = 0;
    for (std::size_t i = 0; i < std::min(ours.size(), reference.size()); ++i) {
        diff += std::pow(ours[i] - reference[i], 2);
        ref += std::pow(reference[i], 2);
    }
    return ref == 0 ? 1.0 : std::sqrt(diff / ref);
}

class WaveConverterTest : public ::testing::Test {
protected:
    TempDir dir;

    // An MPEG-layer-3 WAV made by ffmpeg, and ffmpeg's own decoding of it.
    std::vector<uint8_t> MakeMp3Wav(int channels, int rate, std::vector<int16_t>* decoded) {
        const auto pcm = S16ToBytes(TestSignal(static_cast<std::size_t>(rate), channels, rate));
        WriteBytes(dir.File("in.wav"),
                   PcmWav(pcm, static_cast<uint16_t>(channels), static_cast<uint32_t>(rate), 16));
        EXPECT_EQ(Shell("ffmpeg -v error -y -i " + dir.File("in.wav") +
                        " -c:a libmp3lame -b:a 128k -f wav " + dir.File("mp3.wav")),
                  0);
        if (decoded != nullptr) {
            EXPECT_EQ(Shell("ffmpeg -v error -y -i " + dir.File("mp3.wav") + " -f s16le " +
                            dir.File("mp3.raw")),
                      0);
            *decoded = S16Samples(ReadBytes(dir.File("mp3.raw")));
        }
        return ReadBytes(dir.File("mp3.wav"));
    }

    static MMRESULT ConvertToPcm(TWaveConverter& converter) {
        converter.TargetFormat.SetFormatTag(WAVE_FORMAT_PCM);
        const MMRESULT rc =
            acmFormatSuggest(nullptr, &converter.SourceFormat, &converter.TargetFormat,
                             kWaveFormatAreaSize, ACM_FORMATSUGGESTF_WFORMATTAG);
        return rc != MMSYSERR_NOERROR ? rc : converter.Convert();
    }
};

TEST_F(WaveConverterTest, loadingTakesTheFormatAndTheDataPayloadOfAnFfmpegFile) {
    const auto file = MakeMp3Wav(2, 44100, nullptr);
    TWaveConverter converter;
    auto stream = StreamOf(file);
    EXPECT_EQ(converter.LoadFromWaveStream(stream), 0);
    EXPECT_EQ(converter.SourceFormat.FormatTag(), WAVE_FORMAT_MPEGLAYER3);
    EXPECT_EQ(converter.SourceFormat.Channels(), 2);
    EXPECT_EQ(converter.SourceFormat.SamplesPerSec(), 44100u);
    const auto data = FindChunk(file, "data");
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ(std::vector<uint8_t>(converter.Data().begin(), converter.Data().end()), *data);
    EXPECT_EQ(converter.Position(), 0);
}

TEST_F(WaveConverterTest, convertingGivesPcmThatMatchesFfmpegsDecodingInLengthAndContent) {
    for (int channels : {1, 2}) {
        std::vector<int16_t> reference;
        const auto file = MakeMp3Wav(channels, 22050, &reference);
        TWaveConverter converter;
        auto stream = StreamOf(file);
        converter.LoadFromWaveStream(stream);
        ASSERT_EQ(ConvertToPcm(converter), MMSYSERR_NOERROR);

        EXPECT_EQ(converter.SourceFormat.Bytes, converter.TargetFormat.Bytes);
        EXPECT_EQ(converter.SourceFormat.FormatTag(), WAVE_FORMAT_PCM);
        EXPECT_EQ(converter.SourceFormat.BitsPerSample(), 16);
        EXPECT_EQ(converter.SourceFormat.Channels(), channels);
        EXPECT_EQ(converter.SourceFormat.BlockAlign(), 2 * channels);
        EXPECT_EQ(converter.SourceFormat.AvgBytesPerSec(),
                  22050u * 2 * static_cast<unsigned>(channels));

        const std::vector<uint8_t> pcm(converter.Data().begin(), converter.Data().end());
        const auto ours = S16Samples(pcm);
        // Same frame count as ffmpeg (no silent tail), give or take one MPEG frame.
        EXPECT_NEAR(static_cast<double>(ours.size()), static_cast<double>(reference.size()),
                    576.0 * channels)
            << channels << " channels";
        EXPECT_LT(RelativeError(ours, reference), 0.02) << channels << " channels";
    }
}

TEST_F(WaveConverterTest, savingWritesAPcmWavWhoseHeaderSizesAreRight) {
    const auto file = MakeMp3Wav(2, 44100, nullptr);
    TWaveConverter converter;
    auto in = StreamOf(file);
    converter.LoadFromWaveStream(in);
    ASSERT_EQ(ConvertToPcm(converter), MMSYSERR_NOERROR);
    converter.SetPosition(10);
    std::stringstream out(std::ios::in | std::ios::out | std::ios::binary);
    EXPECT_EQ(converter.SaveWavToStream(out), 0);
    EXPECT_EQ(converter.Position(), 10) << "the converter's position is restored";

    const auto wav = BytesOf(out);
    ASSERT_EQ(wav.size(), 44 + converter.Data().size());
    EXPECT_EQ(Le32(wav, 4), wav.size() - 8);
    const auto fmt = FindChunk(wav, "fmt ");
    ASSERT_TRUE(fmt.has_value());
    EXPECT_EQ(fmt->size(), 16u);
    EXPECT_EQ(Le16(*fmt, 0), 1);
    EXPECT_EQ(Le16(*fmt, 14), 16);
    EXPECT_EQ(Le32(wav, 40), converter.Data().size());
    // sox reads the result as a plain PCM file.
    WriteBytes(dir.File("saved.wav"), wav);
    EXPECT_EQ(Capture("soxi -s " + dir.File("saved.wav")),
              std::to_string(converter.Data().size() / 4) + "\n");
}

TEST_F(WaveConverterTest, aListChunkBeforeFmtAndPaddingBytesAreSkipped) {
    const auto original = MakeMp3Wav(1, 22050, nullptr);
    const auto fmt = FindChunk(original, "fmt ");
    const auto data = FindChunk(original, "data");
    ASSERT_TRUE(fmt && data);
    const auto file = WavBuilder()
                          .RiffHeader()
                          .Chunk("LIST", std::vector<uint8_t>(37, 'x'))
                          .U8(0) // the pad byte a RIFF writer adds after an odd chunk
                          .Chunk("fmt ", *fmt)
                          .Chunk("fact", {1, 2, 3, 4})
                          .Chunk("data", *data)
                          .FixRiffSize()
                          .bytes();
    TWaveConverter converter;
    auto stream = StreamOf(file);
    converter.LoadFromWaveStream(stream);
    EXPECT_EQ(converter.SourceFormat.FormatTag(), WAVE_FORMAT_MPEGLAYER3);
    EXPECT_EQ(converter.Size(), static_cast<std::int64_t>(data->size()));
    EXPECT_EQ(ConvertToPcm(converter), MMSYSERR_NOERROR);
}

TEST_F(WaveConverterTest, shortAndOversizedFormatChunksStayInsideTheFormatArea) {
    auto shortFmt = PcmFormat(2, 44100, 16, WAVE_FORMAT_MPEGLAYER3); // 16 bytes
    const auto file = WavBuilder()
                          .RiffHeader()
                          .Chunk("fmt ", shortFmt)
                          .Raw("data")
                          .U32(4)
                          .U32(0xFFFFFFFF)
                          .FixRiffSize()
                          .bytes();
    TWaveConverter converter;
    auto stream = StreamOf(file);
    converter.LoadFromWaveStream(stream);
    EXPECT_EQ(converter.SourceFormat.ExtraSize(), 0) << "bytes 16-17 are not the next chunk";
    EXPECT_EQ(converter.SourceFormat.Channels(), 2);

    std::vector<uint8_t> huge(300, 0xEE);
    huge[0] = 0x55;
    huge[1] = 0x00;
    const auto big = WavBuilder().RiffHeader().Chunk("fmt ", huge).Chunk("data", {1, 2, 3}).bytes();
    TWaveConverter other;
    auto bigStream = StreamOf(big);
    other.LoadFromWaveStream(bigStream);
    EXPECT_EQ(other.SourceFormat.FormatTag(), WAVE_FORMAT_MPEGLAYER3);
    EXPECT_EQ(other.SourceFormat.Bytes.back(), 0xEE);
    EXPECT_EQ(other.Size(), 3);
    EXPECT_LE(other.MaxFormatSize(), kWaveFormatAreaSize);
}

TEST_F(WaveConverterTest, filesThatAreNotRiffWaveOrDoNotDecodeFailToConvert) {
    auto file = MakeMp3Wav(2, 44100, nullptr);
    file[8] = 'w'; // "wAVE": the converter compares exactly
    TWaveConverter converter;
    auto stream = StreamOf(file);
    converter.LoadFromWaveStream(stream);
    EXPECT_EQ(converter.Size(), 0);
    EXPECT_NE(ConvertToPcm(converter), MMSYSERR_NOERROR);

    // Right header, payload of noise.
    std::vector<uint8_t> noise(20000);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<uint8_t>((i * 7919u) >> 3);
    auto header = FindChunk(MakeMp3Wav(2, 44100, nullptr), "fmt ");
    ASSERT_TRUE(header.has_value());
    const auto junk = WavBuilder().RiffHeader().Chunk("fmt ", *header).Chunk("data", noise).bytes();
    TWaveConverter junkConverter;
    auto junkStream = StreamOf(junk);
    junkConverter.LoadFromWaveStream(junkStream);
    EXPECT_NE(ConvertToPcm(junkConverter), MMSYSERR_NOERROR);
}

TEST(MSAcm, suggestionsAndStreamsRefuseWhatTheCodecCannotDo) {
    TWaveFormatArea mp3;
    mp3.SetFormatTag(WAVE_FORMAT_MPEGLAYER3);
    mp3.SetChannels(2);
    mp3.SetSamplesPerSec(44100);
    TWaveFormatArea pcm;
    pcm.SetFormatTag(2);
    EXPECT_EQ(
        acmFormatSuggest(nullptr, &mp3, &pcm, kWaveFormatAreaSize, ACM_FORMATSUGGESTF_WFORMATTAG),
        ACMERR_NOTPOSSIBLE);
    pcm.SetFormatTag(WAVE_FORMAT_PCM);
    pcm.SetChannels(1);
    EXPECT_EQ(
        acmFormatSuggest(nullptr, &mp3, &pcm, kWaveFormatAreaSize, ACM_FORMATSUGGESTF_NCHANNELS),
        ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(acmFormatSuggest(nullptr, &mp3, &pcm, 8, 0), MMSYSERR_INVALPARAM);

    TWaveFormatArea oddRate = mp3;
    oddRate.SetSamplesPerSec(12345);
    EXPECT_EQ(acmFormatSuggest(nullptr, &oddRate, &pcm, kWaveFormatAreaSize, 0),
              ACMERR_NOTPOSSIBLE);
    TWaveFormatArea noChannels = mp3;
    noChannels.SetChannels(0);
    EXPECT_EQ(acmFormatSuggest(nullptr, &noChannels, &pcm, kWaveFormatAreaSize, 0),
              ACMERR_NOTPOSSIBLE);

    ASSERT_EQ(acmFormatSuggest(nullptr, &mp3, &pcm, kWaveFormatAreaSize, 0), MMSYSERR_NOERROR);
    HACMSTREAM handle = 0;
    EXPECT_EQ(acmStreamOpen(&handle, nullptr, &pcm, &pcm, nullptr, 0, 0, 0), ACMERR_NOTPOSSIBLE);
    ASSERT_EQ(
        acmStreamOpen(&handle, nullptr, &mp3, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME),
        MMSYSERR_NOERROR);
    uint32_t bound = 0;
    EXPECT_EQ(acmStreamSize(handle, 4800, &bound, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
    EXPECT_GE(bound, 4800u / 418u * 1152u * 4u) << "at least the frames 128 kbit/s would hold";

    ACMSTREAMHEADER header;
    header.cbStruct = sizeof header;
    EXPECT_EQ(acmStreamConvert(handle, &header, 0), ACMERR_UNPREPARED);
    header.cbStruct = 84;
    EXPECT_EQ(acmStreamPrepareHeader(handle, &header, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmStreamClose(handle, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamClose(handle, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acmStreamSize(handle, 4800, &bound, ACM_STREAMSIZEF_SOURCE), MMSYSERR_INVALHANDLE);
}

} // namespace
} // namespace audio
