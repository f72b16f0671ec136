#include "audio/adpcm.h"

#include "audio/WavFixtures.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <vector>

namespace audio::adpcm {
namespace {

using test::TestSignal;

std::vector<int16_t> DecodeIma(const std::vector<uint8_t>& block, int channels) {
    const auto width = static_cast<std::size_t>(channels);
    std::vector<int16_t> out(ImaFramesPerBlock(block.size(), channels) * width);
    const DecodeResult result = DecodeImaBlock(block, channels, out);
    EXPECT_EQ(result.status, BlockStatus::Ok);
    out.resize(result.frames * width);
    return out;
}

TEST(ImaAdpcm, aMono512ByteBlockDecodesTo1017SamplesAndAStereo1024ByteBlockTo1017Frames) {
    EXPECT_EQ(ImaFramesPerBlock(512, 1), 1017u);
    EXPECT_EQ(ImaFramesPerBlock(1024, 2), 1017u);
    EXPECT_EQ(DecodeIma(std::vector<uint8_t>(512), 1).size(), 1017u);
    EXPECT_EQ(DecodeIma(std::vector<uint8_t>(1024), 2).size(), 2u * 1017u);
}

TEST(ImaAdpcm, nibblesDecodeWithTheStepTableAndIndexTable) {
    ImaChannel channel{0, 0};
    // step 7: diff = 0 + 7 + 3 + 1
    EXPECT_EQ(DecodeImaNibble(channel, 0x7), 11);
    EXPECT_EQ(channel.stepIndex, 8);
    // step 16: diff = 2 + 16 + 8 + 4, subtracted
    EXPECT_EQ(DecodeImaNibble(channel, 0xF), 11 - 30);
    EXPECT_EQ(channel.stepIndex, 16);
    DecodeImaNibble(channel, 0x0);
    EXPECT_EQ(channel.stepIndex, 15);
}

TEST(ImaAdpcm, predictorClampsToPlusMinus32767AndIndexTo0Through88) {
    ImaChannel low{-32760, 88};
    EXPECT_EQ(DecodeImaNibble(low, 0xF), -32767);
    EXPECT_EQ(low.stepIndex, 88);
    ImaChannel high{32760, 88};
    EXPECT_EQ(DecodeImaNibble(high, 0x7), 32767);
    ImaChannel bottom{0, 0};
    DecodeImaNibble(bottom, 0x3);
    EXPECT_EQ(bottom.stepIndex, 0);
}

TEST(ImaAdpcm, decodingAFullScaleSquareWaveNeverYieldsMinus32768) {
    std::vector<int16_t> square(1017);
    for (std::size_t i = 0; i < square.size(); ++i)
        square[i] = (i / 20) % 2 ? int16_t{-32768} : int16_t{32767};
    std::array<ImaChannel, 1> state{};
    std::vector<uint8_t> block(512);
    ASSERT_EQ(EncodeImaBlock(square, state, block), BlockStatus::Ok);
    const auto decoded = DecodeIma(block, 1);
    EXPECT_EQ(*std::min_element(decoded.begin(), decoded.end()), -32767);
}

TEST(ImaAdpcm, encodingSilenceDecodesToSilence) {
    for (int channels : {1, 2}) {
        const std::size_t frames = ImaFramesPerBlock(512, channels);
        const auto width = static_cast<std::size_t>(channels);
        std::vector<int16_t> silence(frames * width, 0);
        std::array<ImaChannel, 2> state{};
        std::vector<uint8_t> block(512, 0xAA);
        ASSERT_EQ(EncodeImaBlock(silence, std::span(state).first(width), block), BlockStatus::Ok);
        const auto decoded = DecodeIma(block, channels);
        EXPECT_EQ(decoded, silence) << channels << " channels";
    }
}

TEST(ImaAdpcm, decodingAnEncodedBlockReproducesTheEncodersOwnReconstruction) {
    const auto signal = TestSignal(1017, 1, 44100);
    // Replay the encoder sample by sample to learn what it reconstructed.
    ImaChannel shadow{signal[0], 0};
    std::vector<int16_t> reconstructed{signal[0]};
    for (std::size_t i = 1; i < signal.size(); ++i) {
        EncodeImaSample(shadow, signal[i]);
        reconstructed.push_back(shadow.predictor);
    }
    std::array<ImaChannel, 1> state{};
    std::vector<uint8_t> block(512);
    ASSERT_EQ(EncodeImaBlock(signal, state, block), BlockStatus::Ok);
    EXPECT_EQ(DecodeIma(block, 1), reconstructed);
    EXPECT_EQ(state[0].stepIndex, shadow.stepIndex) << "the step index carries to the next block";
    // Once the step size has adapted (it starts at the smallest step), the coder tracks well.
    const std::vector<int16_t> settledIn(reconstructed.begin() + 200, reconstructed.end());
    const std::vector<int16_t> settledOut(signal.begin() + 200, signal.end());
    EXPECT_LT(test::MaxDifference(settledIn, settledOut), 1500);
}

TEST(ImaAdpcm, stereoBlocksHoldEachChannelAsAMonoBlockOfTheSameLengthWould) {
    const auto stereo = TestSignal(1017, 2, 44100);
    std::vector<int16_t> left, right;
    for (std::size_t i = 0; i < stereo.size(); i += 2) {
        left.push_back(stereo[i]);
        right.push_back(stereo[i + 1]);
    }
    std::array<ImaChannel, 2> stereoState{};
    std::vector<uint8_t> stereoBlock(1024);
    ASSERT_EQ(EncodeImaBlock(stereo, stereoState, stereoBlock), BlockStatus::Ok);
    std::array<ImaChannel, 1> leftState{}, rightState{};
    std::vector<uint8_t> leftBlock(512), rightBlock(512);
    ASSERT_EQ(EncodeImaBlock(left, leftState, leftBlock), BlockStatus::Ok);
    ASSERT_EQ(EncodeImaBlock(right, rightState, rightBlock), BlockStatus::Ok);

    const auto decoded = DecodeIma(stereoBlock, 2);
    const auto decodedLeft = DecodeIma(leftBlock, 1);
    const auto decodedRight = DecodeIma(rightBlock, 1);
    ASSERT_EQ(decoded.size(), 2 * decodedLeft.size());
    for (std::size_t i = 0; i < decodedLeft.size(); ++i) {
        ASSERT_EQ(decoded[2 * i], decodedLeft[i]) << "frame " << i;
        ASSERT_EQ(decoded[2 * i + 1], decodedRight[i]) << "frame " << i;
    }
}

TEST(ImaAdpcm, badHeadersAndShortOrMisshapenBlocksAreRefused) {
    std::vector<uint8_t> block(512);
    block[2] = 89;
    std::vector<int16_t> out(2034);
    EXPECT_EQ(DecodeImaBlock(block, 1, out).status, BlockStatus::BadStepIndex);
    EXPECT_EQ(DecodeImaBlock(std::vector<uint8_t>(7), 2, out).status, BlockStatus::TooShort);
    EXPECT_EQ(DecodeImaBlock(std::vector<uint8_t>(512), 3, out).status, BlockStatus::BadChannels);

    std::array<ImaChannel, 2> state{};
    std::vector<int16_t> samples(4096);
    std::vector<uint8_t> odd(516); // stereo payload not in whole 8-byte groups
    EXPECT_EQ(EncodeImaBlock(samples, state, odd), BlockStatus::TooShort);
    std::vector<uint8_t> tiny(4);
    EXPECT_EQ(EncodeImaBlock(samples, state, tiny), BlockStatus::TooShort);
}

TEST(ImaAdpcm, aShortLastBlockDecodesOnlyTheBytesItHasAndAnUndersizedOutputIsRespected) {
    std::vector<uint8_t> block(4 + 10);
    EXPECT_EQ(DecodeIma(block, 1).size(), 21u);
    std::vector<uint8_t> stereo(8 + 13); // one whole group and five stray bytes
    EXPECT_EQ(DecodeIma(stereo, 2).size(), 2u * 9u);

    std::vector<int16_t> small(5);
    ImaChannel channel{};
    EXPECT_EQ(DecodeImaMono(std::vector<uint8_t>(100), channel, small), 5u);
}

// ---- Microsoft ADPCM ----

const std::vector<MsCoefficientPair> kStandardCoefficients = {
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};

std::vector<uint8_t> MsMonoBlock(uint8_t predictor, int16_t delta, int16_t s1, int16_t s2,
                                 const std::vector<uint8_t>& payload) {
    return test::WavBuilder()
        .U8(predictor)
        .U16(static_cast<uint16_t>(delta))
        .U16(static_cast<uint16_t>(s1))
        .U16(static_cast<uint16_t>(s2))
        .Bytes(payload)
        .bytes();
}

TEST(MsAdpcm, headerSamplesComeFirstThenNibblesHighFirstWithTruncatingPrediction) {
    // coefficient pair 0 = (256, 0): prediction = sample 1
    const auto block = MsMonoBlock(0, 16, 100, 50, {0x1F});
    std::vector<int16_t> out(4);
    const auto result = DecodeMsBlock(block, 1, 4, kStandardCoefficients, out);
    ASSERT_EQ(result.status, BlockStatus::Ok);
    ASSERT_EQ(result.frames, 4u);
    EXPECT_EQ(out[0], 50);
    EXPECT_EQ(out[1], 100);
    EXPECT_EQ(out[2], 116);      // 100 + 16 * 1
    EXPECT_EQ(out[3], 116 - 16); // delta stays 16 (16*230/256 < 16), nibble F = -1

    // (-1 * 128) / 256 truncates to 0, where a shift would give -1.
    const std::vector<MsCoefficientPair> half = {{128, 0}};
    const auto negative = MsMonoBlock(0, 16, -1, 0, {0x00});
    ASSERT_EQ(DecodeMsBlock(negative, 1, 3, half, out).frames, 3u);
    EXPECT_EQ(out[2], 0);
}

TEST(MsAdpcm, stereoBytesCarryTheLeftNibbleHighAndTheRightLow) {
    const auto block = test::WavBuilder()
                           .U8(0)
                           .U8(0)
                           .U16(32)
                           .U16(64)
                           .U16(1000)
                           .U16(static_cast<uint16_t>(-1000))
                           .U16(900)
                           .U16(static_cast<uint16_t>(-900))
                           .U8(0x2E) // left +2, right -2
                           .bytes();
    std::vector<int16_t> out(6);
    const auto result = DecodeMsBlock(block, 2, 3, kStandardCoefficients, out);
    ASSERT_EQ(result.frames, 3u);
    EXPECT_EQ(out, (std::vector<int16_t>{900, -900, 1000, -1000, 1064, -1128}));
}

TEST(MsAdpcm, outputClampsToTheFull16BitRangeIncludingMinus32768) {
    const std::vector<MsCoefficientPair> identity = {{256, 0}};
    const auto block = MsMonoBlock(0, 2000, -32000, 0, {0x88});
    std::vector<int16_t> out(4);
    ASSERT_EQ(DecodeMsBlock(block, 1, 4, identity, out).frames, 4u);
    EXPECT_EQ(out[2], -32768);
    const auto up = MsMonoBlock(0, 2000, 32000, 0, {0x77});
    ASSERT_EQ(DecodeMsBlock(up, 1, 4, identity, out).frames, 4u);
    EXPECT_EQ(out[2], 32767);
}

TEST(MsAdpcm, deltaNeverFallsBelow16AndDoesNotOverflowOnAHostileStream) {
    MsChannel channel{0, 16, 0, 0};
    std::vector<int16_t> out(2 + 200);
    std::vector<uint8_t> small(100, 0x00); // nibble 0 shrinks delta by 230/256
    DecodeMsPayload(small, 202, std::span(&channel, 1), kStandardCoefficients, out);
    EXPECT_EQ(channel.delta, 16);

    MsChannel wild{0, 32767, 0, 0};
    std::vector<uint8_t> growing(100, 0x88); // nibble 8 triples delta every time
    DecodeMsPayload(growing, 202, std::span(&wild, 1), kStandardCoefficients, out);
    EXPECT_GT(wild.delta, 32767);
    EXPECT_LE(wild.delta, INT_MAX / 768);
    EXPECT_EQ(out.back(), -32768);
}

TEST(MsAdpcm, predictorIndexesOutsideTheCoefficientTableAreRefused) {
    std::vector<int16_t> out(64);
    const auto block = MsMonoBlock(7, 16, 0, 0, std::vector<uint8_t>(10));
    EXPECT_EQ(DecodeMsBlock(block, 1, 22, kStandardCoefficients, out).status,
              BlockStatus::BadPredictorIndex);
    std::vector<MsCoefficientPair> many(40, {256, 0});
    const auto beyond32 = MsMonoBlock(33, 16, 0, 0, std::vector<uint8_t>(10));
    EXPECT_EQ(DecodeMsBlock(beyond32, 1, 22, many, out).status, BlockStatus::BadPredictorIndex);
    EXPECT_EQ(DecodeMsBlock(std::vector<uint8_t>(13), 2, 22, kStandardCoefficients, out).status,
              BlockStatus::TooShort);
}

TEST(MsAdpcm, aBlockShorterThanItsSamplesPerBlockDecodesOnlyWhatItHolds) {
    const auto block = MsMonoBlock(0, 16, 0, 0, std::vector<uint8_t>(3));
    std::vector<int16_t> out(500);
    const auto result = DecodeMsBlock(block, 1, 500, kStandardCoefficients, out);
    ASSERT_EQ(result.status, BlockStatus::Ok);
    EXPECT_EQ(result.frames, 2u + 6u);
    EXPECT_EQ(MsPayloadBytes(500, 1), 249u);
    EXPECT_EQ(MsPayloadBytes(500, 2), 498u);
    EXPECT_EQ(MsPayloadBytes(1, 2), 0u);
}

// ---- against sox, through a chunk walk of our own ----

class AdpcmAgainstSox : public ::testing::Test {
protected:
    test::TempDir dir;

