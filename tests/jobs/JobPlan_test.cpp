// The job plan alone: no window, no worker; every name and rule a job follows.
#include "jobs/JobPlan.h"
#include "settings/FileNames.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "settings/ProcessInfo.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using jobs::TJobKind;
using jobs::TJobPlan;
using jobs::TStepKind;
using settings::TOutputFormat;
using enum TStepKind;

jobs::TJobSettings SettingsFor(const std::string& folder, TOutputFormat format) {
    jobs::TJobSettings s;
    s.OutputFolder = folder;
    s.OutputFormat = format;
    return s;
}

struct PlanCase {
    const char* name;
    TJobKind kind;
    TOutputFormat format; // the setting (used by extraction jobs only)
    bool tags;
    const char* item;
    std::vector<TStepKind> steps;
    const char* output; // relative to the output folder; "@" stands for the input's folder
    std::int32_t endCode;
    bool asks;
    bool decode;
    bool writesId3;
};

class PlanFor : public ::testing::TestWithParam<PlanCase> {
protected:
    testsupport::ScratchFolder out;
};

TEST_P(PlanFor, NamesTheOutputOnceAndListsTheStepsOfEachItem) {
    const PlanCase c = GetParam();
    jobs::TJobSettings s = SettingsFor(out.Path(), c.format);
    s.Tags = c.tags;
    s.Tag.Artist = "The Band";
    const TJobPlan plan(c.kind, {c.item, c.item}, s);
    std::string expected = c.output;
    if (expected.front() == '@') {
        expected = "/music" + expected.substr(1);
    } else {
        expected = out.Path() + "/" + expected;
    }
    EXPECT_EQ(plan.Steps(0), c.steps);
    EXPECT_EQ(plan.Output(0), expected);
    EXPECT_EQ(plan.EndCode(), c.endCode);
    if (c.endCode == 0) {
        EXPECT_FALSE(plan.EncodeFormat().has_value());
        return;
    }
    const jobs::TEncodeRequest r = plan.EncodeRequest(0, plan.Input(0));
    EXPECT_EQ(r.Output, expected);
    EXPECT_EQ(r.Input, plan.Input(0));
    EXPECT_EQ(r.AsksToOverwrite, c.asks);
    EXPECT_EQ(r.Decode, c.decode);
    EXPECT_EQ(r.WriteId3, c.writesId3);
    EXPECT_EQ(r.WmaTags, c.tags);
    EXPECT_EQ(r.Tag.Artist, "The Band");
    // Two items never share a place to write in.
    EXPECT_NE(plan.EncodeRequest(1, plan.Input(1)).Partial, r.Partial);
    EXPECT_EQ(fs::path(r.Partial).parent_path(), fs::path(expected).parent_path());
}

