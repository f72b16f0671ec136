#pragma once
// Block codecs for the two ADPCM flavours found in WAV files: IMA (DVI) ADPCM, decoded and
// encoded, and Microsoft ADPCM, decoded. Integer arithmetic only; mono and stereo.
//
// Contract: every routine works on one block and never reads or writes outside the spans it
// is given. Output spans must hold the counts the *Capacity helpers return. A block whose
// header carries an out-of-range index is refused (BlockStatus) rather than guessed at.
// The routines keep no state of their own; the caller owns the per-channel state.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace audio::adpcm {

inline constexpr std::array<int16_t, 89> kImaStepTable = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

inline constexpr std::array<int8_t, 16> kImaIndexTable = {-1, -1, -1, -1, 2, 4, 6, 8,
                                                          -1, -1, -1, -1, 2, 4, 6, 8};

inline constexpr std::array<int16_t, 16> kMsAdaptationTable = {
    230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};

inline constexpr int kImaMaxStepIndex = 88;
inline constexpr std::size_t kMaxMsCoefficientPairs = 32;
inline constexpr std::size_t kImaHeaderBytesPerChannel = 4;
inline constexpr std::size_t kMsHeaderBytesPerChannel = 7;

struct ImaChannel {
    int16_t predictor = 0;
    uint8_t stepIndex = 0;
};

struct MsCoefficientPair {
    int16_t coefficient1 = 0;
    int16_t coefficient2 = 0;
};

// delta is kept wider than the file's 16 bits so a long run of large nibbles cannot wrap.
struct MsChannel {
    uint8_t predictorIndex = 0;
    int32_t delta = 16;
    int16_t sample1 = 0;
    int16_t sample2 = 0;
};

enum class BlockStatus { Ok, TooShort, BadChannels, BadStepIndex, BadPredictorIndex };

// Text for a refused block, used in the reader's exception messages.
const char* DescribeStatus(BlockStatus status);

// ---- IMA ----

// One nibble through the decoder; returns the new predictor (never -32768).
int16_t DecodeImaNibble(ImaChannel& channel, uint8_t nibble);
// One sample through the encoder; updates the channel exactly as the decoder would.
uint8_t EncodeImaSample(ImaChannel& channel, int16_t sample);

// Frames per channel that a block of blockAlign bytes decodes to; 0 when it holds no header.
// Stereo payloads are counted in whole 8-byte groups.
std::size_t ImaFramesPerBlock(std::size_t blockAlign, int channels);

// Reads the per-channel headers at the start of block into channels[0..n).
BlockStatus ReadImaHeader(std::span<const uint8_t> block, std::span<ImaChannel> channels);

// Decodes a mono payload (header already read into channel): 1 + 2 * payload.size() samples.
std::size_t DecodeImaMono(std::span<const uint8_t> payload, ImaChannel& channel,
                          std::span<int16_t> out);
// Decodes a stereo payload in 8-byte groups: 1 + 8 * (payload.size() / 8) interleaved frames.
std::size_t DecodeImaStereo(std::span<const uint8_t> payload, ImaChannel& left, ImaChannel& right,
                            std::span<int16_t> out);

struct DecodeResult {
    BlockStatus status = BlockStatus::Ok;
    std::size_t frames = 0; // frames (samples per channel) written to out
};

// Header and payload of one IMA block (possibly short, as the last block of a cut file).
DecodeResult DecodeImaBlock(std::span<const uint8_t> block, int channels, std::span<int16_t> out);

// Encodes frames = ImaFramesPerBlock(block.size(), channels) interleaved frames into one
// block. The first frame becomes the header predictor(s); the step indexes carry over in
// channels. block.size() must leave whole 8-byte groups for stereo.
BlockStatus EncodeImaBlock(std::span<const int16_t> samples, std::span<ImaChannel> channels,
                           std::span<uint8_t> block);

// ---- Microsoft ADPCM ----

// Payload bytes a block needs for samplesPerBlock frames (the two header frames excluded).
std::size_t MsPayloadBytes(std::size_t samplesPerBlock, int channels);

BlockStatus ReadMsHeader(std::span<const uint8_t> block, std::span<MsChannel> channels,
                         std::size_t coefficientCount);

// Decodes one payload with the state loaded from the header: the two header samples of each
// channel, then the nibbles. Decodes at most samplesPerBlock frames, fewer when the payload
// is short. Returns the number of frames written.
std::size_t DecodeMsPayload(std::span<const uint8_t> payload, std::size_t samplesPerBlock,
                            std::span<MsChannel> channels,
                            std::span<const MsCoefficientPair> coefficients,
                            std::span<int16_t> out);

DecodeResult DecodeMsBlock(std::span<const uint8_t> block, int channels,
                           std::size_t samplesPerBlock,
                           std::span<const MsCoefficientPair> coefficients, std::span<int16_t> out);

} // namespace audio::adpcm
