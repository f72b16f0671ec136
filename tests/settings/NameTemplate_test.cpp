#include <gtest/gtest.h>

#include <string>

#include "settings/FileNames.h"
#include "settings/NameTemplate.h"

namespace {

using settings::ExpandNameTemplate;
using settings::kMaxFileNameBytes;
using settings::TNameFields;

TNameFields Disc() {
    TNameFields f;
    f.Track = 3;
    f.Title = "Morning Song";
    f.Artist = "The Band";
    f.AlbumArtist = "Various";
    f.Album = "First Light";
    f.Year = "1999";
    f.Genre = "Rock";
    f.Disc = "2";
    return f;
}

struct TemplateCase {
    const char* what;
    std::string pattern;
    TNameFields fields;
    std::string folders;
    std::string stem;
};

TNameFields With(void (*change)(TNameFields&)) {
    TNameFields f = Disc();
    change(f);
    return f;
}

class NameTemplateTest : public ::testing::TestWithParam<TemplateCase> {};

TEST_P(NameTemplateTest, GivesSafeFoldersAndName) {
    const TemplateCase& c = GetParam();
    const settings::TItemName name = ExpandNameTemplate(c.pattern, c.fields);
    EXPECT_EQ(name.Folders, c.folders) << c.what;
    EXPECT_EQ(name.Stem, c.stem) << c.what;
}

const std::string kLong(300, 'x');

INSTANTIATE_TEST_SUITE_P(
    Templates, NameTemplateTest,
    ::testing::Values(
        TemplateCase{"the default is the title alone", "%t", Disc(), "", "Morning Song"},
        TemplateCase{"every field", "%n %t %a %A %l %y %g %d", Disc(), "",
                     "03 Morning Song The Band Various First Light 1999 Rock 2"},
        TemplateCase{"folders", "%a/%l/%n - %t", Disc(), "The Band/First Light/",
                     "03 - Morning Song"},
        TemplateCase{"album artist and year", "%A/%l (%y)/%n - %t", Disc(),
                     "Various/First Light (1999)/", "03 - Morning Song"},
        TemplateCase{"track numbers past 9 keep their digits", "%n",
                     With([](TNameFields& f) { f.Track = 12; }), "", "12"},
        TemplateCase{"unknown and escaped percent signs stay", "%x 100%% %", Disc(), "",
                     "%x 100% %"},
        TemplateCase{"a slash in a value is no folder", "%a/%t",
                     With([](TNameFields& f) { f.Artist = "AC/DC"; }), "AC-DC/", "Morning Song"},
        TemplateCase{"control characters in a value", "%l/%t",
                     With([](TNameFields& f) { f.Album = "A\tB"; }), "A B/", "Morning Song"},
        TemplateCase{"non-ASCII stays", "%a/%t",
                     With([](TNameFields& f) { f.Artist = "Bj\xC3\xB6rk"; }), "Bj\xC3\xB6rk/",
                     "Morning Song"},
        TemplateCase{"an empty folder field leaves no empty folder", "%a/%l/%n - %t",
                     With([](TNameFields& f) { f.Artist.clear(); }), "First Light/",
                     "03 - Morning Song"},
        TemplateCase{"empty brackets go", "%l (%y)/%t",
                     With([](TNameFields& f) { f.Year.clear(); }), "First Light/", "Morning Song"},
        TemplateCase{"a dangling separator goes", "%n - %g",
                     With([](TNameFields& f) { f.Genre.clear(); }), "", "03"},
        TemplateCase{"an empty file part falls back to the title", "%a/%g",
                     With([](TNameFields& f) { f.Genre.clear(); }), "The Band/", "Morning Song"},
        TemplateCase{"dot-dot folders stay inside", "../../%t", Disc(), "__/__/", "Morning Song"},
        TemplateCase{"a value of dot-dot stays inside", "%a/%l/%t", With([](TNameFields& f) {
                         f.Artist = "..";
                         f.Album = ".";
                     }),
                     "__/_/", "Morning Song"},
        TemplateCase{"an absolute template stays inside", "/etc/%t", Disc(), "etc/",
                     "Morning Song"},
        TemplateCase{"doubled slashes make no empty folder", "%a//%t", Disc(), "The Band/",
                     "Morning Song"},
        TemplateCase{"over-long parts are cut each", "%l/%t", With([](TNameFields& f) {
                         f.Album = std::string(300, 'x');
                         f.Title = std::string(300, 'y');
                     }),
                     std::string(kMaxFileNameBytes, 'x') + "/",
                     std::string(kMaxFileNameBytes, 'y')},
        // 199 ASCII bytes and a two-byte character across the limit: the character goes.
        TemplateCase{"the cut keeps characters whole", "%t",
                     With([](TNameFields& f) { f.Title = std::string(199, 'z') + "\xC3\xA9!"; }),
                     "", std::string(199, 'z')}),
    [](const auto& param) { return "case" + std::to_string(param.index); });

} // namespace