    // Makes an ADPCM WAV with sox from a generated PCM file; returns the file and the
    // decoding of the chosen oracle ("sox" or "ffmpeg").
    std::pair<std::vector<uint8_t>, std::vector<int16_t>> Make(const char* encoding, int channels,
                                                               const std::string& oracle = "sox") {
        const auto pcm = test::S16ToBytes(TestSignal(30000, channels, 22050));
        test::WriteBytes(dir.File("in.wav"),
                         test::PcmWav(pcm, static_cast<uint16_t>(channels), 22050, 16));
        EXPECT_EQ(test::Shell("sox " + dir.File("in.wav") + " -e " + encoding + " " +
                              dir.File("out.wav")),
                  0);
        const std::string decode =
            oracle == "sox" ? "sox " + dir.File("out.wav") + " -t raw -e signed -b 16 "
                            : "ffmpeg -v error -y -i " + dir.File("out.wav") + " -f s16le ";
        EXPECT_EQ(test::Shell(decode + dir.File("out.raw")), 0);
        return {test::ReadBytes(dir.File("out.wav")),
                test::S16Samples(test::ReadBytes(dir.File("out.raw")))};
    }
};

TEST_F(AdpcmAgainstSox, imaBlocksDecodeToWhatSoxDecodesWithinOneStep) {
    for (int channels : {1, 2}) {
        const auto [file, expected] = Make("ima-adpcm", channels);
        const auto fmt = test::FindChunk(file, "fmt ");
        const auto data = test::FindChunk(file, "data");
        ASSERT_TRUE(fmt && data);
        const uint16_t align = test::Le16(*fmt, 12);
        std::vector<int16_t> decoded;
        for (std::size_t at = 0; at < data->size(); at += align) {
            const std::size_t n = std::min<std::size_t>(align, data->size() - at);
            std::vector<uint8_t> block(data->begin() + static_cast<long>(at),
                                       data->begin() + static_cast<long>(at + n));
            const auto samples = DecodeIma(block, channels);
            decoded.insert(decoded.end(), samples.begin(), samples.end());
        }
        ASSERT_GE(decoded.size(), expected.size());
        decoded.resize(expected.size());
        EXPECT_LE(test::MaxDifference(decoded, expected), 1) << channels << " channels";
    }
}

// sox predicts with a floor shift where we (and ffmpeg) divide toward zero, so sox is the
// encoder here and ffmpeg the decoder to match sample for sample.
TEST_F(AdpcmAgainstSox, msBlocksDecodeExactlyAsFfmpegDecodesThem) {
    for (int channels : {1, 2}) {
        const auto [file, expected] = Make("ms-adpcm", channels, "ffmpeg");
        const auto fmt = test::FindChunk(file, "fmt ");
        const auto data = test::FindChunk(file, "data");
        ASSERT_TRUE(fmt && data);
        const uint16_t align = test::Le16(*fmt, 12);
        const uint16_t samplesPerBlock = test::Le16(*fmt, 18);
        std::vector<MsCoefficientPair> coefficients(test::Le16(*fmt, 20));
        for (std::size_t i = 0; i < coefficients.size(); ++i)
            coefficients[i] = {static_cast<int16_t>(test::Le16(*fmt, 22 + 4 * i)),
                               static_cast<int16_t>(test::Le16(*fmt, 24 + 4 * i))};
        std::vector<int16_t> decoded;
        const auto width = static_cast<std::size_t>(channels);
        std::vector<int16_t> out(samplesPerBlock * width);
        for (std::size_t at = 0; at < data->size(); at += align) {
            const std::size_t n = std::min<std::size_t>(align, data->size() - at);
            std::vector<uint8_t> block(data->begin() + static_cast<long>(at),
                                       data->begin() + static_cast<long>(at + n));
            const auto result = DecodeMsBlock(block, channels, samplesPerBlock, coefficients, out);
            ASSERT_EQ(result.status, BlockStatus::Ok);
            decoded.insert(decoded.end(), out.begin(),
                           out.begin() + static_cast<long>(result.frames * width));
        }
        ASSERT_GE(decoded.size(), expected.size());
        decoded.resize(expected.size());
        EXPECT_EQ(decoded, expected) << channels << " channels";
    }
}

} // namespace
} // namespace audio::adpcm
