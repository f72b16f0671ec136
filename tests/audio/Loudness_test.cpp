#include "audio/Loudness.h"
#include "audio/MeterFeed.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <optional>
#include <random>
#include <regex>
#include <stdexcept>
#include <vector>

#include "WavFixtures.h"

namespace {

using audio::TLoudnessMeter;
using namespace audio::test;

// Stereo 16-bit little-endian PCM of a sine at the given level (dBFS of its peak), the same
// in both channels, or only in the left one when right is false.
std::vector<std::uint8_t> SinePcm(double frequency, double dbfs, double seconds,
                                  bool right = true) {
    const double amplitude = 32767.0 * std::pow(10.0, dbfs / 20.0);
    const auto frames = static_cast<std::size_t>(seconds * 44100.0);
    std::vector<std::uint8_t> pcm;
    pcm.reserve(frames * 4);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / 44100.0;
        const auto s = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2.0 * std::numbers::pi * frequency * t)));
        const auto u = static_cast<std::uint16_t>(s);
        const std::uint16_t r = right ? u : 0;
        pcm.insert(pcm.end(),
                   {static_cast<std::uint8_t>(u & 0xFF), static_cast<std::uint8_t>(u >> 8),
                    static_cast<std::uint8_t>(r & 0xFF), static_cast<std::uint8_t>(r >> 8)});
    }
    return pcm;
}

std::string Field(const audio::TTagFields& fields, const std::string& key) {
    for (const auto& [k, v] : fields) {
        if (k == key) {
            return v;
        }
    }
    return "(none)";
}

TEST(Loudness, a_stereo_1khz_sine_reads_its_level_in_lufs_and_its_peak) {
    // A full-scale 1 kHz sine in both channels is defined to read its own level in LUFS;
    // one channel alone is 3 dB quieter.
    struct Case {
        double dbfs;
        bool right;
        double lufs;
    } cases[] = {
        {-23.0, true, -23.0}, {-6.0, true, -6.0}, {-30.0, true, -30.0}, {-20.0, false, -23.01}};
    for (const Case& c : cases) {
        TLoudnessMeter meter;
        meter.AddPcm(SinePcm(1000.0, c.dbfs, 5.0, c.right));
        ASSERT_TRUE(meter.Loudness().has_value()) << c.dbfs;
        EXPECT_NEAR(*meter.Loudness(), c.lufs, 0.1) << c.dbfs;
        EXPECT_NEAR(20.0 * std::log10(meter.Peak()), c.dbfs, 0.1) << c.dbfs;
        EXPECT_NEAR(audio::ReplayGainOf(*meter.Loudness()), -18.0 - c.lufs, 0.1) << c.dbfs;
    }
}

TEST(Loudness, blocks_split_inside_a_frame_measure_the_same_as_one_block) {
    // Long enough for a whole pair of the filter's slices and a tail after it.
    const std::vector<std::uint8_t> pcm = SinePcm(440.0, -12.0, 3.7);
    TLoudnessMeter whole;
    whole.AddPcm(pcm);
    for (const std::size_t step : {std::size_t{1}, std::size_t{3}, std::size_t{2049}}) {
        TLoudnessMeter split;
        for (std::size_t at = 0; at < pcm.size(); at += step) {
            split.AddPcm(std::span(pcm).subspan(at, std::min(step, pcm.size() - at)));
        }
        EXPECT_DOUBLE_EQ(*split.Loudness(), *whole.Loudness()) << step;
        EXPECT_DOUBLE_EQ(split.Peak(), whole.Peak()) << step;
    }
}

TEST(Loudness, reset_forgets_what_was_fed) {
    TLoudnessMeter meter;
    meter.AddPcm(SinePcm(1000.0, -3.0, 3.5)); // the filter's state and its unfinished slices
    meter.Reset();
    meter.AddPcm(SinePcm(1000.0, -30.0, 2.0));
    EXPECT_NEAR(*meter.Loudness(), -30.0, 0.1);
    EXPECT_NEAR(20.0 * std::log10(meter.Peak()), -30.0, 0.1);
}

