#include "jobs/Playlist.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TestSupport.h"

namespace {

using jobs::TPlaylistEntry;

struct PlaylistCase {
    const char* what;
    std::string folder;
    std::vector<TPlaylistEntry> entries;
    std::string text;
};

class PlaylistTextTest : public ::testing::TestWithParam<PlaylistCase> {};

TEST_P(PlaylistTextTest, ListsEachFileWithItsLengthAndName) {
    const PlaylistCase& c = GetParam();
    EXPECT_EQ(jobs::PlaylistText(c.folder, c.entries), c.text) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Playlists, PlaylistTextTest,
    ::testing::Values(
        PlaylistCase{"no files", "/m", {}, "#EXTM3U\n"},
        PlaylistCase{"files beside it, in the order given",
                     "/m/Band/Live",
                     {{"/m/Band/Live/02 - B.mp3", 185, "Band", "B"},
                      {"/m/Band/Live/01 - A.mp3", 3, "Band", "A"}},
                     "#EXTM3U\n#EXTINF:185,Band - B\n02 - B.mp3\n#EXTINF:3,Band - A\n01 - A.mp3\n"},
        PlaylistCase{"files in folders below it",
                     "/m",
                     {{"/m/A/x.ogg", 1, "A", "x"}, {"/m/B/C/y.ogg", 2, "B", "y"}},
                     "#EXTM3U\n#EXTINF:1,A - x\nA/x.ogg\n#EXTINF:2,B - y\nB/C/y.ogg\n"},
        PlaylistCase{
            "no artist", "/m", {{"/m/x.wav", 7, "", "Alone"}}, "#EXTM3U\n#EXTINF:7,Alone\nx.wav\n"},
        PlaylistCase{"UTF-8 as it is, line breaks of a title flattened",
                     "/m",
                     {{"/m/Bj\xC3\xB6rk.wav", 7, "Bj\xC3\xB6rk", "One\nTwo"}},
                     "#EXTM3U\n#EXTINF:7,Bj\xC3\xB6rk - One Two\nBj\xC3\xB6rk.wav\n"}),
    [](const auto& param) { return "case" + std::to_string(param.index); });

TEST(Playlist, TheCommonFolderIsTheDeepestOneHoldingEveryFile) {
    struct Case {
        std::vector<std::string> paths;
        std::string folder;
    };
    const Case cases[] = {
        {{}, ""},
        {{"/m/a.wav"}, "/m"},
        {{"/m/A/L/1.mp3", "/m/A/L/2.mp3"}, "/m/A/L"},
        {{"/m/A/L/1.mp3", "/m/B/L/2.mp3"}, "/m"},
        {{"/m/A/L/1.mp3", "/m/A/L2/2.mp3"}, "/m/A"},
        {{"/m/A/1.mp3", "/m/A/L/2.mp3"}, "/m/A"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(jobs::CommonFolder(c.paths), c.folder) << ::testing::PrintToString(c.paths);
    }
}

TEST(Playlist, AWholeFileTakesItsNameOnlyWhenWritten) {
    testsupport::ScratchFolder dir;
    const std::string path = dir.File("list.m3u8");
    EXPECT_EQ(jobs::WriteWholeFile(path, "#EXTM3U\n"), "");
    EXPECT_EQ(testsupport::ReadText(path), "#EXTM3U\n");
    EXPECT_FALSE(std::filesystem::exists(path + ".part"));
    // Rewritten in full, not appended to.
    EXPECT_EQ(jobs::WriteWholeFile(path, "#EXTM3U\nx\n"), "");
    EXPECT_EQ(testsupport::ReadText(path), "#EXTM3U\nx\n");
    const std::string missing = dir.File("no such folder/list.m3u8");
    const std::string why = jobs::WriteWholeFile(missing, "#EXTM3U\n");
    EXPECT_NE(why.find(missing), std::string::npos) << why;
    EXPECT_FALSE(std::filesystem::exists(missing));
}

} // namespace
