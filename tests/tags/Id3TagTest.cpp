#include <filesystem>
#include <gtest/gtest.h>

#include "TagTestFiles.h"
#include "tags/Genres.h"
#include "tags/id3.h"

using namespace tags;
using tagtests::Bytes;
using tagtests::ReadAll;
using tagtests::TagImage;

namespace {

Bytes Audio(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = std::uint8_t(i * 7 + 1);
    }
    return bytes;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Comment(const std::string& text, std::size_t width = 30) {
    Bytes bytes(text.begin(), text.end());
    bytes.resize(width, 0x00);
    return bytes;
}

class Id3Tag : public ::testing::Test {
protected:
    tagtests::ScratchFolder folder;
    Tid3tag tag;
};

} // namespace

TEST_F(Id3Tag, AShortFileHasNoTagAndGetsOneAppended) {
    const std::string path = folder.Write("short.mp3", Audio(127));
    EXPECT_EQ(tag.ReadTag(path), ID3_NO_TAG);
    EXPECT_EQ(tag.FileName, path);
    tag.SetTitle("Song");
    EXPECT_EQ(tag.WriteTag(path), ID3_DONE);
    const Bytes written = ReadAll(path);
    ASSERT_EQ(written.size(), 255u);
    EXPECT_EQ(Bytes(written.begin(), written.begin() + 127), Audio(127));
    Tid3tag reader;
    EXPECT_EQ(reader.ReadTag(path), ID3_DONE);
    EXPECT_EQ(reader.Title, "Song");
}

TEST_F(Id3Tag, WritingTwiceReplacesTheFirstTagInsteadOfAppendingAnother) {
    const std::string path = folder.Write("plain.mp3", Audio(1000));
    tag.SetArtist("First");
    ASSERT_EQ(tag.WriteTag(path), ID3_DONE);
    tag.SetArtist("Second");
    ASSERT_EQ(tag.WriteTag("="), ID3_DONE);
    const Bytes written = ReadAll(path);
    ASSERT_EQ(written.size(), 1128u);
    EXPECT_EQ(Bytes(written.begin(), written.begin() + 1000), Audio(1000));
    Tid3tag reader;
    ASSERT_EQ(reader.ReadTag(path), ID3_DONE);
    EXPECT_EQ(reader.Artist, "Second");
}

TEST_F(Id3Tag, TrailingBlanksZerosAndFFAreTrimmedButInnerOnesStay) {
    Bytes image = TagImage(std::string(30, ' '), "ab", std::string("a\0b c", 5), "99\xff\xff",
                           Comment("x \xff"), 255);
    const std::string path = folder.Write("trim.mp3", Concat(Audio(10), image));
    ASSERT_EQ(tag.ReadTag(path), ID3_DONE);
    EXPECT_EQ(tag.Title, "");
    EXPECT_EQ(tag.Artist, "ab");
    EXPECT_EQ(tag.Album, std::string("a\0b c", 5));
    EXPECT_EQ(tag.Year, "99");
    EXPECT_EQ(tag.Comment, "x");
}

TEST_F(Id3Tag, AZeroAtOffset125FollowedByANumberIsATrackNumber) {
    Bytes comment = Comment("twenty-eight characters here", 30);
    comment[29] = 5;
    const std::string withTrack = folder.Write("v11.mp3", TagImage("", "", "", "", comment, 255));
    ASSERT_EQ(tag.ReadTag(withTrack), ID3_DONE);
    EXPECT_TRUE(tag.HasTrack);
    EXPECT_EQ(tag.Track, 5);
    EXPECT_EQ(tag.Comment, "twenty-eight characters here");

    // Two zeros: version 1.0 layout, the whole 30 bytes belong to the comment, and
    // a 30-byte comment read after a shorter one comes back whole.
    const std::string full = "thirty characters of comment!!";
    const std::string withoutTrack =
        folder.Write("v10.mp3", TagImage("", "", "", "", Comment(full), 255));
    ASSERT_EQ(tag.ReadTag(withoutTrack), ID3_DONE);
    EXPECT_FALSE(tag.HasTrack);
    EXPECT_EQ(tag.Track, 0);
    EXPECT_EQ(tag.Comment, full);
}

TEST_F(Id3Tag, ATrackNumberCostsTheCommentItsLastTwoBytes) {
    const std::string full = "123456789012345678901234567890";
    const std::string path = folder.Write("layout.mp3", Audio(200));
    tag.SetComment(full);
    tag.SetTrack(0);
    ASSERT_EQ(tag.WriteTag(path), ID3_DONE);
    Bytes written = ReadAll(path);
    EXPECT_EQ(std::string(written.end() - 31, written.end() - 1), full);

    tag.SetTrack(7);
    ASSERT_EQ(tag.WriteTag(path), ID3_DONE);
    written = ReadAll(path);
    ASSERT_EQ(written.size(), 328u);
    EXPECT_EQ(std::string(written.end() - 31, written.end() - 3), full.substr(0, 28));
    EXPECT_EQ(written[328 - 3], 0x00);
    EXPECT_EQ(written[328 - 2], 0x07);
}

TEST_F(Id3Tag, AnUnknownGenreReadsWithAFlagAndSavesAsNoGenre) {
    const std::string path = folder.Write("genre.mp3", TagImage("t", "", "", "", {}, 200));
    const std::uint16_t status = tag.ReadTag(path);
    EXPECT_EQ(status, ID3_UNKNOWN_GENRE);
    EXPECT_TRUE(Id3Succeeded(status));
    EXPECT_EQ(tag.Genre, 200);
    const int position = GenreCodeToIndex(tag.Genre);
    EXPECT_EQ(position, 0);
    tag.Genre = GenreIndexToCode(position);
    ASSERT_EQ(tag.WriteTag(path), ID3_DONE);
    EXPECT_EQ(ReadAll(path).back(), 255);
}