TEST(Loudness, silence_and_nothing_give_no_gain_fields) {
    TLoudnessMeter empty;
    TLoudnessMeter silent;
    silent.AddPcm(std::vector<std::uint8_t>(44100 * 4 * 2, 0));
    for (const TLoudnessMeter* meter : {&empty, &silent}) {
        EXPECT_FALSE(meter->Loudness().has_value());
        EXPECT_TRUE(audio::TrackGainFields(*meter, true).empty());
        const TLoudnessMeter* one[] = {meter};
        EXPECT_TRUE(audio::AlbumGainFields(one, false).empty());
    }
    EXPECT_TRUE(audio::AlbumGainFields({}, false).empty());
}

TEST(Loudness, the_album_is_measured_over_all_tracks_together) {
    TLoudnessMeter loud;
    TLoudnessMeter quiet;
    loud.AddPcm(SinePcm(1000.0, -10.0, 4.0));
    quiet.AddPcm(SinePcm(1000.0, -20.0, 4.0));
    const TLoudnessMeter* both[] = {&loud, &quiet};
    const double album = *TLoudnessMeter::AlbumLoudness(both);
    // Equal lengths: the mean energy of -10 and -20 LUFS is 10*log10((0.1 + 0.01) / 2).
    EXPECT_NEAR(album, 10.0 * std::log10((0.1 + 0.01) / 2.0), 0.1);
    const audio::TTagFields fields = audio::AlbumGainFields(both, false);
    EXPECT_EQ(Field(fields, "REPLAYGAIN_ALBUM_GAIN"), audio::GainText(-18.0 - album));
    EXPECT_NE(Field(fields, "REPLAYGAIN_ALBUM_GAIN"),
              Field(audio::TrackGainFields(loud, false), "REPLAYGAIN_TRACK_GAIN"));
    EXPECT_NE(Field(fields, "REPLAYGAIN_ALBUM_GAIN"),
              Field(audio::TrackGainFields(quiet, false), "REPLAYGAIN_TRACK_GAIN"));
    // The album's peak is the loudest track's.
    EXPECT_EQ(Field(fields, "REPLAYGAIN_ALBUM_PEAK"), audio::PeakText(loud.Peak()));
    EXPECT_EQ(Field(fields, "R128_ALBUM_GAIN"), "(none)");
}

TEST(Loudness, track_fields_name_gain_and_peak_and_opus_adds_its_own_gain) {
    TLoudnessMeter meter;
    meter.AddPcm(SinePcm(1000.0, -11.0, 3.0));
    const double lufs = *meter.Loudness();
    const audio::TTagFields plain = audio::TrackGainFields(meter, false);
    ASSERT_EQ(plain.size(), 2u);
    EXPECT_EQ(plain[0].first, "REPLAYGAIN_TRACK_GAIN");
    EXPECT_EQ(plain[0].second, audio::GainText(-18.0 - lufs));
    EXPECT_EQ(plain[1].first, "REPLAYGAIN_TRACK_PEAK");
    EXPECT_EQ(plain[1].second, audio::PeakText(meter.Peak()));
    const audio::TTagFields opus = audio::TrackGainFields(meter, true);
    ASSERT_EQ(opus.size(), 3u);
    EXPECT_EQ(opus[2].first, "R128_TRACK_GAIN");
    EXPECT_EQ(opus[2].second, audio::R128GainText(lufs));
}

TEST(Loudness, values_are_written_as_players_read_them) {
    struct Case {
        double gain;
        const char* text;
    } gains[] = {{-6.5249, "-6.52 dB"}, {-6.526, "-6.53 dB"}, {3.0, "3.00 dB"},
                 {-0.001, "0.00 dB"},   {0.0, "0.00 dB"},     {12.345678, "12.35 dB"}};
    for (const Case& c : gains) {
        EXPECT_EQ(audio::GainText(c.gain), c.text) << c.gain;
    }
    EXPECT_EQ(audio::PeakText(0.98855349), "0.988553");
    EXPECT_EQ(audio::PeakText(1.0), "1.000000");
    // Q7.8 against -23 LUFS: 5 dB louder than -23 is -5 * 256.
    struct R128 {
        double lufs;
        const char* text;
    } r128[] = {
        {-18.0, "-1280"}, {-23.0, "0"}, {-30.5, "1920"}, {-300.0, "32767"}, {200.0, "-32768"}};
    for (const R128& c : r128) {
        EXPECT_EQ(audio::R128GainText(c.lufs), c.text) << c.lufs;
    }
}

