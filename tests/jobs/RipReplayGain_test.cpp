// ReplayGain in a rip: each file carries its track's gain and peak and the album's, measured
// from the audio the rip wrote; with the switch off nothing of it is written. The expected
// values come from the disc image's own bytes, measured apart from the rip.
#include "jobs/RipFormTestSupport.h"

#include <sstream>

#include "audio/Loudness.h"
#include "cd/ripthread.h"
#include "jobs/GainTags.h"
#include "tags/TagWriter.h"

namespace jobs_test {
namespace {

const std::vector<int> kFrames = {150, 225}; // two and three seconds

using Fields = std::vector<std::pair<std::string, std::string>>;

Fields ReadTags(const std::string& path, const std::string& kind) {
    const auto result = testsupport::RunCommand("/usr/bin/python3 " VELLORINE_SOURCE_DIR
                                                "/tests/tags/read_tags.py " +
                                                testsupport::Quoted(path) + " " + kind);
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    Fields fields;
    std::istringstream lines(result.Output);
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) {
            fields.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        }
    }
    return fields;
}

std::vector<std::string> Values(const Fields& fields, const std::string& key) {
    std::vector<std::string> values;
    for (const auto& [k, v] : fields) {
        if (k == key) {
            values.push_back(v);
        }
    }
    return values;
}

struct FormatCase {
    settings::TOutputFormat format;
    const char* extension;
    const char* kind;   // read_tags.py's
    const char* prefix; // where the fields are in what it prints
};

const FormatCase kFormats[] = {
    {settings::TOutputFormat::ofMp3, ".mp3", "mp3", "TXXX:"},
    {settings::TOutputFormat::ofOgg, ".ogg", "ogg", ""},
};

class RipReplayGain : public JobWindowTest {
protected:
    // The meter of each track, fed from the image's BIN (tracks lie back to back).
    // gain: the normalize pass's, applied as the rip thread applies it.
    std::vector<std::unique_ptr<audio::TLoudnessMeter>> MeasureImage(float gain = 1.0f) const {
        testsupport::Bytes bin = testsupport::ReadAll(BinPath());
        for (std::size_t i = 0; gain != 1.0f && i + 1 < bin.size(); i += 2) {
            const auto s = static_cast<std::int16_t>(bin[i] | (bin[i + 1] << 8));
            const auto scaled = static_cast<std::uint16_t>(cd::ScaleSample(s, gain));
            bin[i] = static_cast<std::uint8_t>(scaled & 0xFF);
            bin[i + 1] = static_cast<std::uint8_t>(scaled >> 8);
        }
        std::vector<std::unique_ptr<audio::TLoudnessMeter>> meters;
        std::size_t at = 0;
        for (const int frames : kFrames) {
            const std::size_t bytes = static_cast<std::size_t>(frames) * 2352;
            meters.push_back(std::make_unique<audio::TLoudnessMeter>());
            meters.back()->AddPcm(std::span(bin).subspan(at, bytes));
            at += bytes;
        }
        return meters;
    }
};

TEST_F(RipReplayGain, EachFileCarriesItsTracksAndTheAlbumsGainAndPeak) {
    for (const FormatCase& f : kFormats) {
        settings::Settings.CommonOptions.OutputFormat = f.format;
        settings::Settings.ID3.Use = true;
        settings::Settings.ReplayGain.Enabled = true;
        OpenDisc(kFrames);
        const JobOutcome run = Run(jobs::jkExtract, {"01One", "02Two"});
        ASSERT_TRUE(run.ended) << f.extension;
        EXPECT_TRUE(run.boxes.isEmpty()) << run.boxes.join("\n").toStdString();

        const auto meters = MeasureImage();
        const audio::TLoudnessMeter* album[] = {meters[0].get(), meters[1].get()};
        const audio::TTagFields albumFields = audio::AlbumGainFields(album, false);
        ASSERT_EQ(albumFields.size(), 2u);
        const std::string prefix = f.prefix;
        for (std::size_t t = 0; t < 2; ++t) {
            const std::string file = Out(std::string(t == 0 ? "One" : "Two") + f.extension);
            const Fields tags = ReadTags(file, f.kind);
            const audio::TTagFields track = audio::TrackGainFields(*meters[t], false);
            ASSERT_EQ(track.size(), 2u);
            for (const auto& [key, value] : track) {
                EXPECT_EQ(Values(tags, prefix + key), std::vector<std::string>{value})
                    << file << " " << key;
            }
            for (const auto& [key, value] : albumFields) {
                EXPECT_EQ(Values(tags, prefix + key), std::vector<std::string>{value})
                    << file << " " << key;
            }
            // The album pass kept the rest of the tag and left no copy behind.
            EXPECT_EQ(Values(tags, f.format == settings::TOutputFormat::ofMp3 ? "TIT2" : "TITLE"),
                      std::vector<std::string>{t == 0 ? "One" : "Two"});
            EXPECT_FALSE(fs::exists(jobs::TJobPlan::PartialName(file, static_cast<int>(t))));
            fs::remove(file);
        }
        cd::CloseCDHandle(handle);
        handle = 0;
    }
}

