#include "audio/adpcm.h"

#include "bytes/LittleEndian.h"

#include <algorithm>
#include <climits>

namespace audio::adpcm {
namespace {

// Keeps delta * 768 inside int on a hostile stream; real streams stay far below.
constexpr int32_t kMsMaxDelta = INT_MAX / 768;

int SignedNibble(uint8_t nibble) {
    return nibble >= 8 ? nibble - 16 : nibble;
}

int16_t DecodeMsNibble(MsChannel& channel, const MsCoefficientPair& pair, uint8_t nibble) {
    const int predicted =
        (channel.sample1 * pair.coefficient1 + channel.sample2 * pair.coefficient2) / 256;
    const int sample = std::clamp(predicted + channel.delta * SignedNibble(nibble), -32768, 32767);
    channel.delta = std::clamp(channel.delta * kMsAdaptationTable[nibble] / 256, 16, kMsMaxDelta);
    channel.sample2 = channel.sample1;
    channel.sample1 = static_cast<int16_t>(sample);
    return channel.sample1;
}

} // namespace

const char* DescribeStatus(BlockStatus status) {
    switch (status) {
    case BlockStatus::Ok:
        return "no error";
    case BlockStatus::TooShort:
        return "the ADPCM block is too short";
    case BlockStatus::BadChannels:
        return "ADPCM is supported for one or two channels only";
    case BlockStatus::BadStepIndex:
        return "the ADPCM block has a step index out of range";
    case BlockStatus::BadPredictorIndex:
        return "the ADPCM block has a predictor index out of range";
    }
    return "unknown ADPCM error";
}

int16_t DecodeImaNibble(ImaChannel& channel, uint8_t nibble) {
    const int step = kImaStepTable[channel.stepIndex];
    int diff = step >> 3;
    if (nibble & 4)
        diff += step;
    if (nibble & 2)
        diff += step >> 1;
    if (nibble & 1)
        diff += step >> 2;
    int predictor = channel.predictor;
    predictor = (nibble & 8) ? predictor - diff : predictor + diff;
    channel.predictor = static_cast<int16_t>(std::clamp(predictor, -32767, 32767));
    channel.stepIndex = static_cast<uint8_t>(
        std::clamp(channel.stepIndex + kImaIndexTable[nibble & 0x0F], 0, kImaMaxStepIndex));
    return channel.predictor;
}

uint8_t EncodeImaSample(ImaChannel& channel, int16_t sample) {
    const int step = kImaStepTable[channel.stepIndex];
    const int diff = sample - channel.predictor;
    uint8_t nibble = diff < 0 ? 8 : 0;
    int magnitude = diff < 0 ? -diff : diff;
    if (magnitude >= step) {
        nibble |= 4;
        magnitude -= step;
    }
    if (magnitude >= (step >> 1)) {
        nibble |= 2;
        magnitude -= step >> 1;
    }
    if (magnitude >= (step >> 2))
        nibble |= 1;
    DecodeImaNibble(channel, nibble);
    return nibble;
}

std::size_t ImaFramesPerBlock(std::size_t blockAlign, int channels) {
    if (channels == 1)
        return blockAlign < 4 ? 0 : 1 + 2 * (blockAlign - 4);
    if (channels == 2)
        return blockAlign < 8 ? 0 : 1 + 8 * ((blockAlign - 8) / 8);
    return 0;
}

BlockStatus ReadImaHeader(std::span<const uint8_t> block, std::span<ImaChannel> channels) {
    if (channels.empty() || channels.size() > 2)
        return BlockStatus::BadChannels;
    if (block.size() < kImaHeaderBytesPerChannel * channels.size())
        return BlockStatus::TooShort;
    for (std::size_t c = 0; c < channels.size(); ++c) {
        const std::size_t at = kImaHeaderBytesPerChannel * c;
        if (block[at + 2] > kImaMaxStepIndex)
            return BlockStatus::BadStepIndex;
        channels[c].predictor = bytes::GetLeI16(&block[at]);
        channels[c].stepIndex = block[at + 2];
    }
    return BlockStatus::Ok;
}

std::size_t DecodeImaMono(std::span<const uint8_t> payload, ImaChannel& channel,
                          std::span<int16_t> out) {
    if (out.empty())
        return 0;
    const std::size_t bytes = std::min(payload.size(), (out.size() - 1) / 2);
    out[0] = channel.predictor;
    std::size_t n = 1;
    for (std::size_t i = 0; i < bytes; ++i) {
        out[n++] = DecodeImaNibble(channel, payload[i] & 0x0F);
        out[n++] = DecodeImaNibble(channel, payload[i] >> 4);
    }
    return n;
}

std::size_t DecodeImaStereo(std::span<const uint8_t> payload, ImaChannel& left, ImaChannel& right,
                            std::span<int16_t> out) {
    if (out.size() < 2)
        return 0;
    const std::size_t groups = std::min(payload.size() / 8, (out.size() / 2 - 1) / 8);
    out[0] = left.predictor;
    out[1] = right.predictor;
    for (std::size_t g = 0; g < groups; ++g) {
        const auto group = payload.subspan(8 * g, 8);
        int16_t* frames = out.data() + 2 + 16 * g;
        for (std::size_t i = 0; i < 4; ++i) {
            frames[4 * i] = DecodeImaNibble(left, group[i] & 0x0F);
            frames[4 * i + 2] = DecodeImaNibble(left, group[i] >> 4);
            frames[4 * i + 1] = DecodeImaNibble(right, group[4 + i] & 0x0F);
            frames[4 * i + 3] = DecodeImaNibble(right, group[4 + i] >> 4);
        }
    }
    return 1 + 8 * groups;
}

DecodeResult DecodeImaBlock(std::span<const uint8_t> block, int channels, std::span<int16_t> out) {
    if (channels != 1 && channels != 2)
        return {BlockStatus::BadChannels, 0};
    std::array<ImaChannel, 2> state{};
    const auto used = std::span(state).first(static_cast<std::size_t>(channels));
    const BlockStatus status = ReadImaHeader(block, used);
    if (status != BlockStatus::Ok)
        return {status, 0};
    const auto payload = block.subspan(kImaHeaderBytesPerChannel * used.size());
    if (channels == 1)
        return {BlockStatus::Ok, DecodeImaMono(payload, state[0], out)};
    return {BlockStatus::Ok, DecodeImaStereo(payload, state[0], state[1], out)};
}

BlockStatus EncodeImaBlock(std::span<const int16_t> samples, std::span<ImaChannel> channels,
                           std::span<uint8_t> block) {
    const int count = static_cast<int>(channels.size());
    const std::size_t frames = ImaFramesPerBlock(block.size(), count);
    if (frames == 0)
        return count == 1 || count == 2 ? BlockStatus::TooShort : BlockStatus::BadChannels;
    if (count == 2 && (block.size() - 8) % 8 != 0)
        return BlockStatus::TooShort;
    if (samples.size() < frames * channels.size())
        return BlockStatus::TooShort;
    std::fill(block.begin(), block.end(), uint8_t{0});
    for (std::size_t c = 0; c < channels.size(); ++c) {
        channels[c].predictor = samples[c];
        bytes::PutLeI16(&block[kImaHeaderBytesPerChannel * c], channels[c].predictor);
        block[kImaHeaderBytesPerChannel * c + 2] = channels[c].stepIndex;
    }
    if (count == 1) {
        for (std::size_t pos = 0; pos + 1 < frames; ++pos) {
            const uint8_t nibble = EncodeImaSample(channels[0], samples[1 + pos]);
            block[4 + pos / 2] |= (pos % 2 == 0) ? nibble : static_cast<uint8_t>(nibble << 4);
        }
        return BlockStatus::Ok;
    }
    for (std::size_t pos = 0; pos + 1 < frames; ++pos) {
        const std::size_t at = 8 + 8 * (pos / 8) + (pos % 8) / 2;
        const int shift = (pos % 2 == 0) ? 0 : 4;
        const uint8_t l = EncodeImaSample(channels[0], samples[2 * (1 + pos)]);
        const uint8_t r = EncodeImaSample(channels[1], samples[2 * (1 + pos) + 1]);
        block[at] |= static_cast<uint8_t>(l << shift);
        block[at + 4] |= static_cast<uint8_t>(r << shift);
    }
    return BlockStatus::Ok;
}

std::size_t MsPayloadBytes(std::size_t samplesPerBlock, int channels) {
    if (samplesPerBlock < 2 || channels < 1)
        return 0;
    const std::size_t nibbles = (samplesPerBlock - 2) * static_cast<std::size_t>(channels);
    return (nibbles + 1) / 2;
}

BlockStatus ReadMsHeader(std::span<const uint8_t> block, std::span<MsChannel> channels,
                         std::size_t coefficientCount) {
    const std::size_t n = channels.size();
    if (n == 0 || n > 2)
        return BlockStatus::BadChannels;
    if (block.size() < kMsHeaderBytesPerChannel * n)
        return BlockStatus::TooShort;
    // Field by field, each field holding one value per channel.
    for (std::size_t c = 0; c < n; ++c) {
        if (block[c] >= coefficientCount || block[c] >= kMaxMsCoefficientPairs)
            return BlockStatus::BadPredictorIndex;
        channels[c].predictorIndex = block[c];
        channels[c].delta = bytes::GetLeI16(&block[n + 2 * c]);
        channels[c].sample1 = bytes::GetLeI16(&block[3 * n + 2 * c]);
        channels[c].sample2 = bytes::GetLeI16(&block[5 * n + 2 * c]);
    }
    return BlockStatus::Ok;
}

std::size_t DecodeMsPayload(std::span<const uint8_t> payload, std::size_t samplesPerBlock,
                            std::span<MsChannel> channels,
                            std::span<const MsCoefficientPair> coefficients,
                            std::span<int16_t> out) {
    const std::size_t n = channels.size();
    if (n == 0 || n > 2 || samplesPerBlock < 2)
        return 0;
    for (const MsChannel& channel : channels)
        if (channel.predictorIndex >= coefficients.size())
            return 0;
    const std::size_t available = 2 + (payload.size() * 2) / n;
    const std::size_t frames = std::min({samplesPerBlock, available, out.size() / n});
    if (frames < 2)
        return 0;
    for (std::size_t c = 0; c < n; ++c) {
        out[c] = channels[c].sample2;
        out[n + c] = channels[c].sample1;
    }
    // Nibbles run high first through the payload; with two channels they alternate L, R.
    const std::size_t nibbles = (frames - 2) * n;
    for (std::size_t i = 0; i < nibbles; ++i) {
        const uint8_t byte = payload[i / 2];
        const uint8_t nibble = (i % 2 == 0) ? byte >> 4 : byte & 0x0F;
        MsChannel& channel = channels[i % n];
        out[2 * n + i] = DecodeMsNibble(channel, coefficients[channel.predictorIndex], nibble);
    }
    return frames;
}

DecodeResult DecodeMsBlock(std::span<const uint8_t> block, int channels,
                           std::size_t samplesPerBlock,
                           std::span<const MsCoefficientPair> coefficients,
                           std::span<int16_t> out) {
    if (channels != 1 && channels != 2)
        return {BlockStatus::BadChannels, 0};
    std::array<MsChannel, 2> state{};
    const auto used = std::span(state).first(static_cast<std::size_t>(channels));
    const BlockStatus status = ReadMsHeader(block, used, coefficients.size());
    if (status != BlockStatus::Ok)
        return {status, 0};
    const auto payload = block.subspan(kMsHeaderBytesPerChannel * used.size());
    return {BlockStatus::Ok, DecodeMsPayload(payload, samplesPerBlock, used, coefficients, out)};
}

} // namespace audio::adpcm
