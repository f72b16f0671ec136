// Tags written here are read by the id3v2 tool, and tags written by id3v2 are read here.
#include <gtest/gtest.h>
#include <map>
#include <sstream>

#include "TagTestFiles.h"
#include "tags/Genres.h"
#include "tags/id3.h"

using namespace tags;
using tagtests::RunCommand;

namespace {

std::string RightTrimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) {
        text.pop_back();
    }
    return text;
}

// The fields as "id3v2 -l" lists a version 1 tag: each text printed in a 30-column
// field after its label, year, genre and track after theirs.
std::map<std::string, std::string> ListedByTool(const std::string& path) {
    const auto result = RunCommand("id3v2 -l '" + path + "'");
    std::map<std::string, std::string> fields;
    std::istringstream lines(result.Output);
    std::string line;
    auto fixed = [](const std::string& from, std::size_t at) {
        return RightTrimmed(from.substr(at, std::min<std::size_t>(30, from.size() - at)));
    };
    while (std::getline(lines, line)) {
        if (line.rfind("Title  : ", 0) == 0) {
            fields["title"] = fixed(line, 9);
            fields["artist"] = RightTrimmed(line.substr(line.find("Artist: ") + 8));
        } else if (line.rfind("Album  : ", 0) == 0) {
            fields["album"] = fixed(line, 9);
            const auto year = line.find("Year: ") + 6;
            fields["year"] = line.substr(year, line.find(',', year) - year);
            fields["genre"] = RightTrimmed(line.substr(line.find("Genre: ") + 7));
        } else if (line.rfind("Comment: ", 0) == 0) {
            fields["comment"] = fixed(line, 9);
            const auto track = line.find("Track: ");
            fields["track"] =
                track == std::string::npos ? "" : RightTrimmed(line.substr(track + 7));
        }
    }
    return fields;
}

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
    EXPECT_STREQ(GenreList[GenreCodeToIndex(tag.Genre)], "Noise");
    EXPECT_EQ(tagtests::ReadAll(path).size(), 4096u + 128u);
}
