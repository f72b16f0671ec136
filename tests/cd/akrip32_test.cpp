#include "cd/akrip32.h"

#include "cd/DiscImages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <thread>

namespace {

using namespace cd;
using cdtest::MakeImage;
using cdtest::ScratchFolder;
using cdtest::UseImages;

std::string Text(const char* field, std::size_t size) {
    return std::string(field, strnlen(field, size));
}

TCDList DriveList() {
    TCDList list{};
    list.max = 8;
    EXPECT_EQ(GetCDList(list), 1);
    return list;
}

HCDROM OpenEntry(const TCDEntry& entry) {
    TCDHandleRequest request{};
    request.size = 12;
    request.ver = 1;
    request.ha = entry.ha;
    request.tgt = entry.tgt;
    request.lun = entry.lun;
    return GetCDHandle(request);
}

HCDROM OpenDrive(int index) {
    return OpenEntry(DriveList().cd[index]);
}

int FramesOf(const TTOCEntry& e) {
    return e.addr[1] * 4500 + e.addr[2] * 75 + e.addr[3];
}

// A track buffer with room for n frames, filled in by ReadCDAudioLBA.
struct Buffer {
    explicit Buffer(std::int32_t first, std::uint32_t n, std::uint32_t capacityFrames)
        : storage(TrackBufHeaderSize + capacityFrames * CDFrameBytes + 1) {
        buf = new (storage.data()) TTrackBuf{};
        buf->startFrame = first;
        buf->numFrames = n;
        buf->maxLen = capacityFrames * CDFrameBytes;
    }
    std::vector<std::uint8_t> Data() const {
        const std::uint8_t* p = storage.data() + TrackBufHeaderSize + buf->startOffset;
        return {p, p + buf->len};
    }
    std::vector<std::uint8_t> storage;
    TTrackBuf* buf;
};

class CdDriveInterface : public ::testing::Test {
protected:
    void TearDown() override {
        for (HCDROM h = 1; h <= 16; ++h) {
            CloseCDHandle(h);
        }
    }
    ScratchFolder dir;
};

TEST_F(CdDriveInterface, ListsEachExistingImageAsADriveOfTheImageAdapter) {
    const auto a = MakeImage(dir, "A rather long disc name", {75});
    const auto b = MakeImage(dir, "short", {75});
    dir.WriteText("notes.txt", "not an image");
    UseImages({a, dir.File("missing.cue"), dir.File("notes.txt"), b});

    const TCDList list = DriveList();
    ASSERT_EQ(list.num, 2);
    EXPECT_EQ(CDDriveCount(), 2);
    EXPECT_EQ(Text(list.cd[0].vendor, 9), "IMAGE");
    EXPECT_EQ(Text(list.cd[0].productId, 17), "A rather long dis");
    EXPECT_EQ(Text(list.cd[1].productId, 17), "short");
    EXPECT_EQ(list.cd[0].ha, 1);
    EXPECT_EQ(list.cd[0].tgt, 0);
    EXPECT_EQ(list.cd[1].ha, 1);
    EXPECT_EQ(list.cd[1].tgt, 1);
}

TEST_F(CdDriveInterface, TheImageScriptMakesTheFolderItWritesIntoAndRefusesAFileInTheWay) {
    const auto nested = MakeImage(dir, "new/folder/Disc", {75});
    UseImages({nested});
    EXPECT_EQ(Text(DriveList().cd[0].productId, 17), "Disc");

    dir.WriteText("taken", "a file where a folder should go");
    try {
        MakeImage(dir, "taken/Disc", {75});
        ADD_FAILURE() << "the script succeeded";
    } catch (const std::runtime_error& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("make-disc-image: cannot create " + dir.File("taken")),
                  std::string::npos)
            << message;
        EXPECT_EQ(message.find("Traceback"), std::string::npos) << message;
    }
}

