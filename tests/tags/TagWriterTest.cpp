// Full-length tags written through TagLib into files the formats' own encoders made, read
// back by an independent reader (mutagen): every field in every format, text no version 1
// tag can hold, the cover, a second write replacing the first, and files that cannot be
// tagged.
#include <sys/stat.h>

#include <algorithm>
#include <gtest/gtest.h>

#include "TagTestFiles.h"
#include "tags/TagWriter.h"
#include "tags/id3.h"

using namespace tags;
using tagtests::TagFields;

namespace {

const std::string kTokyo = "\xe6\x9d\xb1\xe4\xba\xac";               // 東京
const std::string kDashed = "Night \xe2\x80\x93 Day";                // en dash
const std::string kRelease = "9e0a6b44-1c7c-4b8d-9a57-3ab0cd3d1f6e"; // MusicBrainz ids
const std::string kRecording = "0f2c1d7a-55b2-4c1e-8d3e-7a7b6f0c9e21";

// 200 characters, many of them two or three bytes long in UTF-8.
std::string LongTitle() {
    std::string title;
    for (int i = 0; i < 40; ++i) {
        title += "ab\xc3\xa9" + kTokyo; // a, b, é, 東, 京
    }
    return title;
}

struct FormatCase {
    const char* extension;
    const char* kind; // the reader's
};

const FormatCase kFormats[] = {
    {".mp3", "mp3"},
    {".ogg", "ogg"},
    {".opus", "opus"},
    {".flac", "flac"},
};

std::vector<std::string> Values(const TagFields& fields, const std::string& key) {
    std::vector<std::string> values;
    for (const auto& [k, v] : fields) {
        if (k == key) {
            values.push_back(v);
        }
    }
    return values;
}

// A field of the set and where each kind of tag keeps it: the ID3 frame, then the Vorbis
// comment fields (some numbers are two fields there).
struct FieldCase {
    const char* name;
    void (*set)(TTagSet&);
    std::vector<std::pair<std::string, std::string>> id3;
    std::vector<std::pair<std::string, std::string>> xiph;
};

const std::vector<FieldCase>& Fields() {
    static const std::vector<FieldCase> fields = {
        {"CJK title",
         [](TTagSet& s) { s.Title = kTokyo; },
         {{"TIT2", kTokyo}},
         {{"TITLE", kTokyo}}},
        {"dash in the artist",
         [](TTagSet& s) { s.Artist = kDashed; },
         {{"TPE1", kDashed}},
         {{"ARTIST", kDashed}}},
        {"long album",
         [](TTagSet& s) { s.Album = LongTitle(); },
         {{"TALB", LongTitle()}},
         {{"ALBUM", LongTitle()}}},
        {"album artist",
         [](TTagSet& s) { s.AlbumArtist = "Various"; },
         {{"TPE2", "Various"}},
         {{"ALBUMARTIST", "Various"}}},
        {"year", [](TTagSet& s) { s.Year = "1987"; }, {{"TDRC", "1987"}}, {{"DATE", "1987"}}},
        {"genre", [](TTagSet& s) { s.Genre = "Rock"; }, {{"TCON", "Rock"}}, {{"GENRE", "Rock"}}},
        {"comment",
         [](TTagSet& s) { s.Comment = "ripped \xc3\xa0 la maison"; },
         {{"COMM", "ripped \xc3\xa0 la maison"}},
         {{"COMMENT", "ripped \xc3\xa0 la maison"}}},
        {"track of total",
         [](TTagSet& s) {
             s.Track = 4;
             s.TrackTotal = 12;
         },
         {{"TRCK", "4/12"}},
         {{"TRACKNUMBER", "4"}, {"TRACKTOTAL", "12"}}},
        {"disc of total",
         [](TTagSet& s) {
             s.Disc = 2;
             s.DiscTotal = 3;
         },
         {{"TPOS", "2/3"}},
         {{"DISCNUMBER", "2"}, {"DISCTOTAL", "3"}}},
        {"release id",
         [](TTagSet& s) { s.MbReleaseId = kRelease; },
         {{"TXXX:MusicBrainz Album Id", kRelease}},
         {{"MUSICBRAINZ_ALBUMID", kRelease}}},
        {"recording id",
         [](TTagSet& s) { s.MbRecordingId = kRecording; },
         {{"UFID:http://musicbrainz.org", kRecording}},
         {{"MUSICBRAINZ_TRACKID", kRecording}}},
        {"extra field",
         [](TTagSet& s) { s.Extra.emplace_back("REPLAYGAIN_TRACK_GAIN", "-6.50 dB"); },
         {{"TXXX:REPLAYGAIN_TRACK_GAIN", "-6.50 dB"}},
         {{"REPLAYGAIN_TRACK_GAIN", "-6.50 dB"}}},
    };
    return fields;
}

std::shared_ptr<const TCoverArt> Cover() {
    auto cover = std::make_shared<TCoverArt>();
    cover->Bytes = std::string(5000, '\x7f');
    cover->Mime = "image/png";
    cover->Width = 640;
    cover->Height = 480;
    return cover;
}

class TagWriter : public ::testing::TestWithParam<FormatCase> {
protected:
    std::string Made(const std::string& stem) {
        const std::string path = tagtests::MakeAudio(folder, stem + GetParam().extension);
        EXPECT_FALSE(path.empty()) << "the encoder failed";
        return path;
    }
    tagtests::ScratchFolder folder;
};

} // namespace

