// Full-length tags in a rip: which outputs the plan tags, what the step writes into the
// partial file before the rename (read back by mutagen), the designed version 1 tag left
// as it was, and a tag that cannot be written failing the item without a file under its
// final name.
#include <sys/stat.h>

#include <QImage>

#include <fstream>
#include <sstream>

#include "EncoderTestSupport.h"
#include "RipFormTestSupport.h"
#include "jobs/EncodeStep.h"
#include "tags/id3.h"

using namespace jobs_test;

namespace {

using settings::TOutputFormat;

struct PlanTagCase {
    TOutputFormat format;
    bool use; // ID3/Use
    bool id3v2;
    bool vorbis;
    bool writesTags;
    bool writesId3;
};

const PlanTagCase kPlanTags[] = {
    {TOutputFormat::ofMp3, true, true, true, true, true},
    {TOutputFormat::ofMp3, true, false, true, false, true},
    {TOutputFormat::ofMp3, false, true, true, false, false},
    {TOutputFormat::ofOgg, true, true, true, true, false},
    {TOutputFormat::ofOgg, true, true, false, false, false},
    {TOutputFormat::ofOgg, false, true, true, false, false},
    {TOutputFormat::ofFlac, true, true, true, true, false},
    {TOutputFormat::ofOpus, true, true, false, false, false},
    {TOutputFormat::ofWma, true, true, true, false, false},
    {TOutputFormat::ofWav, true, true, true, false, false},
};

std::vector<std::string> Values(const std::vector<std::pair<std::string, std::string>>& fields,
                                const std::string& key) {
    std::vector<std::string> values;
    for (const auto& [k, v] : fields) {
        if (k == key) {
            values.push_back(v);
        }
    }
    return values;
}

std::vector<std::pair<std::string, std::string>> ReadTags(const std::string& path,
                                                          const std::string& kind) {
    const auto result = testsupport::RunCommand("/usr/bin/python3 " VELLORINE_SOURCE_DIR
                                                "/tests/tags/read_tags.py " +
                                                testsupport::Quoted(path) + " " + kind);
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    std::vector<std::pair<std::string, std::string>> fields;
    std::istringstream lines(result.Output);
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) {
            fields.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        }
    }
    return fields;
}

const std::string kTokyo = "\xe6\x9d\xb1\xe4\xba\xac";

} // namespace

TEST(FullTagsPlan, ARipTagsEachFormatByItsKindAndItsSwitches) {
    testsupport::ScratchFolder out;
    for (const PlanTagCase& c : kPlanTags) {
        jobs::TJobSettings s;
        s.OutputFolder = out.Path();
        s.OutputFormat = c.format;
        s.Tags = c.use;
        s.TagOptions.ID3v2 = c.id3v2;
        s.TagOptions.VorbisComments = c.vorbis;
        s.Tag.Artist = "Disc Artist";
        s.TrackArtists[3] = "Guest";
        s.MbRecordingIds[3] = "rec-3";
        const jobs::TJobPlan rip(jobs::jkExtract, {"02Two", "03Three"}, s);
        const std::string name = settings::FormatRow(c.format)->Label;
        const jobs::TEncodeRequest two = rip.EncodeRequest(0, "in.wav");
        EXPECT_EQ(two.WriteTags, c.writesTags) << name;
        EXPECT_EQ(two.WriteId3, c.writesId3) << name;
        EXPECT_EQ(two.TagArtist, "Disc Artist") << "a track without its own artist";
        EXPECT_EQ(two.TagRecordingId, "");
        const jobs::TEncodeRequest three = rip.EncodeRequest(1, "in.wav");
        EXPECT_EQ(three.TagArtist, "Guest");
        EXPECT_EQ(three.TagRecordingId, "rec-3");
        EXPECT_EQ(three.SaveCoverIn, "") << "saving the cover is off by default";

        // A conversion of chosen files knows no titles: it never tags them.
        const jobs::TJobPlan conversion(jobs::jkWavToOgg, {"/music/a.wav"}, s);
        EXPECT_FALSE(conversion.EncodeRequest(0, "/music/a.wav").WriteTags) << name;
    }
}

