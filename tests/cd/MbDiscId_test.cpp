// MusicBrainz disc ids and TOC texts, checked against the published example and against
// the test helper's own computation (tests/cd/musicbrainz.py), on made-up layouts and on
// generated disc images; and the CD-Text the images' cue sheets carry.
#include "cd/CdText.h"
#include "cd/DiscToc.h"
#include "cd/MbDiscId.h"

#include <gtest/gtest.h>

#include "cd/DiscImages.h"
#include "cd/MbServer.h"
#include "cd/akrip32.h"

namespace {

using namespace cd;

RipDisc Layout(const std::vector<std::pair<std::uint32_t, bool>>& starts, std::uint32_t leadOut) {
    RipDisc disc;
    int number = 1;
    for (const auto& [start, data] : starts) {
        disc.toc.push_back({number++, start, 0, data});
    }
    disc.leadOut = leadOut;
    return disc;
}

TEST(MbDiscIds, ThePublishedExampleTocGivesItsPublishedId) {
    // Four tracks at 150, 11563, 25174 and 45863 frames, lead-out 55370.
    const MbToc toc{1, 4, 55370, {150, 11563, 25174, 45863}};
    EXPECT_EQ(MbDiscIdOf(toc), "nljDXdC8B_pDwbdY1vZJvdrAZI4-");
    EXPECT_EQ(MbTocParameter(toc), "1+4+55370+150+11563+25174+45863");
    const RipDisc disc =
        Layout({{0, false}, {11413, false}, {25024, false}, {45713, false}}, 55220);
    EXPECT_EQ(MbDiscIdOf(disc), "nljDXdC8B_pDwbdY1vZJvdrAZI4-");
}

TEST(MbDiscIds, LayoutsGiveTheIdTheHelperComputesAndTheAudioSessionsToc) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::uint32_t, bool>> starts;
        std::uint32_t leadOut;
        std::string toc;
    };
    const std::vector<Case> cases = {
        {"audio only", {{0, false}, {900, false}, {1500, false}}, 2250, "1+3+2400+150+1050+1650"},
        {"one track", {{32, false}}, 20000, "1+1+20150+182"},
        // An enhanced CD: the audio ends 11400 frames before the data track.
        {"data track last",
         {{0, false}, {15000, false}, {200000, true}},
         250000,
         "1+2+188750+150+15150"},
        // A mixed-mode disc: the data track comes first and is left out.
        {"data track first",
         {{0, true}, {30000, false}, {60000, false}},
         90000,
         "2+3+90150+30150+60150"},
    };
    for (const Case& c : cases) {
        const RipDisc disc = Layout(c.starts, c.leadOut);
        const auto toc = MbTocOf(disc);
        ASSERT_TRUE(toc) << c.name;
        EXPECT_EQ(MbTocParameter(*toc), c.toc) << c.name;
        std::vector<std::pair<unsigned, bool>> starts(c.starts.begin(), c.starts.end());
        const std::string expected = cdtest::IndependentDiscId(starts, c.leadOut);
        ASSERT_EQ(expected.size(), 28u) << c.name << ": " << expected;
        EXPECT_EQ(MbDiscIdOf(disc), expected) << c.name;
    }
}

TEST(MbDiscIds, ADiscWithoutAudioHasNoId) {
    for (const RipDisc& disc : {Layout({}, 0), Layout({{0, true}}, 5000)}) {
        EXPECT_FALSE(MbTocOf(disc));
        EXPECT_EQ(MbDiscIdOf(disc), "");
    }
    EXPECT_EQ(MbDiscIdOf(MbToc{}), "");
}

TEST(MbDiscIds, AGeneratedImageIsNamedAsItsLayoutSays) {
    struct Case {
        std::vector<int> frames;
        std::string extra;
    };
    const std::vector<Case> cases = {
        {{900, 600, 750}, ""},
        {{1200}, ""},
        {{600, 12000, 750}, "--data-track-last"},
    };
    for (const Case& c : cases) {
        cdtest::ScratchFolder dir;
        cdtest::UseImages({cdtest::MakeImage(dir, "disc", c.frames, c.extra)});
        const int handle = cdtest::OpenFirstDrive();
        ASSERT_GT(handle, 0);
        const auto disc = ReadDiscOf(handle);
        CloseCDHandle(handle);
        ASSERT_TRUE(disc);
        std::vector<std::pair<unsigned, bool>> starts;
        unsigned lsn = 0;
        for (std::size_t t = 0; t < c.frames.size(); ++t) {
            const bool data = !c.extra.empty() && t + 1 == c.frames.size();
            starts.emplace_back(lsn, data);
            lsn += static_cast<unsigned>(c.frames[t]);
        }
        EXPECT_EQ(MbDiscIdOf(*disc), cdtest::IndependentDiscId(starts, lsn)) << c.extra;
    }
}

TEST(CdTextOfImages, TheCueSheetsTitlesAndPerformersAreRead) {
    struct Case {
        const char* name;
        std::string args;
        bool any;
        std::string artist, album;
        std::vector<std::string> titles;
    };
    const std::vector<Case> cases = {
        {"everything",
         "--performer 'Die Ärzte' --title 'Größtes Album' --track-titles 'Eins' 'Zwei' 'Drei'",
         true,
         "Die Ärzte",
         "Größtes Album",
         {"Eins", "Zwei", "Drei"}},
        {"titles of some tracks", "--track-titles 'Only One'", true, "", "", {"Only One", "", ""}},
        {"none", "", false, "", "", {}},
    };
    for (const Case& c : cases) {
        cdtest::ScratchFolder dir;
        cdtest::UseImages({cdtest::MakeImage(dir, "disc", {300, 400, 500}, c.args)});
        const int handle = cdtest::OpenFirstDrive();
        ASSERT_GT(handle, 0) << c.name;
        const auto text = CdTextOfHandle(handle);
        CloseCDHandle(handle);
        ASSERT_EQ(text.has_value(), c.any) << c.name;
        if (!text) {
            continue;
        }
        EXPECT_EQ(text->artist, c.artist) << c.name;
        EXPECT_EQ(text->album, c.album) << c.name;
        EXPECT_EQ(text->firstTrack, 1) << c.name;
        EXPECT_EQ(text->titles, c.titles) << c.name;
    }
    EXPECT_FALSE(CdTextOfHandle(0)) << "no handle, no text";
}

} // namespace