INSTANTIATE_TEST_SUITE_P(KindsAndFormats, PlanFor,
                         ::testing::Values(PlanCase{"RipToMp3",
                                                    jobs::jkExtract,
                                                    TOutputFormat::ofMp3,
                                                    true,
                                                    "03Song",
                                                    {skExtract, skEncode, skTag, skCleanUp},
                                                    "Song.mp3",
                                                    settings::PI_MP3_ENDED,
                                                    false,
                                                    false,
                                                    true},
                                           PlanCase{"RipToMp3Untagged",
                                                    jobs::jkExtract,
                                                    TOutputFormat::ofMp3,
                                                    false,
                                                    "03Song",
                                                    {skExtract, skEncode, skCleanUp},
                                                    "Song.mp3",
                                                    settings::PI_MP3_ENDED,
                                                    false,
                                                    false,
                                                    false},
                                           PlanCase{"RipToWav",
                                                    jobs::jkExtract,
                                                    TOutputFormat::ofWav,
                                                    true,
                                                    "03Song",
                                                    {skExtract},
                                                    "Song.wav",
                                                    0,
                                                    false,
                                                    false,
                                                    false},
                                           PlanCase{"RipToUnknownFormat",
                                                    jobs::jkExtract,
                                                    settings::FormatFromStored(9),
                                                    true,
                                                    "03Song",
                                                    {skExtract},
                                                    "Song.wav",
                                                    0,
                                                    false,
                                                    false,
                                                    false},
                                           PlanCase{"RipToOgg",
                                                    jobs::jkExtract,
                                                    TOutputFormat::ofOgg,
                                                    true,
                                                    "03Song",
                                                    {skExtract, skEncode, skCleanUp},
                                                    "Song.ogg",
                                                    settings::PI_OGG_DONE,
                                                    false,
                                                    false,
                                                    false},
                                           PlanCase{"RipToWma",
                                                    jobs::jkExtract,
                                                    TOutputFormat::ofWma,
                                                    true,
                                                    "03Song",
                                                    {skExtract, skEncode, skCleanUp},
                                                    "Song.wma",
                                                    settings::PI_WMA_ENDED,
                                                    false,
                                                    false,
                                                    false},
                                           PlanCase{"WavToMp3",
                                                    jobs::jkWavToMp3,
                                                    TOutputFormat::ofOgg,
                                                    true,
                                                    "/music/a.b.wav",
                                                    {skResample, skEncode, skCleanUp},
                                                    "a.b.mp3",
                                                    settings::PI_MP3_ENDED,
                                                    true,
                                                    false,
                                                    false},
                                           PlanCase{"Mp3ToWav",
                                                    jobs::jkMp3ToWav,
                                                    TOutputFormat::ofOgg,
                                                    false,
                                                    "/music/x.mp3",
                                                    {skDecode},
                                                    "x.wav",
                                                    settings::PI_MP3_ENDED,
                                                    true,
                                                    true,
                                                    false},
                                           PlanCase{"RecordedToMp3",
                                                    jobs::jkRecordedToMp3,
                                                    TOutputFormat::ofWav,
                                                    true,
                                                    "/music/take.wav",
                                                    {skEncode},
                                                    "@/take.mp3",
                                                    settings::PI_MP3_ENDED,
                                                    false,
                                                    false,
                                                    false},
                                           PlanCase{"WavToOgg",
                                                    jobs::jkWavToOgg,
                                                    TOutputFormat::ofMp3,
                                                    false,
                                                    "/music/y",
                                                    {skResample, skEncode, skCleanUp},
                                                    "y.ogg",
                                                    settings::PI_OGG_DONE,
                                                    false,
                                                    false,
                                                    false},
                                           PlanCase{"WavToWma",
                                                    jobs::jkWavToWma,
                                                    TOutputFormat::ofMp3,
                                                    true,
                                                    "/music/z.wav",
                                                    {skEncode},
                                                    "z.wma",
                                                    settings::PI_WMA_ENDED,
                                                    true,
                                                    false,
                                                    false},
                                           PlanCase{"RipToFlac",
                                                    jobs::jkExtract,
                                                    TOutputFormat::ofFlac,
                                                    true,
                                                    "03Song",
                                                    {skExtract, skEncode, skCleanUp},
                                                    "Song.flac",
                                                    settings::PI_FLAC_DONE,
                                                    false,
                                                    false,
                                                    false},
                                           PlanCase{"RipToOpus",
                                                    jobs::jkExtract,
                                                    TOutputFormat::ofOpus,
                                                    false,
                                                    "03Song",
                                                    {skExtract, skEncode, skCleanUp},
                                                    "Song.opus",
                                                    settings::PI_OPUS_DONE,
                                                    false,
                                                    false,
                                                    false},
                                           // No resampling: FLAC and Opus take any rate.
                                           PlanCase{"WavToFlac",
                                                    jobs::jkWavToFlac,
                                                    TOutputFormat::ofMp3,
                                                    true,
                                                    "/music/f.wav",
                                                    {skEncode},
                                                    "f.flac",
                                                    settings::PI_FLAC_DONE,
                                                    true,
                                                    false,
                                                    false},
                                           PlanCase{"WavToOpus",
                                                    jobs::jkWavToOpus,
                                                    TOutputFormat::ofMp3,
                                                    false,
                                                    "/music/o.wav",
                                                    {skEncode},
                                                    "o.opus",
                                                    settings::PI_OPUS_DONE,
                                                    true,
                                                    false,
                                                    false},
                                           PlanCase{"FlacToWav",
                                                    jobs::jkFlacToWav,
                                                    TOutputFormat::ofOgg,
                                                    true,
                                                    "/music/d.flac",
                                                    {skDecode},
                                                    "d.wav",
                                                    settings::PI_FLAC_DECODED,
                                                    true,
                                                    false,
                                                    false}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(JobPlan, ARipReadsTheTrackNumberAndTitleAndGivesTheThreadItsOptions) {
    jobs::TJobSettings s = SettingsFor("/out", TOutputFormat::ofWav);
    s.EnableRipTime = true;
    s.RipTime = 30;
    s.Normalize = true;
    s.NormalizePercent = 50;
    const TJobPlan plan(jobs::jkExtract, {"07Seven Seas", "12", "03a/b", "04.."}, s);
    EXPECT_EQ(plan.Track(0), 7);
    EXPECT_EQ(plan.Title(0), "Seven Seas");
    EXPECT_EQ(plan.CaptionName(0), "Seven Seas");
    EXPECT_EQ(plan.DesignedWav(0), "/out/Seven Seas.wav");
    EXPECT_TRUE(plan.UsableTitle(0));
    EXPECT_FALSE(plan.UsableTitle(1)) << "no title";
    EXPECT_TRUE(plan.UsableTitle(2)) << "named as a-b";
    EXPECT_TRUE(plan.UsableTitle(3)) << "named as __";
    const cd::TRipOptions rip = plan.RipOptions(0);
    EXPECT_EQ(fs::path(rip.WavPath).parent_path(), "/out");
    EXPECT_TRUE(rip.EnableRipTime);
    EXPECT_EQ(rip.RipTime, 30);
    EXPECT_TRUE(rip.IsNormalize);
    EXPECT_EQ(rip.NormalizePercent, 50);
}

// Titles from a lookup name files in the output folder whatever they hold; the title itself
// (caption, tag) keeps its characters.
TEST(JobPlan, EveryFileATitleNamesStaysInTheOutputFolder) {
    struct Case {
        std::string item;
        TOutputFormat format;
        std::string wav;
        std::string output;
    };
    const Case cases[] = {
        {"01AC/DC", TOutputFormat::ofWav, "/out/AC-DC.wav", "/out/AC-DC.wav"},
        {"02Remix / Edit", TOutputFormat::ofMp3, "/out/Remix - Edit.wav", "/out/Remix - Edit.mp3"},
        {"03..", TOutputFormat::ofOgg, "/out/__.wav", "/out/__.ogg"},
        {"04../../etc/passwd", TOutputFormat::ofWma, "/out/..-..-etc-passwd.wav",
         "/out/..-..-etc-passwd.wma"},
        {"05/abs", TOutputFormat::ofWav, "/out/-abs.wav", "/out/-abs.wav"},
        {"06Tab\there", TOutputFormat::ofMp3, "/out/Tab here.wav", "/out/Tab here.mp3"},
    };
    for (const Case& c : cases) {
        jobs::TJobSettings s = SettingsFor("/out", c.format);
        s.Tags = true;
        const TJobPlan plan(jobs::jkExtract, {c.item}, s);
        EXPECT_TRUE(plan.UsableTitle(0)) << c.item;
        EXPECT_EQ(plan.Wav(0), c.wav) << c.item;
        EXPECT_EQ(plan.Output(0), c.output) << c.item;
        EXPECT_EQ(fs::path(plan.RipOptions(0).WavPath).parent_path(), "/out") << c.item;
        EXPECT_EQ(plan.CaptionName(0), c.item.substr(2)) << c.item;
        if (c.format == TOutputFormat::ofMp3) {
            EXPECT_EQ(plan.EncodeRequest(0, plan.Wav(0)).TagTitle, c.item.substr(2)) << c.item;
        }
    }
    // Scratch names made from a title are made safe the same way.
    testsupport::ScratchFolder out;
    out.WriteText("AC-DC.wav", "the user's");
    const TJobPlan plan(jobs::jkExtract, {"01AC/DC"},
                        SettingsFor(out.Path(), TOutputFormat::ofMp3));
    EXPECT_EQ(fs::path(plan.Wav(0)).filename(), "AC-DC (rip 1).wav");

    // A title longer than a name may be keeps its number when its own name is taken.
    std::string longTitle;
    for (int i = 0; i < 130; ++i) {
        longTitle += "\xC3\xA9"; // e acute, two bytes
    }
    const std::string cut = settings::FileNameFromTitle(longTitle);
    out.WriteText(cut + ".wav", "the user's");
    const TJobPlan longPlan(jobs::jkExtract, {"01" + longTitle, "02" + longTitle},
                            SettingsFor(out.Path(), TOutputFormat::ofMp3));
    const std::string first = fs::path(longPlan.Wav(0)).filename().string();
    const std::string second = fs::path(longPlan.Wav(1)).filename().string();
    EXPECT_TRUE(first.ends_with("\xC3\xA9 (rip 1).wav")) << first;
    EXPECT_TRUE(second.ends_with("\xC3\xA9 (rip 2).wav")) << second;
    EXPECT_LE(first.size(), settings::kMaxFileNameBytes);
    EXPECT_EQ(fs::path(longPlan.Output(0)).filename().string(), cut + ".mp3");
}

// An extracted WAV on its way to another format takes no name that is already taken: not a
// file in the folder, not another track's WAV. As the output itself it replaces an old one.
TEST(JobPlan, AnIntermediateWavGetsAScratchNameWhenItsOwnIsTaken) {
    testsupport::ScratchFolder out;
    out.WriteText("Taken.wav", "the user's");
    out.WriteText("Taken (rip 1).wav", "also the user's");
    const std::vector<std::string> items = {"01Taken", "02Free", "03Free", "04Taken"};
    struct Case {
        TOutputFormat format;
        std::vector<std::string> wavs;
    };
    const Case cases[] = {
        {TOutputFormat::ofMp3,
         {"Taken (rip 2).wav", "Free.wav", "Free (rip 1).wav", "Taken (rip 3).wav"}},
        {TOutputFormat::ofWma,
         {"Taken (rip 2).wav", "Free.wav", "Free (rip 1).wav", "Taken (rip 3).wav"}},
        {TOutputFormat::ofWav, {"Taken.wav", "Free.wav", "Free.wav", "Taken.wav"}},
    };
    for (const Case& c : cases) {
        const TJobPlan plan(jobs::jkExtract, items, SettingsFor(out.Path(), c.format));
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(plan.Wav(i), out.File(c.wavs[static_cast<std::size_t>(i)]))
                << settings::StoredFormat(c.format) << " item " << i;
            EXPECT_EQ(plan.DesignedWav(i),
                      out.File(items[static_cast<std::size_t>(i)].substr(2) + ".wav"));
            EXPECT_EQ(plan.Input(i), plan.Wav(i));
            // The rip writes under a name of its own and never over a final one.
            const std::string written = plan.RipOptions(i).WavPath;
            EXPECT_NE(written, plan.Wav(i));
            EXPECT_EQ(fs::path(written).parent_path(), fs::path(out.Path()));
        }
    }
}

TEST(JobPlan, CleanUpDeletesOnlyTheWavsOfEncodedTracksOnceAllAreExtracted) {
    struct Case {
        TOutputFormat format;
        bool keep;
        int extracted;
        std::vector<bool> encoded;
        std::vector<std::string> removed;
    };
    const Case cases[] = {
        {TOutputFormat::ofMp3, false, 3, {true, true, true}, {"/o/A.wav", "/o/B.wav", "/o/C.wav"}},
        {TOutputFormat::ofOgg, false, 3, {true, false, true}, {"/o/A.wav", "/o/C.wav"}},
        {TOutputFormat::ofWma, false, 2, {true, true, false}, {}}, // stopped before track 3
        {TOutputFormat::ofMp3, true, 3, {true, true, true}, {}},
        {TOutputFormat::ofWav, false, 3, {false, false, false}, {}},
    };
    for (const Case& c : cases) {
        jobs::TJobSettings s = SettingsFor("/o", c.format);
        s.KeepWav = c.keep;
        const TJobPlan plan(jobs::jkExtract, {"01A", "02B", "03C"}, s);
        EXPECT_EQ(plan.CleanUp(c.extracted, c.encoded), c.removed)
            << settings::StoredFormat(c.format) << " keep " << c.keep;
    }
    // File conversions leave no resampled copy behind, whatever happened.
    for (const auto& [kind, temp] : {std::pair{jobs::jkWavToMp3, "/o/MyMP3ReTemp.wav"},
                                     std::pair{jobs::jkWavToOgg, "/o/MyReTemp.wav"}}) {
        const TJobPlan plan(kind, {"/m/a.wav"}, SettingsFor("/o", TOutputFormat::ofMp3));
        EXPECT_EQ(plan.ResampleTemp(), temp);
        EXPECT_EQ(plan.CleanUp(0, {false}), std::vector<std::string>{temp});
    }
}

// The settings are read once, on the GUI thread; an unknown WMA preset is mended there,
// in the settings record too, and never by an encoder.
TEST(JobPlan, TheSnapshotCopiesTheSettingsAndMendsAnUnknownWmaPreset) {
    const settings::TSettings saved = settings::Settings;
    const settings::TDiscInfo savedDisc = settings::DiscInfo;
    settings::Settings.CommonOptions.OutputFolder = "/o";
    settings::Settings.Mp3Options.BitRate = 192;
    settings::Settings.ID3.Use = true;
    settings::DiscInfo.Artist = "Artist";
    settings::DiscInfo.Genre = 17;
    for (const auto& [stored, used] : {std::pair{40, 8}, std::pair{-1, 8}, std::pair{0, 0}}) {
        settings::Settings.WMAOptions.BitRate = stored;
        const jobs::TJobSettings s = jobs::SnapshotSettings();
        EXPECT_EQ(s.WmaPreset, used);
        EXPECT_EQ(settings::Settings.WMAOptions.BitRate, used);
        EXPECT_EQ(s.OutputFolder, "/o");
        EXPECT_EQ(s.Mp3.BitRate, 192);
        EXPECT_TRUE(s.Tags);
        EXPECT_EQ(s.Tag.Artist, "Artist");
        EXPECT_EQ(s.Tag.Genre, 17);
    }
    settings::Settings = saved;
    settings::DiscInfo = savedDisc;
}

} // namespace