// The normalize pass changes the audio after it was read: the gain is the file's.
TEST_F(RipReplayGain, ANormalizedTrackIsMeasuredAsTheFileHoldsIt) {
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofOgg;
    settings::Settings.CommonOptions.IsNormalize = true;
    settings::Settings.CommonOptions.NormalizePercent = 50;
    settings::Settings.ID3.Use = true;
    settings::Settings.ReplayGain.Enabled = true;
    OpenDisc(kFrames);
    ASSERT_TRUE(Run(jobs::jkExtract, {"01One"}).ended);
    const Fields tags = ReadTags(Out("One.ogg"), "ogg");
    const auto scaled = MeasureImage(0.5f);
    const auto plain = MeasureImage();
    const std::string expected = audio::TrackGainFields(*scaled[0], false)[0].second;
    EXPECT_EQ(Values(tags, "REPLAYGAIN_TRACK_GAIN"), std::vector<std::string>{expected});
    EXPECT_NE(expected, audio::TrackGainFields(*plain[0], false)[0].second);
    // One track ripped: the album is that track.
    EXPECT_EQ(Values(tags, "REPLAYGAIN_ALBUM_GAIN"), std::vector<std::string>{expected});
}

TEST_F(RipReplayGain, WithTheSwitchOffNoGainIsWritten) {
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofOgg;
    settings::Settings.ID3.Use = true;
    settings::Settings.ReplayGain.Enabled = false;
    OpenDisc(kFrames);
    const JobOutcome run = Run(jobs::jkExtract, {"01One", "02Two"});
    ASSERT_TRUE(run.ended);
    for (const char* name : {"One.ogg", "Two.ogg"}) {
        const Fields tags = ReadTags(Out(name), "ogg");
        EXPECT_EQ(Values(tags, "TITLE").size(), 1u) << name;
        for (const auto& [key, value] : tags) {
            EXPECT_EQ(key.find("REPLAYGAIN"), std::string::npos) << name << " " << key;
        }
    }
}

// The album pass sets its fields in a tagged file (replacing older values of the same names,
// keeping the rest) through a copy; a file it cannot tag is left as it was.
TEST_F(RipReplayGain, TheAlbumPassReplacesItsFieldsAndKeepsTheRest) {
    settings::Settings.CommonOptions.OutputFormat = settings::TOutputFormat::ofOgg;
    settings::Settings.ID3.Use = true;
    OpenDisc(kFrames);
    ASSERT_TRUE(Run(jobs::jkExtract, {"01One"}).ended);
    const std::string ogg = Out("One.ogg");
    ASSERT_EQ(tags::SetTagFields(ogg, ".ogg", {{"REPLAYGAIN_ALBUM_GAIN", "+9.99 dB"}}), "");
    const auto meters = MeasureImage();
    const audio::TLoudnessMeter* album[] = {meters[0].get(), meters[1].get()};
    const std::string notOgg = Path("bad.ogg");
    WriteFile(notOgg, "not an ogg file");
    const jobs::TGainItem items[] = {{ogg, ogg + ".1.part", meters[0].get()},
                                     {notOgg, notOgg + ".2.part", meters[1].get()}};
    const std::string error = jobs::WriteAlbumGain(items, album);
    EXPECT_NE(error.find(notOgg + ": not an Ogg Vorbis file"), std::string::npos) << error;
    const std::string kept = "not an ogg file";
    EXPECT_EQ(testsupport::ReadAll(notOgg), testsupport::Bytes(kept.begin(), kept.end()));
    EXPECT_FALSE(fs::exists(notOgg + ".2.part"));
    EXPECT_FALSE(fs::exists(ogg + ".1.part"));
    const Fields tags = ReadTags(ogg, "ogg");
    EXPECT_EQ(Values(tags, "REPLAYGAIN_ALBUM_GAIN"),
              std::vector<std::string>{audio::AlbumGainFields(album, false)[0].second});
    EXPECT_EQ(Values(tags, "TITLE"), std::vector<std::string>{"One"});
}

} // namespace
} // namespace jobs_test