TEST_F(CdDriveInterface, DriveListHonoursTheCallersCapacity) {
    const auto a = MakeImage(dir, "a", {75});
    const auto b = MakeImage(dir, "b", {75});
    UseImages({a, b});
    TCDList list{};
    list.max = 1;
    GetCDList(list);
    EXPECT_EQ(list.num, 1);
    EXPECT_EQ(list.cd[1].ha, 0); // untouched
}

TEST_F(CdDriveInterface, TocGivesMinuteSecondFrameFromTwoSecondsOnWithTheLeadOut) {
    UseImages({MakeImage(dir, "disc", {900, 1503, 2250})});
    const HCDROM h = OpenDrive(0);
    ASSERT_GT(h, 0);
    ASSERT_EQ(ModifyCDParms(h, CDP_MSF_ADDRESSES, 1), 1);
    TTOC toc{};
    ASSERT_EQ(ReadTOC(h, toc), 1);

    EXPECT_EQ(toc.firstTrack, 1);
    EXPECT_EQ(toc.lastTrack, 3);
    EXPECT_EQ((toc.tocLen[0] << 8) | toc.tocLen[1], 2 + 8 * 4);
    EXPECT_EQ(toc.tracks[0].addr[1], 0);
    EXPECT_EQ(toc.tracks[0].addr[2], 2);
    EXPECT_EQ(toc.tracks[0].addr[3], 0);
    // Track 3 starts at frame 150 + 900 + 1503 = 2553 = 00:34:03.
    EXPECT_EQ(toc.tracks[2].addr[1], 0);
    EXPECT_EQ(toc.tracks[2].addr[2], 34);
    EXPECT_EQ(toc.tracks[2].addr[3], 3);
    EXPECT_EQ(toc.tracks[3].trackNumber, 0xAA);
    EXPECT_EQ(FramesOf(toc.tracks[3]), 150 + 900 + 1503 + 2250);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(toc.tracks[k].trackNumber, k + 1);
        EXPECT_EQ(toc.tracks[k].adr & 0x04, 0) << "audio track " << k + 1;
    }
    // The track arithmetic of the callers: start relative to entry 0, length to the next.
    EXPECT_EQ(FramesOf(toc.tracks[1]) - FramesOf(toc.tracks[0]), 900);
    EXPECT_EQ(FramesOf(toc.tracks[2]) - FramesOf(toc.tracks[1]), 1503);
    EXPECT_EQ(FramesOf(toc.tracks[3]) - FramesOf(toc.tracks[2]), 2250);
}

TEST_F(CdDriveInterface, TocAddressesAreBlockNumbersUntilMinuteSecondFrameIsChosen) {
    UseImages({MakeImage(dir, "disc", {900, 1503})});
    const HCDROM h = OpenDrive(0);
    ASSERT_GT(h, 0);
    TTOC toc{};
    ASSERT_EQ(ReadTOC(h, toc), 1);
    const auto be32 = [](const TTOCEntry& e) {
        return (e.addr[0] << 24) | (e.addr[1] << 16) | (e.addr[2] << 8) | e.addr[3];
    };
    EXPECT_EQ(be32(toc.tracks[0]), 0);
    EXPECT_EQ(be32(toc.tracks[1]), 900);
    EXPECT_EQ(be32(toc.tracks[2]), 2403);
    ASSERT_EQ(ModifyCDParms(h, CDP_MSF_ADDRESSES, 1), 1);
    ASSERT_EQ(ReadTOC(h, toc), 1);
    EXPECT_EQ(FramesOf(toc.tracks[1]), 1050);
    EXPECT_EQ(ModifyCDParms(h, 99, 1), 0);
    EXPECT_EQ(GetAspiLibError(), ALERR_NOTSUPPORTED);
}