// Test signals for the peak: stereo, 44.1 kHz, sample i of channel c.
struct PeakCase {
    const char* name;
    std::function<double(std::size_t i, int c)> sample; // full scale = 1
    // ffmpeg finds peaks by resampling to 192 kHz with its own filter: near half the sample
    // rate (noise, clicks, a quarter-rate sine) its peaks differ from the 4x interpolator's,
    // which libebur128 and loudgain share, by up to 0.8 dB; only band-limited cases compare.
    bool ffmpegPeak;
};

double Noise(std::size_t i, int c) {
    static std::vector<double> table = [] {
        std::mt19937 random(5);
        std::uniform_real_distribution<double> value(-0.89, 0.89);
        std::vector<double> t(44100 * 6 * 2);
        for (double& v : t) {
            v = value(random);
        }
        return t;
    }();
    return table[(2 * i + static_cast<std::size_t>(c)) % table.size()];
}

double Sine(double hz, double dbfs, std::size_t i, double phase = 0) {
    return std::pow(10.0, dbfs / 20.0) *
           std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / 44100.0 + phase);
}

const PeakCase kPeakCases[] = {
    {"1 kHz at -6 dBFS", [](std::size_t i, int) { return Sine(1000, -6, i); }, true},
    // Samples at +-0.64 of a 0.9 wave: the peak lies between them, 3 dB above the samples.
    {"quarter-rate sine off its peaks",
     [](std::size_t i, int) { return Sine(11025, -0.92, i, std::numbers::pi / 4); }, false},
    {"noise", [](std::size_t i, int c) { return Noise(i, c); }, false},
    // Loud samples first, long quiet stretches the meter can pass over, then samples below
    // the first peak whose wave rises above it between them; and the reverse.
    {"loud, quiet, then a peak between samples",
     [](std::size_t i, int) {
         return i < 44100       ? Sine(1000, -2, i)
                : i < 2 * 44100 ? Sine(997, -20, i)
                                : Sine(11025, -0.92, i, std::numbers::pi / 4);
     },
     false},
    {"quiet then loud right only",
     [](std::size_t i, int c) {
         return i < 5 * 44100 ? Sine(997, -30, i) : (c == 1 ? Sine(5000, -1, i, 0.7) : 0.0);
     },
     true},
    // Lone clicks on block edges: their ringing spans two blocks.
    {"clicks on block edges",
     [](std::size_t i, int c) {
         return (c == 0 && (i == 255 || i == 256 * 40 + 3)) ? -0.7 : Sine(440, -40, i);
     },
     false},
};

std::vector<std::int16_t> Samples(const PeakCase& c, std::size_t frames) {
    std::vector<std::int16_t> samples(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        for (int ch = 0; ch < 2; ++ch) {
            samples[2 * i + static_cast<std::size_t>(ch)] =
                static_cast<std::int16_t>(std::lround(32767.0 * c.sample(i, ch)));
        }
    }
    return samples;
}

// Every vector width this processor runs: each is held to the same references.
std::vector<audio::TSimdLevel> Levels() {
    std::vector<audio::TSimdLevel> levels;
    for (const auto level : {audio::TSimdLevel::Base, audio::TSimdLevel::Avx2}) {
        if (audio::Runs(level)) {
            levels.push_back(level);
        }
    }
    return levels;
}
const std::vector<audio::TSimdLevel> kLevels = Levels();

