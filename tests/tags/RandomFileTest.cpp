#include <gtest/gtest.h>
#include <random>

#include "TagTestFiles.h"
#include "tags/id3.h"

using namespace tags;

// Random sizes around the tag size and random bytes, half of them with the "TAG" marker
// where a tag would start: reading never fails otherwise, fields stay within the tag's
// widths, and a write then read gives the same fields back.
TEST(RandomFiles, ReadCleanlyAndSurviveARewrite) {
    tagtests::ScratchFolder folder;
    std::mt19937 random(20240601);
    for (int round = 0; round < 300; ++round) {
        tagtests::Bytes bytes(random() % 400);
        for (auto& b : bytes) {
            b = std::uint8_t(random());
        }
        if (bytes.size() >= 128 && round % 2 == 0) {
            std::copy_n("TAG", 3, bytes.end() - 128);
        }
        const std::string path = folder.Write("random.mp3", bytes);
        Tid3tag tag;
        const std::uint16_t status = tag.ReadTag(path);
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_TRUE(status == ID3_DONE || status == ID3_UNKNOWN_GENRE || status == ID3_NO_TAG);
        EXPECT_EQ(status == ID3_NO_TAG,
                  bytes.size() < 128 || !std::equal(bytes.end() - 128, bytes.end() - 125, "TAG"));
        EXPECT_LE(Utf8ToLatin1(tag.Title).size(), 30u);
        EXPECT_LE(Utf8ToLatin1(tag.Comment).size(), tag.HasTrack ? 28u : 30u);
        EXPECT_LE(Utf8ToLatin1(tag.Year).size(), 4u);

        ASSERT_EQ(tag.WriteTag(path), ID3_DONE);
        Tid3tag again;
        ASSERT_TRUE(Id3Succeeded(again.ReadTag(path)));
        EXPECT_EQ(again.Title, tag.Title);
        EXPECT_EQ(again.Artist, tag.Artist);
        EXPECT_EQ(again.Album, tag.Album);
        EXPECT_EQ(again.Year, tag.Year);
        EXPECT_EQ(again.Comment, tag.Comment);
        EXPECT_EQ(again.Track, tag.Track);
        EXPECT_EQ(again.Genre, tag.Genre);
    }
}