TEST(FullTagsPlan, TheSnapshotTakesTheDiscsFieldsAndReadsTheCoverOnce) {
    const settings::TSettings saved = settings::Settings;
    const settings::TDiscInfo savedDisc = settings::DiscInfo;
    testsupport::ScratchFolder folder;
    const std::string cover = folder.File("front.png");
    QImage image(1500, 1200, QImage::Format_RGB32);
    image.fill(Qt::blue);
    ASSERT_TRUE(image.save(QString::fromStdString(cover)));
    settings::Settings.ID3.Use = true;
    settings::Settings.Tags.SaveCover = true;
    settings::DiscInfo.AlbumArtist = "Various";
    settings::DiscInfo.DiscNumber = "2/3";
    settings::DiscInfo.MbReleaseId = "rel";
    settings::DiscInfo.TrackNumber = 11;
    settings::DiscInfo.CoverFile = cover;
    settings::DiscInfo.TrackArtists[5] = "Five";

    const jobs::TJobSettings s = jobs::SnapshotSettings();
    EXPECT_TRUE(s.TagOptions.SaveCover);
    EXPECT_TRUE(s.TagOptions.ID3v2);
    EXPECT_TRUE(s.TagOptions.VorbisComments);
    EXPECT_EQ(s.Tag.AlbumArtist, "Various");
    EXPECT_EQ(s.Tag.DiscNumber, "2/3");
    EXPECT_EQ(s.Tag.MbReleaseId, "rel");
    EXPECT_EQ(s.Tag.TrackTotal, 11);
    EXPECT_EQ(s.TrackArtists[5], "Five");
    ASSERT_TRUE(s.Tag.Cover.Art);
    EXPECT_EQ(s.Tag.Cover.Art->Width, 1000);
    EXPECT_EQ(s.Tag.Cover.Art->Height, 800);
    const jobs::TJobPlan rip(jobs::jkExtract, {"01One"}, s);
    EXPECT_EQ(rip.EncodeRequest(0, "in.wav").SaveCoverIn, s.OutputFolder);

    settings::Settings.ID3.Use = false;
    settings::Settings.Tags.SaveCover = false;
    EXPECT_FALSE(jobs::SnapshotSettings().Tag.Cover.Art) << "read although nothing uses it";
    settings::Settings = saved;
    settings::DiscInfo = savedDisc;
}

namespace {

struct StepTagCase {
    const char* name;
    TOutputFormat format;
    const char* kind; // the reader's
    bool writeId3;    // the designed version 1 tag
    bool writeTags;   // the full-length tag
};

class FullTagsStep : public EncoderTest, public ::testing::WithParamInterface<StepTagCase> {
protected:
    void SetUp() override {
        EncoderTest::SetUp();
        ::setenv("PATH", (std::string(VELLORINE_BINARY_DIR) + ":" + oldPath).c_str(), 1);
    }

    jobs::TEncodeRequest Request() {
        const StepTagCase c = GetParam();
        jobs::TEncodeRequest r;
        r.Format = c.format;
        r.Input = MakeWav("in.wav", 1);
        r.Output = Path(std::string("out") + settings::FormatRow(c.format)->Extension);
        r.Partial = jobs::TJobPlan::PartialName(r.Output, 0);
        r.WriteId3 = c.writeId3;
        r.WriteTags = c.writeTags;
        r.TagTitle = kTokyo + " \xe2\x80\x93 " + std::string(200, 'x');
        r.TagTrack = 3;
        r.TagArtist = "Guest";
        r.Tag.Artist = "Disc Artist";
        r.Tag.Album = "Album";
        r.Tag.Genre = 1;
        r.Tag.TrackTotal = 9;
        r.Tag.DiscNumber = "1/2";
        r.StepId = 5;
        return r;
    }

    // Runs the step to its end record.
    std::unique_ptr<jobs::TEncodeStep> Encoded(const jobs::TEncodeRequest& r) {
        auto step = jobs::MakeEncodeStep(r, &window);
        step->Start();
        EXPECT_TRUE(WaitForEnds(1));
        EXPECT_TRUE(Settle());
        return step;
    }
};

} // namespace