// libebur128's own true peak, with every block interpolated, as the reference.
double LibraryTruePeak(const std::vector<std::int16_t>& samples) {
    ebur128_state* state = ebur128_init(2, 44100, EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_short(state, samples.data(), samples.size() / 2);
    double most = 0;
    for (unsigned c = 0; c < 2; ++c) {
        double peak = 0;
        ebur128_true_peak(state, c, &peak);
        most = std::max(most, peak);
    }
    ebur128_destroy(&state);
    return most;
}

// ffmpeg's ebur128 filter's summary: integrated loudness (LUFS) and true peak (dBFS).
std::pair<double, double> FfmpegMeasure(const std::string& wav) {
    const std::string out =
        testsupport::RunCommand("ffmpeg -nostats -hide_banner -i " + Quote(wav) +
                                " -af ebur128=peak=true -f null - 2>&1")
            .Output;
    std::smatch i;
    std::smatch peak;
    const std::string summary = out.substr(out.rfind("Summary:"));
    EXPECT_TRUE(std::regex_search(summary, i, std::regex(R"(I:\s+(-?[0-9.]+) LUFS)"))) << out;
    EXPECT_TRUE(std::regex_search(summary, peak, std::regex(R"(Peak:\s+(-?[0-9.]+) dBFS)"))) << out;
    return {std::stod(i[1]), std::stod(peak[1])};
}

TEST(Loudness, true_peak_and_loudness_agree_with_libebur128_and_ffmpeg) {
    TempDir dir;
    constexpr std::size_t kFrames = 44100 * 6;
    for (const PeakCase& c : kPeakCases) {
        const std::vector<std::int16_t> samples = Samples(c, kFrames);
        const std::vector<std::uint8_t> pcm = S16ToBytes(samples);
        TLoudnessMeter meter;
        for (std::size_t at = 0; at < pcm.size(); at += 23520) { // the rip thread's blocks
            meter.AddPcm(std::span(pcm).subspan(at, std::min<std::size_t>(23520, pcm.size() - at)));
        }
        const double libraryPeak = LibraryTruePeak(samples);
        EXPECT_NEAR(meter.Peak(), libraryPeak, 1e-5 * libraryPeak) << c.name;
        for (const audio::TSimdLevel level : kLevels) {
            audio::TTruePeak peak(2, level);
            peak.Add(samples.data(), kFrames);
            EXPECT_NEAR(peak.Peak(), libraryPeak, 1e-5 * libraryPeak) << c.name;
        }

        const std::string wav = dir.File("peak.wav");
        WriteBytes(wav, PcmWav(pcm, 2, 44100, 16));
        const auto [lufs, peakDb] = FfmpegMeasure(wav);
        ASSERT_TRUE(meter.Loudness().has_value()) << c.name;
        // ffmpeg prints one decimal: 0.1 plus its rounding.
        EXPECT_NEAR(*meter.Loudness(), lufs, 0.15) << c.name;
        if (c.ffmpegPeak) {
            EXPECT_NEAR(20.0 * std::log10(meter.Peak()), peakDb, 0.15) << c.name;
        }
    }
    // The off-peak quarter-rate sine: the peak found between the samples (3 dB above them),
    // within the interpolator's ripple so near its band edge.
    const std::vector<std::int16_t> offPeak = Samples(kPeakCases[1], 4410);
    TLoudnessMeter meter;
    meter.AddPcm(S16ToBytes(offPeak));
    EXPECT_NEAR(20.0 * std::log10(meter.Peak()), -0.92, 0.15);
}

} // namespace

namespace {

TEST(Loudness, a_meter_fed_on_its_own_thread_measures_what_a_direct_one_does) {
    // More blocks than the queue holds, and restarts between them: the fed meter must see
    // every block, in order, and forget exactly what came before the last restart.
    const std::vector<std::uint8_t> first = S16ToBytes(Samples(kPeakCases[3], 44100 * 3));
    const std::vector<std::uint8_t> second = S16ToBytes(Samples(kPeakCases[0], 44100 * 2));
    auto fed = std::make_shared<TLoudnessMeter>();
    TLoudnessMeter direct;
    {
        audio::TMeterFeed feed(fed);
        for (const auto* pcm : {&first, &second}) {
            feed.Restart();
            direct.Reset();
            for (std::size_t at = 0; at < pcm->size(); at += 4099) {
                const auto block =
                    std::span(*pcm).subspan(at, std::min<std::size_t>(4099, pcm->size() - at));
                feed.Add(block);
                direct.AddPcm(block);
            }
            feed.Drain();
            EXPECT_EQ(fed->Loudness(), direct.Loudness());
            EXPECT_EQ(fed->Peak(), direct.Peak());
        }
        feed.Add(first); // measured before the feed's end returns
    }
    direct.AddPcm(first);
    EXPECT_EQ(fed->Loudness(), direct.Loudness());
}

} // namespace

