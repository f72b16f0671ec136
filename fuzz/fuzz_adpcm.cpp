// Decodes arbitrary bytes as IMA and Microsoft ADPCM blocks, and checks that encoding any
// samples decodes back to exactly what the encoder reconstructed.
#include "audio/adpcm.h"

#include <cstdint>
#include <cstring>
#include <vector>

using namespace audio::adpcm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5)
        return 0;
    const int channels = 1 + (data[0] & 1);
    const auto width = static_cast<std::size_t>(channels); // samples per frame
    const std::size_t samplesPerBlock = static_cast<std::size_t>(data[1] | (data[2] << 8));
    const std::size_t coefficientCount = data[3] % 40;
    data += 4;
    size -= 4;

    // Decoding: output spans exactly as large as the block can need, so ASan sees overruns.
    const std::vector<std::uint8_t> block(data, data + size);
    std::vector<std::int16_t> imaOut(ImaFramesPerBlock(block.size(), channels) * width);
    (void)DecodeImaBlock(block, channels, imaOut);

    std::vector<MsCoefficientPair> coefficients(coefficientCount);
    for (std::size_t i = 0; i < coefficientCount && 4 * i + 3 < size; ++i)
        coefficients[i] = {static_cast<std::int16_t>(data[4 * i] | (data[4 * i + 1] << 8)),
                           static_cast<std::int16_t>(data[4 * i + 2] | (data[4 * i + 3] << 8))};
    std::vector<std::int16_t> msOut(samplesPerBlock * width);
    const DecodeResult ms = DecodeMsBlock(block, channels, samplesPerBlock, coefficients, msOut);
    if (ms.frames > samplesPerBlock)
        __builtin_trap();

    // Encoding: a block size from the input, samples from the input.
    const std::size_t blockSize = channels == 1 ? 8 + (size % 64) * 4 : 16 + (size % 64) * 8;
    const std::size_t frames = ImaFramesPerBlock(blockSize, channels);
    std::vector<std::int16_t> samples(frames * width);
    for (std::size_t i = 0; i < samples.size() && 2 * i + 1 < size; ++i)
        samples[i] = static_cast<std::int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    ImaChannel state[2] = {{0, static_cast<std::uint8_t>(data[0] % 89)},
                           {0, static_cast<std::uint8_t>(size % 89)}};
    ImaChannel shadow[2] = {state[0], state[1]};
    std::vector<std::uint8_t> encoded(blockSize);
    if (EncodeImaBlock(samples, std::span(state, width), encoded) != BlockStatus::Ok)
        __builtin_trap();
    std::vector<std::int16_t> expected(samples.size());
    for (std::size_t c = 0; c < width; ++c) {
        shadow[c].predictor = samples[c];
        expected[c] = samples[c];
    }
    for (std::size_t f = 1; f < frames; ++f)
        for (std::size_t c = 0; c < width; ++c) {
            EncodeImaSample(shadow[c], samples[f * width + c]);
            expected[f * width + c] = shadow[c].predictor;
        }
    std::vector<std::int16_t> decoded(samples.size());
    const DecodeResult back = DecodeImaBlock(encoded, channels, decoded);
    if (back.status != BlockStatus::Ok || back.frames != frames || decoded != expected)
        __builtin_trap();
    return 0;
}
