#include "audio/Loudness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace {

using audio::TLoudnessMeter;

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
    const std::vector<std::uint8_t> pcm = SinePcm(440.0, -12.0, 3.0);
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
    meter.AddPcm(SinePcm(1000.0, -3.0, 2.0));
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

} // namespace