TEST_P(TagWriter, EveryFieldIsReadBackWholeAndAnEarlierTagIsReplaced) {
    const FormatCase f = GetParam();
    // Written under a partial name, as a step does before the rename.
    const std::string made = Made("song");
    ASSERT_FALSE(made.empty());
    const std::string path = made + ".1.part";
    ASSERT_EQ(std::rename(made.c_str(), path.c_str()), 0);

    TTagSet old;
    old.Title = "Old title";
    old.Extra.emplace_back("OLDFIELD", "gone");
    old.Cover = Cover();
    ASSERT_EQ(WriteTagSet(path, f.extension, old), "");
    TTagSet set;
    for (const FieldCase& field : Fields()) {
        field.set(set);
    }
    ASSERT_EQ(WriteTagSet(path, f.extension, set), "");

    const TagFields read = tagtests::ReadTagFields(path, f.kind);
    const bool id3 = std::string(f.kind) == "mp3";
    for (const FieldCase& field : Fields()) {
        for (const auto& [key, value] : id3 ? field.id3 : field.xiph) {
            EXPECT_EQ(Values(read, key), std::vector<std::string>{value})
                << f.extension << ", " << field.name << ": " << key;
        }
    }
    for (const char* gone : {"TXXX:OLDFIELD", "OLDFIELD", "PICTURE", "APIC"}) {
        EXPECT_TRUE(Values(read, gone).empty()) << f.extension << " still has " << gone;
    }
    if (id3) {
        EXPECT_EQ(Values(read, "VERSION"), std::vector<std::string>{"2.4"});
        EXPECT_EQ(Values(read, "TIT2ENC"), std::vector<std::string>{"3"}); // UTF-8
    }
}

TEST_P(TagWriter, TheFrontCoverIsEmbeddedWithItsTypeAndSize) {
    const FormatCase f = GetParam();
    const std::string path = Made("cover");
    ASSERT_FALSE(path.empty());
    TTagSet set;
    set.Title = "With a cover";
    set.Cover = Cover();
    ASSERT_EQ(WriteTagSet(path, f.extension, set), "");

    const TagFields read = tagtests::ReadTagFields(path, f.kind);
    if (std::string(f.kind) == "mp3") {
        EXPECT_EQ(Values(read, "APIC"), std::vector<std::string>{"image/png 3 5000"});
    } else {
        EXPECT_EQ(Values(read, "PICTURE"), std::vector<std::string>{"image/png 3 640 480 5000"});
    }
}

TEST_P(TagWriter, EmptyFieldsAreLeftOut) {
    const FormatCase f = GetParam();
    const std::string path = Made("sparse");
    ASSERT_FALSE(path.empty());
    TTagSet set;
    set.Title = "Only a title";
    ASSERT_EQ(WriteTagSet(path, f.extension, set), "");

    const TagFields read = tagtests::ReadTagFields(path, f.kind);
    for (const FieldCase& field : Fields()) {
        const auto& keys = std::string(f.kind) == "mp3" ? field.id3 : field.xiph;
        for (const auto& [key, value] : keys) {
            if (key != "TIT2" && key != "TITLE") {
                EXPECT_TRUE(Values(read, key).empty()) << f.extension << " has " << key;
            }
        }
    }
}

TEST_P(TagWriter, AFileThatCannotBeTaggedIsRefusedWithItsReason) {
    const FormatCase f = GetParam();
    const std::string path = Made("refused");
    ASSERT_FALSE(path.empty());
    TTagSet set;
    set.Title = "Never written";

    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    const tagtests::Bytes before = tagtests::ReadAll(path);
    EXPECT_EQ(WriteTagSet(path, f.extension, set), "the file is read-only");
    EXPECT_EQ(tagtests::ReadAll(path), before);

    EXPECT_EQ(WriteTagSet(folder.File("vanished") + f.extension, f.extension, set),
              "No such file or directory");

    const std::string text = folder.WriteText(std::string("text") + f.extension, "not audio\n");
    const std::string cause = WriteTagSet(text, f.extension, set);
    EXPECT_EQ(cause.rfind("not a", 0), 0u) << cause;
}