TEST_F(CdDriveInterface, RawReadsReturnTheImagesBytesAtThatFrame) {
    const auto cue = MakeImage(dir, "disc", {40, 33, 25});
    UseImages({cue});
    const auto image = cdtest::ReadAll(dir.File("disc.bin"));
    ASSERT_EQ(image.size(), 98u * 2352);
    const HCDROM h = OpenDrive(0);
    ASSERT_GT(h, 0);

    // Ten frames across the boundary of tracks 1 and 2, then the last frame of the disc.
    for (std::uint32_t first : {35u, 0u, 97u}) {
        const std::uint32_t n = first == 97 ? 1 : 10;
        Buffer b(static_cast<std::int32_t>(first), n, 10);
        ASSERT_EQ(ReadCDAudioLBA(h, *b.buf), 1) << "frame " << first;
        EXPECT_EQ(b.buf->len, n * 2352);
        EXPECT_EQ(b.buf->startOffset, 0);
        const std::vector<std::uint8_t> expected(image.begin() + first * 2352,
                                                 image.begin() + (first + n) * 2352);
        EXPECT_EQ(b.Data(), expected) << "frame " << first;
    }
    // And the generator wrote what its formula says: frame 2 of track 2 is disc frame 42.
    Buffer b(42, 1, 1);
    ASSERT_EQ(ReadCDAudioLBA(h, *b.buf), 1);
    EXPECT_EQ(b.Data(), cdtest::PatternFrame(2, 2));
}

// Track 1 starts 30 frames into the disc: negative frames address the audio before it, from
// the disc's first sector on; what lies after track 1's start reads as before.
TEST_F(CdDriveInterface, NegativeFramesReadTheAudioBeforeTrackOneAndNoFurther) {
    UseImages({MakeImage(dir, "htoa", {40, 20}, "--pregaps 30 5")});
    const auto image = cdtest::ReadAll(dir.File("htoa.bin"));
    const HCDROM h = OpenDrive(0);
    ASSERT_GT(h, 0);
    struct Case {
        std::int32_t first;
        std::uint32_t frames;
        bool reads;
    };
    for (const Case c :
         {Case{-30, 10, true}, Case{-5, 10, true}, Case{-1, 1, true}, Case{0, 10, true},
          Case{-31, 1, false}, Case{-40, 20, false}, Case{64, 1, true}, Case{64, 2, false}}) {
        Buffer b(c.first, c.frames, c.frames);
        ASSERT_EQ(ReadCDAudioLBA(h, *b.buf), c.reads ? 1 : 0) << c.first;
        if (c.reads) {
            const auto at = static_cast<std::size_t>(30 + c.first) * 2352;
            EXPECT_EQ(b.Data(), std::vector<std::uint8_t>(image.begin() + static_cast<long>(at),
                                                          image.begin() + static_cast<long>(at) +
                                                              c.frames * 2352))
                << c.first;
        }
    }
    // The pregap holds track 1's pattern counted backwards from its INDEX 01.
    Buffer last(-1, 1, 1);
    ASSERT_EQ(ReadCDAudioLBA(h, *last.buf), 1);
    EXPECT_EQ(last.Data(), cdtest::PatternFrame(1, -1));
}

TEST_F(CdDriveInterface, ACdrdaoTocImageReadsLikeTheCueSheetOfTheSameBinary) {
    const auto cue = MakeImage(dir, "disc", {40, 33}, "--toc");
    UseImages({cue, dir.File("disc.toc")});
    const auto image = cdtest::ReadAll(dir.File("disc.bin"));
    ASSERT_EQ(CDDriveCount(), 2);
    const HCDROM h = OpenDrive(1);
    ASSERT_GT(h, 0);
    ASSERT_EQ(ModifyCDParms(h, CDP_MSF_ADDRESSES, 1), 1);
    TTOC toc{};
    ASSERT_EQ(ReadTOC(h, toc), 1);
    EXPECT_EQ(toc.lastTrack, 2);
    EXPECT_EQ(FramesOf(toc.tracks[0]), 150);
    EXPECT_EQ(FramesOf(toc.tracks[1]), 190);
    EXPECT_EQ(FramesOf(toc.tracks[2]), 223);
    Buffer b(38, 4, 4);
    ASSERT_EQ(ReadCDAudioLBA(h, *b.buf), 1);
    EXPECT_EQ(b.Data(),
              std::vector<std::uint8_t>(image.begin() + 38 * 2352, image.begin() + 42 * 2352));
    std::uint32_t viaCue = 0;
    std::uint32_t viaToc = 0;
    ASSERT_TRUE(DiscIdOfDrive(0, viaCue));
    ASSERT_TRUE(DiscIdOfDrive(1, viaToc));
    EXPECT_EQ(viaCue, viaToc);
}

