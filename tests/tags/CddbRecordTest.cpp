// The rules by which a CDDB record becomes artist, album, year, genre and track titles.
#include "tags/CddbRecord.h"
#include "tags/Genres.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using tags::ParseCddbRecord;
using tags::TCddbRecord;
using Titles = std::vector<std::optional<std::string>>;

int Position(const char* genre) {
    const auto it = std::find_if(tags::GenreList.begin(), tags::GenreList.end(),
                                 [&](const char* g) { return std::string(g) == genre; });
    return static_cast<int>(it - tags::GenreList.begin());
}

struct DiscCase {
    const char* name;
    const char* text;
    std::optional<std::string> artist;
    std::optional<std::string> album;
};

TEST(CddbRecord, DiscTitlesSplitIntoArtistAndAlbum) {
    const std::vector<DiscCase> cases = {
        {"blank slash blank", "DTITLE=Artist Name / Album Name\n", "Artist Name", "Album Name"},
        {"bare slash", "DTITLE=Artist/Album\n", "Artist", "Album"},
        {"slash inside the artist", "DTITLE=AC/DC / Back in Black\n", "AC/DC", "Back in Black"},
        {"no slash: both are the value", "DTITLE=  Various  \n", "Various", "Various"},
        {"continued over two lines", "DTITLE=The Long Artist / The Long Al\nDTITLE=bum Title\n",
         "The Long Artist", "The Long Album Title"},
        {"blank at the join is kept", "DTITLE=A / Two \nDTITLE=Words\n", "A", "Two Words"},
        {"comment and other keys are not titles", "# DTITLE=x / y\nEXTD=DTITLE=z\n", {}, {}},
        {"empty value", "DTITLE=\n", "", ""},
    };
    for (const DiscCase& c : cases) {
        const TCddbRecord r = ParseCddbRecord(c.text, 1);
        EXPECT_EQ(r.artist, c.artist) << c.name;
        EXPECT_EQ(r.album, c.album) << c.name;
    }
}

TEST(CddbRecord, YearAndGenreAreTakenAsTheyAreAndGenresOnlyByTheirExactName) {
    struct Case {
        const char* text;
        std::optional<std::string> year;
        std::optional<int> genre;
    };
    const std::vector<Case> cases = {
        {"DYEAR= 1999 \nDGENRE=Blues\n", "1999", Position("Blues")},
        {"DGENRE=Acid Jazz\n", {}, Position("Acid Jazz")},
        {"DGENRE=blues\n", {}, -1},
        {"DGENRE=Nu-Gaze\n", {}, -1},
        {"DGENRE=\n", {}, -1},
        {"DYEAR=\n", "", {}},
        {"TTITLE0=x\n", {}, {}},
    };
    for (const Case& c : cases) {
        const TCddbRecord r = ParseCddbRecord(c.text, 1);
        EXPECT_EQ(r.year, c.year) << c.text;
        EXPECT_EQ(r.genre, c.genre) << c.text;
    }
    EXPECT_EQ(tags::GenreIndexToCode(Position("Blues")), 0) << "Blues is written as code 0";
}

TEST(CddbRecord, TrackTitlesFollowTheirKeysNotTheirLinePositions) {
    struct Case {
        const char* name;
        std::string text;
        int tracks;
        Titles titles;
    };
    const std::vector<Case> cases = {
        {"one per track",
         "TTITLE0=One\nTTITLE1= Two \nTTITLE2=Three\n",
         3,
         {"One", "Two", "Three"}},
        {"a title continued over two lines stays one title",
         "TTITLE0=A\nTTITLE1=A very long ti\nTTITLE1=tle indeed\nTTITLE2=C\n",
         3,
         {"A", "A very long title indeed", "C"}},
        {"fewer lines than tracks leave the rest alone",
         "TTITLE0=A\nTTITLE1=B\nEXTD=x\n",
         4,
         {"A", "B", {}, {}}},
        {"an empty title is empty", "TTITLE0=\nTTITLE1=B\n", 2, {"", "B"}},
        {"more lines than tracks are ignored", "TTITLE0=A\nTTITLE1=B\nTTITLE7=H\n", 1, {"A"}},
        {"CR, LF and CR LF all end lines", "TTITLE0=A\rTTITLE1=B\r\nTTITLE2=C", 3, {"A", "B", "C"}},
        {"without a title for the first track there are none", "TTITLE1=B\nTTITLE2=C\n", 3, {}},
        {"keys that only look like titles",
         "TTITLE-1=x\nTTITLE+0=y\nTTITLE0x=z\nXTTITLE0=w\n",
         1,
         {}},
        {"out of order lines", "TTITLE1=B\nDTITLE=a / b\nTTITLE0=A\n", 2, {"A", "B"}},
        {"no tracks", "TTITLE0=A\n", 0, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseCddbRecord(c.text, c.tracks).titles, c.titles) << c.name;
    }
}

TEST(CddbRecord, ALaterRecordReplacesWhatItHasAndKeepsTheRest) {
    TCddbRecord first = ParseCddbRecord("DTITLE=A / B\nDYEAR=1990\nDGENRE=Rock\n", 2);
    const TCddbRecord second = ParseCddbRecord("DYEAR=2001\nTTITLE0=x\nTTITLE1=y\n", 2);
    first.Apply(second);
    EXPECT_EQ(first.artist, "A");
    EXPECT_EQ(first.year, "2001");
    EXPECT_EQ(first.genre, Position("Rock"));
    EXPECT_EQ(first.titles, (Titles{"x", "y"}));
}

TEST(CddbRecord, ARecordOfThousandsOfLinesAndBinaryNoiseIsReadWithoutHarm) {
    std::string text = "DTITLE=Big / Record\n";
    for (int i = 0; i < 5000; ++i) {
        text += "TTITLE" + std::to_string(i % 99) + "=part " + std::to_string(i) + "\n";
        text += std::string("\0\xff=\x80\r", 5);
    }
    const TCddbRecord r = ParseCddbRecord(text, 99);
    ASSERT_EQ(r.titles.size(), 99u);
    EXPECT_EQ(r.titles[0]->substr(0, 14), "part 0part 99p");
    EXPECT_EQ(r.album, "Record");
}

} // namespace