TEST_P(FullTagsStep, FinishTagsThePartialFileThenNamesIt) {
    const StepTagCase c = GetParam();
    const jobs::TEncodeRequest r = Request();
    auto step = Encoded(r);
    const jobs::TFinishResult result = step->Finish(true);
    ASSERT_TRUE(result.Produced) << result.TagError;
    EXPECT_EQ(result.TagError, "");
    EXPECT_FALSE(fs::exists(r.Partial));

    const testsupport::Bytes bytes = testsupport::ReadAll(r.Output);
    const bool hasId3v2 = bytes.size() > 3 && bytes[0] == 'I' && bytes[1] == 'D' && bytes[2] == '3';
    if (c.format == TOutputFormat::ofMp3) {
        EXPECT_EQ(hasId3v2, c.writeTags) << "an ID3v2 tag only when asked for";
    }
    if (c.writeId3) {
        // The version 1 tag is the designed writer's, whatever else the file holds.
        tags::Tid3tag designed;
        designed.SetTitle(r.TagTitle);
        designed.SetArtist(r.Tag.Artist);
        designed.SetAlbum(r.Tag.Album);
        designed.Genre = tags::GenreIndexToCode(r.Tag.Genre);
        designed.SetTrack(3);
        const std::string alone = Path("alone.bin");
        WriteFile(alone, "");
        ASSERT_EQ(designed.WriteTag(alone), tags::ID3_DONE);
        const testsupport::Bytes tail(bytes.end() - 128, bytes.end());
        EXPECT_EQ(tail, testsupport::ReadAll(alone));
    }
    if (!c.writeTags) {
        return;
    }
    const auto fields = ReadTags(r.Output, c.kind);
    const bool id3 = c.format == TOutputFormat::ofMp3;
    EXPECT_EQ(Values(fields, id3 ? "TIT2" : "TITLE"), std::vector<std::string>{r.TagTitle});
    EXPECT_EQ(Values(fields, id3 ? "TPE1" : "ARTIST"), std::vector<std::string>{"Guest"});
    EXPECT_EQ(Values(fields, id3 ? "TCON" : "GENRE"), std::vector<std::string>{"A Cappella"});
    if (id3) {
        EXPECT_EQ(Values(fields, "TRCK"), std::vector<std::string>{"3/9"});
        EXPECT_EQ(Values(fields, "TPOS"), std::vector<std::string>{"1/2"});
    } else {
        EXPECT_EQ(Values(fields, "TRACKNUMBER"), std::vector<std::string>{"3"});
        EXPECT_EQ(Values(fields, "TRACKTOTAL"), std::vector<std::string>{"9"});
        EXPECT_EQ(Values(fields, "DISCNUMBER"), std::vector<std::string>{"1"});
        EXPECT_EQ(Values(fields, "DISCTOTAL"), std::vector<std::string>{"2"});
    }
}

// A read-only partial file: the designed version 1 writer reports its own error and the file
// keeps its name as before; a full-length tag alone fails the item.
TEST_P(FullTagsStep, ATagThatCannotBeWrittenFailsTheItemAndLeavesNoFile) {
    const StepTagCase c = GetParam();
    const jobs::TEncodeRequest r = Request();
    auto step = Encoded(r);
    ASSERT_EQ(::chmod(r.Partial.c_str(), 0444), 0);
    const jobs::TFinishResult result = step->Finish(true);
    EXPECT_EQ(result.TagResult, c.writeId3 ? tags::ID3_PROTECTED : tags::ID3_DONE);
    EXPECT_EQ(result.TagError, c.writeId3 ? "" : "the file is read-only");
    EXPECT_EQ(result.Produced, c.writeId3);
    EXPECT_EQ(fs::exists(r.Output), c.writeId3);
    EXPECT_FALSE(fs::exists(r.Partial));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FullTagsStep,
    ::testing::Values(StepTagCase{"Mp3Both", TOutputFormat::ofMp3, "mp3", true, true},
                      StepTagCase{"Mp3Version1Only", TOutputFormat::ofMp3, "mp3", true, false},
                      StepTagCase{"Mp3Version2Only", TOutputFormat::ofMp3, "mp3", false, true},
                      StepTagCase{"Ogg", TOutputFormat::ofOgg, "ogg", false, true},
                      StepTagCase{"Flac", TOutputFormat::ofFlac, "flac", false, true},
                      StepTagCase{"Opus", TOutputFormat::ofOpus, "opus", false, true}),
    [](const auto& param) { return std::string(param.param.name); });

namespace jobs_test {
namespace {

class CoverAtRipTime : public JobWindowTest {};

TEST_F(CoverAtRipTime, ACoverThatCannotBeReadIsToldAndTheFilesAreStillMade) {
    const settings::TDiscInfo savedDisc = settings::DiscInfo;
    settings::Settings.CommonOptions.OutputFormat = TOutputFormat::ofOgg;
    settings::Settings.ID3.Use = true;
    OpenDisc({75});
    const std::string cover = Out("front.jpg");
    std::ofstream(cover) << "not an image";
    settings::DiscInfo.CoverFile = cover;
    const JobOutcome run = Run(jobs::jkExtract, {"01One"});
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.boxes, QStringList{QString::fromStdString(
                             "The files are tagged without a cover: the cover " + cover +
                             " is not an image.")});
    EXPECT_TRUE(fs::exists(Out("One.ogg")));
    settings::DiscInfo = savedDisc;
}

} // namespace
} // namespace jobs_test