TEST_F(CdDriveInterface, ReadsPastTheLeadOutOrIntoASmallBufferFail) {
    UseImages({MakeImage(dir, "disc", {20})});
    const HCDROM h = OpenDrive(0);
    ASSERT_GT(h, 0);
    Buffer past(15, 10, 10);
    EXPECT_EQ(ReadCDAudioLBA(h, *past.buf), 0);
    EXPECT_EQ(GetAspiLibError(), ALERR_READ);
    EXPECT_EQ(past.buf->len, 0u);

    Buffer small(0, 10, 9);
    EXPECT_EQ(ReadCDAudioLBA(h, *small.buf), 0);
    EXPECT_EQ(GetAspiLibError(), ALERR_BUFTOOSMALL);

    Buffer fine(10, 10, 10);
    EXPECT_EQ(ReadCDAudioLBA(h, *fine.buf), 1);
    EXPECT_EQ(GetAspiLibError(), ALERR_NOERROR);
}

TEST_F(CdDriveInterface, DataTracksCarryTheDataControlBitAndADataFirstDiscIsNoAudioCD) {
    const auto dataFirst = MakeImage(dir, "datafirst", {30, 40, 50}, "--data-track-first");
    const auto dataLast = MakeImage(dir, "datalast", {30, 40, 50}, "--data-track-last");
    UseImages({dataFirst, dataLast});
    EXPECT_FALSE(IsAudioCDInDrive(0));
    EXPECT_TRUE(IsAudioCDInDrive(1));
    EXPECT_FALSE(IsAudioCDInDrive(2));

    const HCDROM h = OpenDrive(1);
    ASSERT_GT(h, 0);
    ModifyCDParms(h, CDP_MSF_ADDRESSES, 1);
    TTOC toc{};
    ASSERT_EQ(ReadTOC(h, toc), 1);
    EXPECT_EQ(toc.tracks[0].adr & 0x04, 0);
    EXPECT_EQ(toc.tracks[1].adr & 0x04, 0);
    EXPECT_EQ(toc.tracks[2].adr & 0x04, 0x04);
    EXPECT_EQ(FramesOf(toc.tracks[3]), 150 + 120);
}

TEST_F(CdDriveInterface, DiscIdIsTheFreedbIdOfTheTableOfContents) {
    // Tracks start at LBA 150, 1050, 2553 (2 s, 14 s, 34 s: digit sums 2 + 5 + 7 = 14);
    // lead-out at 4803 (64 s), playing time 64 - 2 = 62 s = 0x3E; three tracks.
    UseImages({MakeImage(dir, "disc", {900, 1503, 2250})});
    std::uint32_t id = 0;
    ASSERT_TRUE(DiscIdOfDrive(0, id));
    EXPECT_EQ(id, 0x0E003E03u);

    const HCDROM h = OpenDrive(0);
    ASSERT_GT(h, 0);
    std::uint32_t viaHandle = 0;
    ASSERT_TRUE(DiscIdOfHandle(h, viaHandle));
    EXPECT_EQ(viaHandle, id);
    EXPECT_FALSE(DiscIdOfDrive(1, id));
}

