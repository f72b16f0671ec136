#pragma once
// EBU R128 loudness of one track, measured as its PCM goes by, and the ReplayGain 2.0 values
// taken from it: the gain that brings the track (or the album: every track's measurement
// together) to -18 LUFS, and the true peak as a linear sample value.
//
// A meter is fed by one thread at a time (the meter feed's, while the rip thread writes the
// WAV); its results are read after the feeding has ended, on any thread. Plain C++:
// TKWeighting gives the loudness, TTruePeak the peak (both equal libebur128's, which the tests
// hold them to, at a quarter of its cost: a meter that slowed every rip would be left off).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "audio/KWeighting.h"
#include "audio/TruePeak.h"

namespace audio {

// The loudness ReplayGain 2.0 brings every track to, and the one Opus' R128 gains use.
constexpr double kReplayGainReferenceLufs = -18.0;
constexpr double kR128ReferenceLufs = -23.0;

using TTagFields = std::vector<std::pair<std::string, std::string>>;

class TLoudnessMeter {
public:
    // One or two channels.
    explicit TLoudnessMeter(unsigned channels = 2, unsigned long sampleRate = 44100);
    TLoudnessMeter(const TLoudnessMeter&) = delete;
    TLoudnessMeter& operator=(const TLoudnessMeter&) = delete;

    // Little-endian signed 16-bit interleaved PCM, as a WAV holds it. Blocks need not end on
    // a frame: the rest waits for the next block.
    void AddPcm(std::span<const std::uint8_t> bytes);
    // Forgets everything fed so far (the track is being written again).
    void Reset();

    // Integrated loudness in LUFS; nullopt when nothing above the gate was heard (silence).
    std::optional<double> Loudness() const;
    // The highest true peak of any channel, 1.0 being full scale.
    double Peak() const;
    // The loudness of all meters' audio together, as one programme.
    static std::optional<double> AlbumLoudness(std::span<const TLoudnessMeter* const> meters);

private:
    const unsigned channels_;
    TKWeighting weighting_;
    TTruePeak truePeak_;
    std::vector<std::uint8_t> pending_; // the start of a frame that has not all arrived
    std::vector<std::int16_t> samples_;
};

// ReplayGain's gain for a loudness: how far it is from the reference, in dB.
double ReplayGainOf(double lufs);
// "-6.52 dB" (two decimals, a minus sign only when negative) and "0.988553".
std::string GainText(double gainDb);
std::string PeakText(double peak);
// Opus' R128 gain: Q7.8 fixed point against -23 LUFS, held within 16 bits, as text.
std::string R128GainText(double lufs);

// The tag fields of a track or an album ("REPLAYGAIN_TRACK_GAIN", ...); none when the
// loudness is unknown. opus adds R128_TRACK_GAIN / R128_ALBUM_GAIN.
TTagFields TrackGainFields(const TLoudnessMeter& meter, bool opus);
TTagFields AlbumGainFields(std::span<const TLoudnessMeter* const> meters, bool opus);

} // namespace audio
