#include "app/TrackRows.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

struct Msf {
    int m, s, f;
};

// A TOC whose entries start at the given addresses; the last one is the lead-out.
cd::TTOC MakeToc(std::initializer_list<Msf> starts) {
    cd::TTOC toc{};
    toc.firstTrack = 1;
    toc.lastTrack = static_cast<std::uint8_t>(starts.size() - 1);
    int k = 0;
    for (const Msf& a : starts) {
        toc.tracks[k].trackNumber = static_cast<std::uint8_t>(k + 1);
        toc.tracks[k].addr[1] = static_cast<std::uint8_t>(a.m);
        toc.tracks[k].addr[2] = static_cast<std::uint8_t>(a.s);
        toc.tracks[k].addr[3] = static_cast<std::uint8_t>(a.f);
        ++k;
    }
    return toc;
}

TEST(TrackRows, LengthsRunToTheNextEntryAndTheLastToTheLeadOut) {
    const auto rows = app::TrackRowsFromTOC(MakeToc({{0, 2, 0}, {4, 5, 33}, {13, 8, 74}}));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].number, 1);
    EXPECT_EQ(app::LengthText(rows[0]), "04:03");
    EXPECT_EQ(app::SizeText(rows[0]), "40.88");
    EXPECT_EQ(rows[1].number, 2);
    EXPECT_EQ(app::LengthText(rows[1]), "09:03"); // frames are ignored
}

TEST(TrackRows, AMinuteIsBorrowedWhenTheSecondsGoNegative) {
    const auto rows = app::TrackRowsFromTOC(MakeToc({{0, 2, 0}, {4, 1, 0}}));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(app::LengthText(rows[0]), "03:59");
}

TEST(TrackRows, EqualEntriesGiveAnEmptyTrackAndLongTracksKeepAllMinutes) {
    const auto rows = app::TrackRowsFromTOC(MakeToc({{0, 2, 0}, {0, 2, 40}, {100, 2, 0}}));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(app::LengthText(rows[0]), "00:00");
    EXPECT_EQ(app::SizeText(rows[0]), "00.00");
    EXPECT_EQ(app::LengthText(rows[1]), "100:00");
    EXPECT_EQ(app::SizeText(rows[1]), "1009.37");
}

TEST(TrackRows, SizesRoundToHundredthsWithHalvesToEven) {
    EXPECT_EQ(app::SizeText({1, 0, 25}), "04.21"); // 4.2057 MB
    EXPECT_EQ(app::SizeText({1, 0, 1}), "00.17");
    // 8192 s is exactly 1378.125 MB: the half goes to the even hundredth.
    EXPECT_EQ(app::SizeText({1, 136, 32}), "1378.12");
}

TEST(TrackRows, ATableThatCannotBeTrueGivesNoRows) {
    cd::TTOC toc = MakeToc({{0, 2, 0}, {1, 0, 0}});
    toc.lastTrack = 100; // no entry after track 100
    EXPECT_TRUE(app::TrackRowsFromTOC(toc).empty());
    toc.firstTrack = 0;
    toc.lastTrack = 1;
    EXPECT_TRUE(app::TrackRowsFromTOC(toc).empty());
}

} // namespace