// Setting fields into a tagged file: a field of the same name is replaced (not doubled), a
// new one added, and the rest of the tag (title, cover) stays.
TEST_P(TagWriter, SetFieldsReplacesItsNamesAndKeepsTheRestOfTheTag) {
    const FormatCase f = GetParam();
    const std::string path = Made("gain");
    ASSERT_FALSE(path.empty());
    TTagSet set;
    set.Title = "Kept";
    set.Cover = Cover();
    set.Extra.emplace_back("REPLAYGAIN_TRACK_GAIN", "-1.00 dB");
    ASSERT_EQ(WriteTagSet(path, f.extension, set), "");
    ASSERT_EQ(
        SetTagFields(path, f.extension,
                     {{"REPLAYGAIN_TRACK_GAIN", "-2.00 dB"}, {"REPLAYGAIN_ALBUM_GAIN", "3.50 dB"}}),
        "");

    const TagFields read = tagtests::ReadTagFields(path, f.kind);
    const bool id3 = std::string(f.kind) == "mp3";
    const std::string prefix = id3 ? "TXXX:" : "";
    EXPECT_EQ(Values(read, prefix + "REPLAYGAIN_TRACK_GAIN"), std::vector<std::string>{"-2.00 dB"})
        << f.extension;
    EXPECT_EQ(Values(read, prefix + "REPLAYGAIN_ALBUM_GAIN"), std::vector<std::string>{"3.50 dB"})
        << f.extension;
    EXPECT_EQ(Values(read, id3 ? "TIT2" : "TITLE"), std::vector<std::string>{"Kept"});
    EXPECT_EQ(Values(read, id3 ? "APIC" : "PICTURE").size(), 1u) << f.extension;

    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_EQ(SetTagFields(path, f.extension, {{"A", "b"}}), "the file is read-only");
    const std::string text = folder.WriteText(std::string("text") + f.extension, "not audio\n");
    EXPECT_EQ(SetTagFields(text, f.extension, {{"A", "b"}}).rfind("not a", 0), 0u);
    EXPECT_EQ(SetTagFields(path, ".wav", {{"A", "b"}}), "no tag is written into .wav files");
}

INSTANTIATE_TEST_SUITE_P(Formats, TagWriter, ::testing::ValuesIn(kFormats),
                         [](const auto& param) { return std::string(param.param.kind); });

// The version 2 tag goes in front; the version 1 tag at the end and the audio between are
// the bytes they were.
TEST(TagWriterMp3, TheVersion1TagAndTheAudioKeepTheirBytes) {
    tagtests::ScratchFolder folder;
    const std::string path = tagtests::MakeMp3(folder, "both.mp3", 0.5);
    ASSERT_FALSE(path.empty());
    Tid3tag v1;
    v1.SetTitle(kTokyo);
    v1.SetArtist("Artist");
    v1.SetTrack(3);
    ASSERT_EQ(v1.WriteTag(path), ID3_DONE);
    const tagtests::Bytes before = tagtests::ReadAll(path);

    TTagSet set;
    set.Title = kTokyo;
    set.Artist = "Artist";
    set.Track = 3;
    set.Cover = Cover();
    ASSERT_EQ(WriteTagSet(path, ".mp3", set), "");

    const tagtests::Bytes after = tagtests::ReadAll(path);
    ASSERT_GT(after.size(), before.size());
    EXPECT_EQ(std::string(after.begin(), after.begin() + 4), "ID3\x04");
    EXPECT_TRUE(
        std::equal(before.begin(), before.end(), after.end() - static_cast<long>(before.size())))
        << "the audio or the version 1 tag changed";
    Tid3tag read;
    ASSERT_EQ(read.ReadTag(path), ID3_DONE);
    EXPECT_EQ(read.Title, "??");
    EXPECT_EQ(read.Track, 3);
}

TEST(TagWriterNames, ExtensionsPickTheirTagAndNumbersTheirText) {
    const struct {
        const char* extension;
        TTagContainer container;
    } extensions[] = {
        {".mp3", TTagContainer::tcId3v2},     {".MP3", TTagContainer::tcId3v2},
        {".ogg", TTagContainer::tcOggVorbis}, {".opus", TTagContainer::tcOggOpus},
        {".Flac", TTagContainer::tcFlac},     {".wav", TTagContainer::tcNone},
        {".wma", TTagContainer::tcNone},      {"", TTagContainer::tcNone},
    };
    for (const auto& e : extensions) {
        EXPECT_EQ(ContainerOfExtension(e.extension), e.container) << e.extension;
    }
    EXPECT_EQ(CountText(0, 12), "");
    EXPECT_EQ(CountText(4, 0), "4");
    EXPECT_EQ(CountText(4, 12), "4/12");
    EXPECT_EQ(WriteTagSet("/nonexistent.wav", ".wav", TTagSet{}).empty(), false);
}