namespace {

// libebur128's integrated loudness of one programme, or of several as one.
std::optional<double> LibraryLoudness(const std::vector<std::vector<std::int16_t>>& programmes,
                                      unsigned channels, unsigned long rate) {
    std::vector<ebur128_state*> states;
    for (const auto& samples : programmes) {
        states.push_back(ebur128_init(channels, rate, EBUR128_MODE_I));
        ebur128_add_frames_short(states.back(), samples.data(), samples.size() / channels);
    }
    double lufs = 0;
    const int status = ebur128_loudness_global_multiple(states.data(), states.size(), &lufs);
    for (ebur128_state*& state : states) {
        ebur128_destroy(&state);
    }
    if (status != EBUR128_SUCCESS || !std::isfinite(lufs)) {
        return std::nullopt;
    }
    return lufs;
}

TEST(Loudness, the_gated_loudness_equals_libebur128s_at_every_rate_width_and_length) {
    struct Case {
        const char* name;
        unsigned channels;
        unsigned long rate;
        std::size_t frames; // over the filter's 3 s pairs of slices and 100 ms segments, or short
        std::function<double(std::size_t i, int c)> sample;
    } cases[] = {
        {"noise", 2, 44100, 44100 * 3 + 5, Noise},
        // The high-pass's own range: a 25 Hz rumble under a quiet tone.
        {"rumble", 2, 44100, 44100 * 2 + 4417,
         [](std::size_t i, int) { return Sine(25, -3, i) + Sine(3000, -30, i); }},
        // Loud, then quiet enough for the relative gate to leave it out.
        {"gated", 2, 44100, 44100 * 4,
         [](std::size_t i, int c) { return i < 44100 * 2 ? Noise(i, c) : Sine(997, -45, i); }},
        {"one block", 2, 44100, 17643, [](std::size_t i, int) { return Sine(440, -9, i); }},
        {"too short for a block", 2, 44100, 17639,
         [](std::size_t i, int) { return Sine(440, -9, i); }},
        {"48 kHz", 2, 48000, 48000 * 7 / 2 + 3,
         [](std::size_t i, int c) { return Noise(i, c) / 3; }},
        {"96 kHz mono", 1, 96000, 96000 * 31 / 10 + 7,
         [](std::size_t i, int) { return Sine(12000, -6, i); }},
    };
    std::vector<std::vector<std::int16_t>> stereo44;
    std::vector<std::vector<double>> blocks44;
    for (const Case& c : cases) {
        std::vector<std::int16_t> samples(c.frames * c.channels);
        for (std::size_t i = 0; i < c.frames; ++i) {
            for (unsigned ch = 0; ch < c.channels; ++ch) {
                samples[i * c.channels + ch] = static_cast<std::int16_t>(
                    std::lround(32767.0 * c.sample(i, static_cast<int>(ch))));
            }
        }
        const std::optional<double> expected = LibraryLoudness({samples}, c.channels, c.rate);
        for (const audio::TSimdLevel level : kLevels) {
            audio::TKWeighting weighting(c.channels, c.rate, level);
            for (std::size_t at = 0; at < c.frames; at += 1001) { // runs cut across calls
                weighting.Add(samples.data() + at * c.channels,
                              std::min<std::size_t>(1001, c.frames - at));
            }
            const std::optional<double> lufs =
                audio::TKWeighting::GatedLoudness(weighting.Blocks());
            ASSERT_EQ(lufs.has_value(), expected.has_value()) << c.name;
            if (expected) {
                EXPECT_NEAR(*lufs, *expected, 1e-6)
                    << c.name << " level " << static_cast<int>(level);
            }
            if (c.channels == 2 && c.rate == 44100 && level == audio::TSimdLevel::Base) {
                stereo44.push_back(samples);
                blocks44.push_back(weighting.Blocks());
            }
        }
    }
    // The album: every track's blocks together.
    std::vector<double> all;
    for (const auto& blocks : blocks44) {
        all.insert(all.end(), blocks.begin(), blocks.end());
    }
    EXPECT_NEAR(*audio::TKWeighting::GatedLoudness(all), *LibraryLoudness(stereo44, 2, 44100),
                1e-6);
    EXPECT_THROW(audio::TKWeighting(3, 44100), std::invalid_argument);
}

} // namespace