TEST_F(CdDriveInterface, InvalidHandlesAreRefusedWithTheInvalidHandleCode) {
    UseImages({MakeImage(dir, "disc", {20})});
    TTOC toc{};
    Buffer b(0, 1, 1);
    for (HCDROM h : {0, -1, 17, 5}) {
        EXPECT_EQ(CloseCDHandle(h), 0);
        EXPECT_EQ(ModifyCDParms(h, CDP_MSF_ADDRESSES, 1), 0);
        EXPECT_EQ(ReadTOC(h, toc), 0);
        EXPECT_EQ(GetAspiLibError(), ALERR_INVHANDLE);
        EXPECT_EQ(ReadCDAudioLBA(h, *b.buf), 0);
        EXPECT_EQ(GetAspiLibError(), ALERR_INVHANDLE);
    }
    const HCDROM h = OpenDrive(0);
    ASSERT_GT(h, 0);
    EXPECT_NE(CloseCDHandle(h), 0);
    EXPECT_EQ(CloseCDHandle(h), 0);
    EXPECT_EQ(ReadTOC(h, toc), 0);
    EXPECT_EQ(GetAspiLibError(), ALERR_INVHANDLE);
}

TEST_F(CdDriveInterface, HandlesAreSmallNumbersReusedAfterCloseAndLimitedInCount) {
    UseImages({MakeImage(dir, "disc", {20})});
    std::vector<HCDROM> open;
    for (int i = 0; i < 16; ++i) {
        open.push_back(OpenDrive(0));
        EXPECT_EQ(open.back(), i + 1);
    }
    EXPECT_EQ(OpenDrive(0), 0);
    EXPECT_EQ(GetAspiLibError(), ALERR_NOMEM);
    // What the main window does when no handle is left: close one, then ask again.
    EXPECT_NE(CloseCDHandle(3), 0);
    EXPECT_EQ(OpenDrive(0), 3);
}

TEST_F(CdDriveInterface, ACorruptImageIsListedButCannotBeOpened) {
    dir.WriteText("garbage.cue", "FILE \"nowhere.bin\" BINARY\n  TRACK xx BROKEN\n");
    dir.WriteText("garbage.nrg", std::string(3000, '\x5a'));
    UseImages({dir.File("garbage.cue"), dir.File("garbage.nrg")});
    ASSERT_EQ(CDDriveCount(), 2);
    TCDList list = DriveList();
    EXPECT_EQ(OpenEntry(list.cd[0]), 0);
    EXPECT_EQ(GetAspiLibError(), ALERR_NODEVICE);
    EXPECT_EQ(OpenEntry(list.cd[1]), 0);
    EXPECT_FALSE(IsAudioCDInDrive(0));
    std::uint32_t id = 0;
    EXPECT_FALSE(DiscIdOfDrive(1, id));
}

TEST_F(CdDriveInterface, AnImageWhoseBinaryVanishedFailsToReadInsteadOfCrashing) {
    const auto cue = MakeImage(dir, "disc", {20});
    UseImages({cue});
    const HCDROM h = OpenDrive(0);
    ASSERT_GT(h, 0);
    // Truncate the BIN under the open handle: the reads must fail, not return garbage.
    dir.WriteText("disc.bin", "");
    Buffer b(0, 10, 10);
    EXPECT_EQ(ReadCDAudioLBA(h, *b.buf), 0);
    EXPECT_EQ(GetAspiLibError(), ALERR_READ);
}

TEST_F(CdDriveInterface, ARequestForAnUnknownDriveGetsNoHandle) {
    UseImages({MakeImage(dir, "disc", {20})});
    TCDEntry entry{};
    entry.ha = 1;
    entry.tgt = 7;
    EXPECT_EQ(OpenEntry(entry), 0);
    EXPECT_EQ(GetAspiLibError(), ALERR_NODEVICE);
    EXPECT_FALSE(SetDoorOpen(true)); // no tray among disc images
}

