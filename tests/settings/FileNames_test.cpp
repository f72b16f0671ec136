#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "settings/FileNames.h"

namespace {

using settings::FileNameFromTitle;
using settings::kMaxFileNameBytes;

struct NameCase {
    const char* what;
    std::string title;
    std::string name;
};

class FileNameFromTitleTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(FileNameFromTitleTest, GivesTheExpectedName) {
    const NameCase& c = GetParam();
    EXPECT_EQ(FileNameFromTitle(c.title), c.name) << c.what;
}

// \xC3\xA9 is "é", \xE2\x80\x94 an em dash: multi-byte characters stay whole.
INSTANTIATE_TEST_SUITE_P(
    Titles, FileNameFromTitleTest,
    ::testing::Values(
        NameCase{"plain title", "Morning Song", "Morning Song"},
        NameCase{"slash inside a word", "AC/DC", "AC-DC"},
        NameCase{"slash between words", "Remix / Edit", "Remix - Edit"},
        NameCase{"leading slash", "/etc/passwd", "-etc-passwd"},
        NameCase{"parent folder path", "../escape", "..-escape"}, NameCase{"dot", ".", "_"},
        NameCase{"dot dot", "..", "__"}, NameCase{"three dots are a name", "...", "..."},
        NameCase{"leading dot kept", ".hack", ".hack"},
        NameCase{"control characters",
                 "A\tB\nC\rD\x7F"
                 "E",
                 "A B C D E"},
        NameCase{"NUL", std::string("A\0B", 3), "A B"},
        NameCase{"characters other systems refuse stay", R"(Why? "Yes": <a|b>*\)",
                 R"(Why? "Yes": <a|b>*\)"},
        NameCase{"UTF-8 stays", "Caf\xC3\xA9 \xE2\x80\x94 Live", "Caf\xC3\xA9 \xE2\x80\x94 Live"},
        NameCase{"empty", "", ""},
        NameCase{"long ASCII cut", std::string(300, 'a'), std::string(kMaxFileNameBytes, 'a')},
        NameCase{"exactly the limit", std::string(kMaxFileNameBytes, 'b'),
                 std::string(kMaxFileNameBytes, 'b')},
        // 199 ASCII bytes then "é" (bytes 199 and 200): the character would be split.
        NameCase{"cut before a split character", std::string(199, 'c') + "\xC3\xA9" + "tail",
                 std::string(199, 'c')},
        // 198 bytes then "é" ends at byte 200: it fits.
        NameCase{"cut after a whole character", std::string(198, 'd') + "\xC3\xA9" + "tail",
                 std::string(198, 'd') + "\xC3\xA9"},
        NameCase{"slash beyond the cut", std::string(kMaxFileNameBytes, 'e') + "/x",
                 std::string(kMaxFileNameBytes, 'e')}));

// Whatever the title, joining the name to a folder names a file directly inside it.
TEST(FileNameFromTitle, NeverLeavesTheFolderItIsJoinedTo) {
    const std::filesystem::path folder = "/music/out";
    for (const std::string& title : std::vector<std::string>{
             "..", ".", "../..", "/", "a/../../b", "./x", std::string("..\0/..", 6), "\n..",
             std::string(250, '/') + ".."}) {
        const std::string name = FileNameFromTitle(title);
        ASSERT_FALSE(name.empty()) << title;
        const std::filesystem::path file = (folder / (name + ".wav")).lexically_normal();
        EXPECT_EQ(file.parent_path(), folder) << title;
        EXPECT_EQ(file.filename().string(), name + ".wav") << title;
        EXPECT_LE(name.size(), kMaxFileNameBytes) << title;
    }
}

} // namespace
