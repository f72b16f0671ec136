// Tags written here are read by the id3v2 tool, and tags written by id3v2 are read here.
#include "TagTestFiles.h"
#include "tags/Genres.h"
#include "tags/id3.h"
#include <gtest/gtest.h>

using namespace tags;
using tagtests::ListedByTool;
using tagtests::RunCommand;

namespace {

class Id3Oracle : public ::testing::Test {
protected:
    void SetUp() override {
        if (RunCommand("id3v2 --version").ExitCode != 0) {
            GTEST_SKIP() << "id3v2 is not installed";
        }
    }
    tagtests::ScratchFolder folder;
};

} // namespace

TEST_F(Id3Oracle, AVersion11TagWrittenHereIsListedByTheTool) {
    const std::string path = folder.Write("ours.mp3", tagtests::Bytes(2000, 0x55));
    Tid3tag tag;
    tag.SetTitle("Thirty characters of title....");
    tag.SetArtist("The Caf\xc3\xa9 Band");
    tag.SetAlbum("Greatest Hits");
    tag.SetYear("1987");
    tag.SetComment("ripped at home");
    tag.SetTrack(11);
    tag.Genre = GenreIndexToCode(GenreCodeToIndex(17)); // Rock
    ASSERT_EQ(tag.WriteTag(path), ID3_DONE);

    const auto listed = ListedByTool(path);
    EXPECT_EQ(listed.at("title"), "Thirty characters of title....");
    EXPECT_EQ(listed.at("artist"), "The Caf\xe9 Band"); // the tool prints the tag's bytes
    EXPECT_EQ(listed.at("album"), "Greatest Hits");
    EXPECT_EQ(listed.at("year"), "1987");
    EXPECT_EQ(listed.at("comment"), "ripped at home");
    EXPECT_EQ(listed.at("track"), "11");
    EXPECT_EQ(listed.at("genre"), "Rock (17)");
}

TEST_F(Id3Oracle, ATagWrittenByTheToolIsReadHere) {
    const std::string path = folder.Write("theirs.mp3", tagtests::Bytes(4096, 0xAA));
    const auto result = RunCommand("id3v2 --id3v1-only -a 'Caf\xe9 Society' -A 'Live' -t 'Opener' "
                                   "-y 2003 -g 39 -c 'Recorded live' -T 4 '" +
                                   path + "'");
    ASSERT_EQ(result.ExitCode, 0) << result.Output;

    Tid3tag tag;
    ASSERT_EQ(tag.ReadTag(path), ID3_DONE);
    EXPECT_EQ(tag.Artist, "Caf\xc3\xa9 Society");
    EXPECT_EQ(tag.Album, "Live");
    EXPECT_EQ(tag.Title, "Opener");
    EXPECT_EQ(tag.Year, "2003");
    EXPECT_EQ(tag.Comment, "Recorded live");
    EXPECT_TRUE(tag.HasTrack);
    EXPECT_EQ(tag.Track, 4);
    EXPECT_STREQ(GenreList[static_cast<std::size_t>(GenreCodeToIndex(tag.Genre))], "Noise");
    EXPECT_EQ(tagtests::ReadAll(path).size(), 4096u + 128u);
}