TEST_F(CdDriveInterface, TwoThreadsReadingTwoHandlesGetTheirOwnFrames) {
    const auto cue = MakeImage(dir, "disc", {200, 200});
    UseImages({cue});
    const auto image = cdtest::ReadAll(dir.File("disc.bin"));
    const HCDROM a = OpenDrive(0);
    const HCDROM b = OpenDrive(0);
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    auto reader = [&](HCDROM h, std::uint32_t from, int& mismatches) {
        for (std::uint32_t f = from; f < from + 200; f += 10) {
            Buffer buf(static_cast<std::int32_t>(f), 10, 10);
            const std::vector<std::uint8_t> expected(image.begin() + f * 2352,
                                                     image.begin() + (f + 10) * 2352);
            if (ReadCDAudioLBA(h, *buf.buf) != 1 || buf.Data() != expected) {
                ++mismatches;
            }
        }
    };
    int badA = 0;
    int badB = 0;
    std::thread ta(reader, a, 0u, std::ref(badA));
    std::thread tb(reader, b, 200u, std::ref(badB));
    ta.join();
    tb.join();
    EXPECT_EQ(badA, 0);
    EXPECT_EQ(badB, 0);
}

} // namespace

namespace {

TEST_F(CdDriveInterface, AnImageShorterThanItsCueSheetListsOnlyTheTracksItHolds) {
    const struct {
        std::uintmax_t frames; // the BIN is cut to this many frames
        int lastTrack;
        bool notice;
    } cases[] = {{300, 3, false}, {250, 3, false}, {150, 2, true}, {100, 1, true}, {60, 1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frames);
        const auto cue = MakeImage(dir, "cut", {100, 100, 100});
        std::filesystem::resize_file(dir.File("cut.bin"), c.frames * CDFrameBytes);
        UseImages({cue});
        const HCDROM h = OpenDrive(0);
        ASSERT_GT(h, 0);
        ModifyCDParms(h, CDP_MSF_ADDRESSES, 1);
        TTOC toc{};
        ASSERT_EQ(ReadTOC(h, toc), 1);
        EXPECT_EQ(toc.lastTrack, c.lastTrack);
        EXPECT_EQ(FramesOf(toc.tracks[c.lastTrack]), 150 + static_cast<int>(c.frames))
            << "the lead-out is where the data ends";
        for (int t = 0; t < c.lastTrack; ++t) {
            EXPECT_LT(FramesOf(toc.tracks[t]), FramesOf(toc.tracks[t + 1]));
        }
        const std::string notice = DiscNotice(h);
        if (c.notice) {
            EXPECT_EQ(notice,
                      "The disc image \"" + cue + "\" ends before its last " +
                          (c.lastTrack == 2 ? std::string("track") : std::string("2 tracks")) +
                          ": only tracks 1 to " + std::to_string(c.lastTrack) + " are listed.");
        } else {
            EXPECT_EQ(notice, "");
        }
        CloseCDHandle(h);
    }
}

TEST_F(CdDriveInterface, AnImageThatCannotBeOpenedIsNamedWithTheReason) {
    MakeImage(dir, "nobin", {75});
    std::filesystem::remove(dir.File("nobin.bin"));
    dir.WriteText("junk.cue", "REM nothing here\n");
    const struct {
        std::string image;
        std::string problem;
    } cases[] = {
        {dir.File("nobin.cue"), "The disc image \"" + dir.File("nobin.cue") +
                                    "\" cannot be read: its data file \"nobin.bin\" is missing."},
        {dir.File("junk.cue"), "The disc image \"" + dir.File("junk.cue") +
                                   "\" cannot be read: it is not a valid cue sheet."},
    };
    for (const auto& c : cases) {
        UseImages({c.image, MakeImage(dir, "good", {75})});
        EXPECT_EQ(OpenDrive(0), 0);
        EXPECT_EQ(LastOpenProblem(), c.problem);
        const HCDROM good = OpenDrive(1);
        EXPECT_GT(good, 0);
        EXPECT_EQ(LastOpenProblem(), "") << "a success clears it";
        CloseCDHandle(good);
    }
}

} // namespace
