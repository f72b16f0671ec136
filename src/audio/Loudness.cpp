#include "audio/Loudness.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace audio {

namespace {

constexpr std::size_t kBytesPerSample = 2;

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

TTagFields GainFields(const char* gainKey, const char* peakKey, const char* r128Key,
                      std::optional<double> lufs, double peak, bool opus) {
    TTagFields fields;
    if (!lufs) {
        return fields;
    }
    fields.emplace_back(gainKey, GainText(ReplayGainOf(*lufs)));
    fields.emplace_back(peakKey, PeakText(peak));
    if (opus) {
        fields.emplace_back(r128Key, R128GainText(*lufs));
    }
    return fields;
}

} // namespace

TLoudnessMeter::TLoudnessMeter(unsigned channels, unsigned long sampleRate)
    : channels_(channels), weighting_(channels, sampleRate), truePeak_(channels) {}

void TLoudnessMeter::Reset() {
    weighting_.Reset();
    truePeak_.Reset();
    pending_.clear();
}

void TLoudnessMeter::AddPcm(std::span<const std::uint8_t> bytes) {
    const std::size_t frameBytes = kBytesPerSample * channels_;
    if (!pending_.empty()) {
        // Complete the frame a previous block began.
        const std::size_t take = std::min(frameBytes - pending_.size(), bytes.size());
        pending_.insert(pending_.end(), bytes.begin(), bytes.begin() + static_cast<long>(take));
        bytes = bytes.subspan(take);
        if (pending_.size() < frameBytes) {
            return;
        }
        const std::vector<std::uint8_t> frame = std::move(pending_);
        pending_.clear();
        AddPcm(frame);
    }
    const std::size_t frames = bytes.size() / frameBytes;
    samples_.resize(frames * channels_);
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(samples_.data(), bytes.data(), samples_.size() * kBytesPerSample);
    } else {
        for (std::size_t i = 0; i < samples_.size(); ++i) {
            const auto low = bytes[2 * i];
            const auto high = bytes[2 * i + 1];
            samples_[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
        }
    }
    if (frames > 0) {
        weighting_.Add(samples_.data(), frames);
        truePeak_.Add(samples_.data(), frames);
    }
    pending_.assign(bytes.begin() + static_cast<long>(frames * frameBytes), bytes.end());
}

std::optional<double> TLoudnessMeter::Loudness() const {
    return TKWeighting::GatedLoudness(weighting_.Blocks());
}

double TLoudnessMeter::Peak() const {
    return truePeak_.Peak();
}

std::optional<double> TLoudnessMeter::AlbumLoudness(std::span<const TLoudnessMeter* const> meters) {
    std::vector<double> blocks;
    for (const TLoudnessMeter* meter : meters) {
        const std::vector<double> own = meter->weighting_.Blocks();
        blocks.insert(blocks.end(), own.begin(), own.end());
    }
    return TKWeighting::GatedLoudness(blocks);
}

double ReplayGainOf(double lufs) {
    return kReplayGainReferenceLufs - lufs;
}

std::string GainText(double gainDb) {
    // Rounded first, so a gain that rounds to zero is "0.00 dB", never "-0.00 dB".
    const double rounded = std::round(gainDb * 100.0) / 100.0;
    return Format("%.2f dB", rounded == 0.0 ? 0.0 : rounded);
}

std::string PeakText(double peak) {
    return Format("%.6f", peak);
}

std::string R128GainText(double lufs) {
    const double q78 = std::round((kR128ReferenceLufs - lufs) * 256.0);
    return std::to_string(static_cast<int>(std::clamp(q78, -32768.0, 32767.0)));
}

TTagFields TrackGainFields(const TLoudnessMeter& meter, bool opus) {
    return GainFields("REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK", "R128_TRACK_GAIN",
                      meter.Loudness(), meter.Peak(), opus);
}

TTagFields AlbumGainFields(std::span<const TLoudnessMeter* const> meters, bool opus) {
    double peak = 0;
    for (const TLoudnessMeter* meter : meters) {
        peak = std::max(peak, meter->Peak());
    }
    return GainFields("REPLAYGAIN_ALBUM_GAIN", "REPLAYGAIN_ALBUM_PEAK", "R128_ALBUM_GAIN",
                      TLoudnessMeter::AlbumLoudness(meters), peak, opus);
}

} // namespace audio