TEST_F(Id3Tag, ProtectedOrMissingFilesAreNeverWritten) {
    const std::string readOnly = folder.Write("ro.mp3", Audio(300));
    std::filesystem::permissions(readOnly, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    EXPECT_EQ(tag.WriteTag(readOnly), ID3_PROTECTED);
    EXPECT_EQ(ReadAll(readOnly), Audio(300));
    ASSERT_EQ(tag.ReadTag(readOnly), ID3_NO_TAG);
    EXPECT_TRUE(tag.ReadOnly);

    const std::string hidden = folder.Write(".hidden.mp3", Audio(300));
    EXPECT_EQ(tag.WriteTag(hidden), ID3_PROTECTED);
    EXPECT_EQ(ReadAll(hidden), Audio(300));

    const std::string missing = folder.File("missing.mp3");
    EXPECT_EQ(tag.WriteTag(missing), ID3_OPEN_FAILED);
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_EQ(tag.ReadTag(missing), ID3_OPEN_FAILED);
    EXPECT_EQ(tag.ReadTag(folder.File("")), ID3_OPEN_FAILED);
    EXPECT_EQ(tag.WriteTag(folder.File("")), ID3_OPEN_FAILED);
}

TEST_F(Id3Tag, AFailedReadKeepsTheFieldsItHad) {
    const std::string tagged =
        folder.Write("a.mp3", Concat(Audio(50), TagImage("Kept", "", "", "", {}, 3)));
    ASSERT_EQ(tag.ReadTag(tagged), ID3_DONE);
    const std::string untagged = folder.Write("b.mp3", Audio(500));
    EXPECT_EQ(tag.ReadTag(untagged), ID3_NO_TAG);
    EXPECT_EQ(tag.Title, "Kept");
    EXPECT_EQ(tag.Genre, 3);
}

TEST_F(Id3Tag, RemoveTagCutsOnlyARealTag) {
    const std::string plain = folder.Write("plain.mp3", Audio(400));
    ASSERT_EQ(tag.ReadTag(plain), ID3_NO_TAG);
    tag.RemoveTag();
    EXPECT_EQ(ReadAll(plain), Audio(400));

    const std::string tagged = folder.Write("tagged.mp3", Audio(400));
    ASSERT_EQ(tag.WriteTag(tagged), ID3_DONE);
    tag.RemoveTag();
    EXPECT_EQ(ReadAll(tagged), Audio(400));
}

TEST_F(Id3Tag, SettersKeepTheTagWidthsInLatin1Bytes) {
    tag.SetTitle(std::string(40, 'x'));
    EXPECT_EQ(tag.Title, std::string(30, 'x'));
    tag.SetYear("19999");
    EXPECT_EQ(tag.Year, "1999");
    std::string accented;
    for (int i = 0; i < 40; ++i) {
        accented += "\xc3\xa9"; // é is one byte in the tag
    }
    tag.SetArtist(accented);
    EXPECT_EQ(tag.Artist, accented.substr(0, 60));
    tag.SetAlbum("Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\xb5");
    EXPECT_EQ(tag.Album, "Caf\xc3\xa9 ?? ?");
}

TEST(Latin1Text, MalformedUtf8BecomesQuestionMarks) {
    EXPECT_EQ(Utf8ToLatin1("a\xc3"), "a?");         // cut short
    EXPECT_EQ(Utf8ToLatin1("\xc0\xaf"), "??");      // overlong
    EXPECT_EQ(Utf8ToLatin1("\xed\xa0\x80"), "???"); // surrogate
    EXPECT_EQ(Utf8ToLatin1("\xe9t\xe9"), "?t?");    // raw Latin-1 is not UTF-8
    EXPECT_EQ(Utf8ToLatin1("\xc2\xa0\xc3\xbf"), "\xa0\xff");
    EXPECT_EQ(Latin1ToUtf8("\x80\xff"), "\xc2\x80\xc3\xbf");
}

TEST(GenreList, PositionsAndCodesMapBothWays) {
    ASSERT_EQ(GenreList.size(), 149u);
    EXPECT_STREQ(GenreList[0], "");
    EXPECT_STREQ(GenreList[1], "A Cappella");
    EXPECT_STREQ(GenreList[148], "Vocal");
    const auto nameOf = [](std::uint8_t code) {
        return GenreList[static_cast<std::size_t>(GenreCodeToIndex(code))];
    };
    EXPECT_STREQ(nameOf(12), "Other");
    EXPECT_STREQ(nameOf(39), "Noise");
    EXPECT_STREQ(nameOf(0), "Blues");
    EXPECT_STREQ(nameOf(147), "Synthpop");
    for (int code = 0; code < 148; ++code) {
        const int position = GenreCodeToIndex(std::uint8_t(code));
        EXPECT_GE(position, 1);
        EXPECT_EQ(GenreIndexToCode(position), code);
    }
    for (int code = 148; code < 256; ++code) {
        EXPECT_EQ(GenreCodeToIndex(std::uint8_t(code)), 0);
    }
    EXPECT_EQ(GenreIndexToCode(0), 255);
    EXPECT_EQ(GenreIndexToCode(-1), 255);
    EXPECT_EQ(GenreIndexToCode(149), 255);
    EXPECT_EQ(GenreIndexToCode(255), 255);
}
